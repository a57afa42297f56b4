#include "bridge_core/entry_record.h"

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <cmath>
#include <cstdint>
#include <limits>

#include "bridge_core/json_writer.h"

namespace quenra {
namespace {

std::optional<std::int64_t> integerField(const boost::json::object& object, std::string_view key) {
    const boost::json::value* value = object.if_contains(key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_int64()) {
        return value->get_int64();
    }
    if (value->is_uint64() &&
        value->get_uint64() <=
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(value->get_uint64());
    }
    return std::nullopt;
}

// Times are written as the shortest text that reads back, so a whole second comes back as an
// integer: any JSON number is a time.
std::optional<double> numberField(const boost::json::value* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_double()) {
        // A decimal past the double range (1e999) reads as infinity: no record is written with
        // one, and a prepared entry touched "at infinity" would never expire. Such a record is
        // unreadable, and so expires by its directory's age like any other damaged record.
        const double number = value->get_double();
        if (!std::isfinite(number)) {
            return std::nullopt;
        }
        return number;
    }
    if (value->is_int64()) {
        return static_cast<double>(value->get_int64());
    }
    if (value->is_uint64()) {
        return static_cast<double>(value->get_uint64());
    }
    return std::nullopt;
}

std::optional<std::string> stringField(const boost::json::object& object, std::string_view key) {
    const boost::json::value* value = object.if_contains(key);
    if (value == nullptr || !value->is_string()) {
        return std::nullopt;
    }
    return std::string(value->get_string());
}

}  // namespace

std::string_view rawValue(EntryState state) {
    switch (state) {
        case EntryState::prepared:
            return "prepared";
        case EntryState::armed:
            return "armed";
        case EntryState::published:
            return "published";
    }
    return "prepared";
}

std::optional<EntryState> entryStateFromRaw(std::string_view raw) {
    for (const EntryState state :
         {EntryState::prepared, EntryState::armed, EntryState::published}) {
        if (raw == rawValue(state)) {
            return state;
        }
    }
    return std::nullopt;
}

std::optional<std::string> EntryRecord::encode() const {
    boost::json::object object;
    object["version"] = version;
    object["preparedId"] = preparedId;
    object["state"] = rawValue(state);
    object["fileName"] = fileName;
    object["byteLength"] = byteLength;
    object["sha256"] = sha256;
    object["createdAt"] = createdAt;
    object["touchedAt"] = touchedAt;
    if (retainUntil) {
        object["retainUntil"] = *retainUntil;
    }
    if (format) {
        object["format"] = *format;
    }
    return JsonWriter::write(object);
}

std::optional<EntryRecord> EntryRecord::decode(std::string_view json) {
    // Every create and sweep decodes every record: a record-sized arena spares the heap, and
    // a larger (hostile) record simply spills over into it.
    unsigned char arena[4096];
    boost::json::monotonic_resource resource(arena, sizeof arena);
    boost::system::error_code error;
    const boost::json::value parsed = boost::json::parse(json, error, &resource);
    if (error || !parsed.is_object()) {
        return std::nullopt;
    }
    const boost::json::object& object = parsed.get_object();
    const auto version = integerField(object, "version");
    const auto preparedId = stringField(object, "preparedId");
    const auto stateText = stringField(object, "state");
    const auto fileName = stringField(object, "fileName");
    const auto byteLength = integerField(object, "byteLength");
    const auto sha256 = stringField(object, "sha256");
    const auto createdAt = numberField(object.if_contains("createdAt"));
    const auto touchedAt = numberField(object.if_contains("touchedAt"));
    if (!version || !preparedId || !stateText || !fileName || !byteLength || !sha256 ||
        !createdAt || !touchedAt) {
        return std::nullopt;
    }
    const auto state = entryStateFromRaw(*stateText);
    if (!state) {
        return std::nullopt;
    }
    EntryRecord record;
    const boost::json::value* retainUntil = object.if_contains("retainUntil");
    if (retainUntil != nullptr && !retainUntil->is_null()) {
        record.retainUntil = numberField(retainUntil);
        if (!record.retainUntil) {
            return std::nullopt;
        }
    }
    if (const boost::json::value* format = object.if_contains("format")) {
        if (!format->is_string()) {
            return std::nullopt;
        }
        record.format = std::string(format->get_string());
    }
    record.version = *version;
    record.preparedId = *preparedId;
    record.state = *state;
    record.fileName = *fileName;
    record.byteLength = *byteLength;
    record.sha256 = *sha256;
    record.createdAt = *createdAt;
    record.touchedAt = *touchedAt;
    return record;
}

std::optional<EntryRecord> EntryRecord::decode(std::span<const std::uint8_t> json) {
    return decode(std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
}

}  // namespace quenra
