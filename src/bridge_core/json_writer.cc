#include "bridge_core/json_writer.h"

#include <algorithm>
#include <boost/json/object.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "bridge_core/hex.h"

namespace quenra {
namespace {

// Writes a non-negative number below 10^12 that is a whole number of thousandths, such as a
// stored time, from its count of thousandths, and returns false for any other number. A
// decimal of at most 15 significant digits reads back as a double that no other such decimal
// reads back as, so its own digits, trailing zeros dropped, are the shortest text of that
// double: exactly what std::to_chars writes, which finds them by a general routine whose first
// use costs each process three cold pages of code and tables.
bool appendThousandths(std::string& out, double number) {
    if (!(number >= 0 && number < 1e12) || std::signbit(number)) {
        return false;
    }
    // The product is within a quarter of the count, so the count is the truncation or one more.
    auto count = static_cast<std::int64_t>(number * 1000);
    if (static_cast<double>(count) / 1000 != number) {
        ++count;
        if (static_cast<double>(count) / 1000 != number) {
            return false;
        }
    }
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, count / 1000).ptr;
    const auto wholeLength = static_cast<int>(end - digits);
    const auto fraction = static_cast<int>(count % 1000);
    if (fraction == 0 && count >= 1000) {
        // A whole number: std::to_chars takes the scientific form ("1e+05") when it is
        // shorter, which only a long run of trailing zeros makes it.
        int significant = wholeLength;
        while (digits[significant - 1] == '0') {
            --significant;
        }
        const int scientificLength = significant + (significant > 1 ? 1 : 0) + 4;
        if (scientificLength < wholeLength) {
            return false;
        }
    }
    out.append(digits, end);
    if (fraction != 0) {
        const char tail[] = {'.', static_cast<char>('0' + fraction / 100),
                             static_cast<char>('0' + fraction / 10 % 10),
                             static_cast<char>('0' + fraction % 10)};
        std::size_t length = sizeof tail;
        while (tail[length - 1] == '0') {
            --length;
        }
        out.append(tail, length);
    }
    return true;
}

class Writer {
  public:
    Writer(std::string& out, JsonWriter::Style style) : out_(out), style_(style) {}

    bool value(const boost::json::value& value, int depth) {
        switch (value.kind()) {
            case boost::json::kind::null:
                out_.append("null");
                return true;
            case boost::json::kind::bool_:
                out_.append(value.get_bool() ? "true" : "false");
                return true;
            case boost::json::kind::int64:
                number(value.get_int64());
                return true;
            case boost::json::kind::uint64:
                number(value.get_uint64());
                return true;
            case boost::json::kind::double_:
                return real(value.get_double());
            case boost::json::kind::string:
                string(value.get_string());
                return true;
            case boost::json::kind::array:
                return array(value.get_array(), depth);
            case boost::json::kind::object:
                return object(value.get_object(), depth);
        }
        return false;
    }

  private:
    template <typename Integer>
    void number(Integer number) {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
        out_.append(buffer, result.ptr);
    }

    bool real(double number) {
        if (!std::isfinite(number)) {
            return false;
        }
        if (appendThousandths(out_, number)) {
            return true;
        }
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
        out_.append(buffer, result.ptr);
        return true;
    }

    void string(std::string_view text) {
        out_.push_back('"');
        std::string unicode;
        std::size_t runStart = 0;
        for (std::size_t index = 0; index < text.size(); ++index) {
            const auto byte = static_cast<unsigned char>(text[index]);
            const char* escape = nullptr;
            switch (byte) {
                case '"':
                    escape = "\\\"";
                    break;
                case '\\':
                    escape = "\\\\";
                    break;
                case '\b':
                    escape = "\\b";
                    break;
                case '\f':
                    escape = "\\f";
                    break;
                case '\n':
                    escape = "\\n";
                    break;
                case '\r':
                    escape = "\\r";
                    break;
                case '\t':
                    escape = "\\t";
                    break;
                case '/':
                    if (style_.escapeSlashes) {
                        escape = "\\/";
                    }
                    break;
                default:
                    if (byte < 0x20) {
                        unicode.assign("\\u00");
                        Hex::appendByte(unicode, byte);
                        escape = unicode.c_str();
                    }
            }
            if (escape != nullptr) {
                out_.append(text.substr(runStart, index - runStart));
                out_.append(escape);
                runStart = index + 1;
            }
        }
        out_.append(text.substr(runStart));
        out_.push_back('"');
    }

    void newline(int depth) {
        out_.push_back('\n');
        out_.append(static_cast<std::size_t>(depth) * 2, ' ');
    }

    bool array(const boost::json::array& array, int depth) {
        out_.push_back('[');
        bool first = true;
        for (const auto& element : array) {
            if (!first) {
                out_.push_back(',');
            }
            first = false;
            if (style_.pretty) {
                newline(depth + 1);
            }
            if (!value(element, depth + 1)) {
                return false;
            }
        }
        if (style_.pretty && !array.empty()) {
            newline(depth);
        }
        out_.push_back(']');
        return true;
    }

    bool object(const boost::json::object& object, int depth) {
        std::vector<const boost::json::key_value_pair*> members;
        members.reserve(object.size());
        for (const auto& member : object) {
            members.push_back(&member);
        }
        // Byte order, which std::string_view's comparison gives for UTF-8 keys.
        std::sort(members.begin(), members.end(),
                  [](const auto* left, const auto* right) { return left->key() < right->key(); });
        out_.push_back('{');
        bool first = true;
        for (const auto* member : members) {
            if (!first) {
                out_.push_back(',');
            }
            first = false;
            if (style_.pretty) {
                newline(depth + 1);
            }
            string(member->key());
            out_.append(style_.pretty ? " : " : ":");
            if (!value(member->value(), depth + 1)) {
                return false;
            }
        }
        if (style_.pretty && !members.empty()) {
            newline(depth);
        }
        out_.push_back('}');
        return true;
    }

    std::string& out_;
    JsonWriter::Style style_;
};

}  // namespace

std::optional<std::string> JsonWriter::write(const boost::json::value& value, Style style) {
    std::string out;
    Writer writer(out, style);
    if (!writer.value(value, 0)) {
        return std::nullopt;
    }
    return out;
}

}  // namespace quenra
