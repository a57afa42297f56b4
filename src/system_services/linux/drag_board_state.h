// The contents of the Linux drag board as one value: its change count, its items with their
// typed values, and its own type list, changed by the same rules as the macOS pasteboard
// (declaring types or clearing moves the count; storing a value for a declared type does not),
// and its JSON form on disk.
#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenra {

struct PasteboardEntry {
    std::string type;
    std::optional<std::string> string;
    std::optional<boost::json::value> propertyList;

    bool operator==(const PasteboardEntry&) const = default;
};

struct DragBoardState {
    std::int64_t changeCount = 0;
    std::vector<std::vector<PasteboardEntry>> items;
    std::vector<std::string> types;  // the board's own list

    bool operator==(const DragBoardState&) const = default;

    // Replaces everything with one item holding types (each once, first place kept) and no
    // values; one change. Returns the new count.
    std::int64_t declareTypes(const std::vector<std::string>& newTypes);
    // Empties the board; one change. Returns the new count.
    std::int64_t clearContents();
    // Stores a value for a type the board declares; false (and nothing stored) for any other
    // type, or for text that is not valid UTF-8. Never a change.
    bool setString(std::string_view type, std::string_view text);
    bool setPropertyList(std::string_view type, const boost::json::value& list);
    // Adds an item holding one string after the others, as writing one more object does; false
    // (and nothing added) for text that is not valid UTF-8. Never a change.
    bool appendItem(std::string_view type, std::string_view text);

    // Each item's types in item order, then the board's own list; each name once.
    std::vector<std::string> allTypes() const;
    // The first item's value for the type that has one.
    std::optional<std::string> string(std::string_view type) const;
    // Every item's string value for the type, in item order.
    std::vector<std::string> strings(std::string_view type) const;
    const boost::json::value* propertyList(std::string_view type) const;

    // Compact JSON with sorted keys. Nothing when a value cannot be written as JSON.
    std::optional<std::string> encode() const;
    // Nothing for anything but a well-formed state: the caller decides what that means.
    static std::optional<DragBoardState> decode(std::string_view json);
};

}  // namespace quenra
