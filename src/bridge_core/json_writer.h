// The one JSON writer of both programs: keys of every object in ascending byte order at every
// depth, UTF-8 written raw, integers as integers. Compact by default; the manifest uses the
// pretty form and the setup status line escapes forward slashes.
#pragma once

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <optional>
#include <string>

namespace quenra::JsonWriter {

struct Style {
    bool pretty = false;         // two-space indentation, " : " between key and value
    bool escapeSlashes = false;  // "/" written as "\/"
};

// Nothing when the value holds something JSON cannot represent (an infinite or NaN number).
std::optional<std::string> write(const boost::json::value& value, Style style = {});

// The same for an object, without first copying it into a value.
std::optional<std::string> write(const boost::json::object& object, Style style = {});

}  // namespace quenra::JsonWriter
