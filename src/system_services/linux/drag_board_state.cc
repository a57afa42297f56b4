#include "system_services/linux/drag_board_state.h"

#include <algorithm>
#include <boost/json/parse.hpp>
#include <limits>

#include "bridge_core/json_writer.h"
#include "bridge_core/utf8.h"

namespace quenra {
namespace {

// Every string in a property list, keys included, must survive as JSON text.
bool holdsOnlyValidText(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::string:
            return UTF8::isValid(value.get_string());
        case boost::json::kind::array:
            return std::all_of(value.get_array().begin(), value.get_array().end(),
                               holdsOnlyValidText);
        case boost::json::kind::object:
            return std::all_of(value.get_object().begin(), value.get_object().end(),
                               [](const boost::json::key_value_pair& member) {
                                   return UTF8::isValid(member.key()) &&
                                          holdsOnlyValidText(member.value());
                               });
        default:
            return true;
    }
}

void appendOnce(std::vector<std::string>& list, const std::string& name) {
    if (std::find(list.begin(), list.end(), name) == list.end()) {
        list.push_back(name);
    }
}

std::int64_t nextCount(std::int64_t count) {
    return count == std::numeric_limits<std::int64_t>::max() ? 1 : count + 1;
}

std::optional<PasteboardEntry> decodeEntry(const boost::json::value& value) {
    const auto* object = value.if_object();
    if (object == nullptr) {
        return std::nullopt;
    }
    const auto* type = object->if_contains("type");
    if (type == nullptr || !type->is_string()) {
        return std::nullopt;
    }
    PasteboardEntry entry{std::string(type->get_string()), std::nullopt, std::nullopt};
    if (const auto* string = object->if_contains("string")) {
        if (!string->is_string()) {
            return std::nullopt;
        }
        entry.string = std::string(string->get_string());
    }
    if (const auto* list = object->if_contains("propertyList")) {
        entry.propertyList = *list;
    }
    return entry;
}

}  // namespace

std::int64_t DragBoardState::declareTypes(const std::vector<std::string>& newTypes) {
    items.clear();
    types.clear();
    std::vector<PasteboardEntry> item;
    for (const std::string& type : newTypes) {
        if (std::find(types.begin(), types.end(), type) == types.end()) {
            types.push_back(type);
            item.push_back(PasteboardEntry{type, std::nullopt, std::nullopt});
        }
    }
    if (!item.empty()) {
        items.push_back(std::move(item));
    }
    changeCount = nextCount(changeCount);
    return changeCount;
}

std::int64_t DragBoardState::clearContents() {
    items.clear();
    types.clear();
    changeCount = nextCount(changeCount);
    return changeCount;
}

bool DragBoardState::setString(std::string_view type, std::string_view text) {
    if (!UTF8::isValid(text)) {
        return false;
    }
    for (auto& item : items) {
        for (PasteboardEntry& entry : item) {
            if (entry.type == type) {
                entry.string = std::string(text);
                entry.propertyList.reset();
                return true;
            }
        }
    }
    return false;
}

bool DragBoardState::setPropertyList(std::string_view type, const boost::json::value& list) {
    if (!holdsOnlyValidText(list)) {
        return false;
    }
    for (auto& item : items) {
        for (PasteboardEntry& entry : item) {
            if (entry.type == type) {
                entry.propertyList = list;
                entry.string.reset();
                return true;
            }
        }
    }
    return false;
}

bool DragBoardState::appendItem(std::string_view type, std::string_view text) {
    if (!UTF8::isValid(text)) {
        return false;
    }
    items.push_back({PasteboardEntry{std::string(type), std::string(text), std::nullopt}});
    return true;
}

std::vector<std::string> DragBoardState::allTypes() const {
    std::vector<std::string> all;
    for (const auto& item : items) {
        for (const PasteboardEntry& entry : item) {
            appendOnce(all, entry.type);
        }
    }
    for (const std::string& type : types) {
        appendOnce(all, type);
    }
    return all;
}

std::optional<std::string> DragBoardState::string(std::string_view type) const {
    for (const auto& item : items) {
        for (const PasteboardEntry& entry : item) {
            if (entry.type == type && entry.string) {
                return entry.string;
            }
        }
    }
    return std::nullopt;
}

std::vector<std::string> DragBoardState::strings(std::string_view type) const {
    std::vector<std::string> values;
    for (const auto& item : items) {
        for (const PasteboardEntry& entry : item) {
            if (entry.type == type && entry.string) {
                values.push_back(*entry.string);
            }
        }
    }
    return values;
}

const boost::json::value* DragBoardState::propertyList(std::string_view type) const {
    for (const auto& item : items) {
        for (const PasteboardEntry& entry : item) {
            if (entry.type == type && entry.propertyList) {
                return &*entry.propertyList;
            }
        }
    }
    return nullptr;
}

std::optional<std::string> DragBoardState::encode() const {
    boost::json::array itemList;
    for (const auto& item : items) {
        boost::json::array entries;
        for (const PasteboardEntry& entry : item) {
            boost::json::object object;
            object["type"] = entry.type;
            if (entry.string) {
                object["string"] = *entry.string;
            }
            if (entry.propertyList) {
                object["propertyList"] = *entry.propertyList;
            }
            entries.push_back(std::move(object));
        }
        itemList.push_back(std::move(entries));
    }
    boost::json::array typeList;
    for (const std::string& type : types) {
        typeList.push_back(boost::json::string(type));
    }
    boost::json::object state;
    state["changeCount"] = changeCount;
    state["items"] = std::move(itemList);
    state["types"] = std::move(typeList);
    return JsonWriter::write(state);
}

std::optional<DragBoardState> DragBoardState::decode(std::string_view json) {
    boost::system::error_code error;
    const boost::json::value value = boost::json::parse(json, error);
    const auto* object = error ? nullptr : value.if_object();
    if (object == nullptr) {
        return std::nullopt;
    }
    const auto* count = object->if_contains("changeCount");
    const auto* items = object->if_contains("items");
    const auto* types = object->if_contains("types");
    if (count == nullptr || !count->is_int64() || count->get_int64() < 0 || items == nullptr ||
        !items->is_array() || types == nullptr || !types->is_array()) {
        return std::nullopt;
    }
    DragBoardState state;
    state.changeCount = count->get_int64();
    for (const boost::json::value& itemValue : items->get_array()) {
        if (!itemValue.is_array()) {
            return std::nullopt;
        }
        std::vector<PasteboardEntry> item;
        for (const boost::json::value& entryValue : itemValue.get_array()) {
            auto entry = decodeEntry(entryValue);
            if (!entry) {
                return std::nullopt;
            }
            item.push_back(std::move(*entry));
        }
        state.items.push_back(std::move(item));
    }
    for (const boost::json::value& type : types->get_array()) {
        if (!type.is_string()) {
            return std::nullopt;
        }
        state.types.emplace_back(type.get_string());
    }
    return state;
}

}  // namespace quenra
