#include "bridge_core/json_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "bridge_core/hex.h"

namespace quenra {
namespace {

// A positive number as significant digits, no leading or trailing zeros, and the power of ten
// of the first of them.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

// The shortest digits of a positive number below 10^12 that is a whole number of thousandths,
// such as a stored time, read from its count of thousandths; nothing for any other number. A
// decimal of at most 15 significant digits reads back as a double that no other such decimal
// reads back as, so its own digits are the shortest that read back, found without the general
// routine below.
std::optional<Decimal> thousandthsDecimal(double number) {
    if (!(number < 1e12)) {
        return std::nullopt;
    }
    // The product is within a quarter of the count, so the count is the truncation or one more.
    auto count = static_cast<std::int64_t>(number * 1000);
    if (static_cast<double>(count) / 1000 != number) {
        ++count;
        if (static_cast<double>(count) / 1000 != number) {
            return std::nullopt;
        }
    }
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, count).ptr;
    Decimal decimal{std::string(digits, end), static_cast<int>(end - digits) - 4};
    while (decimal.digits.back() == '0') {
        decimal.digits.pop_back();
    }
    return decimal;
}

// The shortest digits that read back as a positive finite number. Boost.JSON finds them by the
// shortest-round-trip method std::to_chars also uses, and writes them as "d.dddE-x";
// std::to_chars itself is not used for this, because the C++ runtime's floating-point
// conversions carry the math library into every program that links them. The text is read as
// any decimal, so another layout of the same digits reads the same.
Decimal shortestDecimal(double number) {
    const std::string text = boost::json::serialize(boost::json::value(number));
    Decimal decimal;
    int point = -1;
    std::size_t index = 0;
    for (; index < text.size() && text[index] != 'e' && text[index] != 'E'; ++index) {
        if (text[index] == '.') {
            point = static_cast<int>(decimal.digits.size());
        } else if (text[index] != '0' || !decimal.digits.empty()) {
            decimal.digits.push_back(text[index]);
        } else if (point >= 0) {
            --decimal.exponent;  // a zero between the point and the first digit
        }
    }
    int written = 0;
    if (index + 1 < text.size()) {
        const char* first = text.data() + index + 1;
        first += *first == '+' ? 1 : 0;
        (void)std::from_chars(first, text.data() + text.size(), written);
    }
    // Digits before the point, less the first, raise the power; leading zeros already lowered it.
    const int leading = point >= 0 ? point : static_cast<int>(decimal.digits.size());
    decimal.exponent += written + leading - 1;
    while (decimal.digits.size() > 1 && decimal.digits.back() == '0') {
        decimal.digits.pop_back();
    }
    return decimal;
}

// The exact decimal digits of a positive whole double: its 53-bit significand doubled as
// often as its exponent says, which is at most 21 times for any number written this way.
void appendWhole(std::string& out, double number) {
    const auto bits = std::bit_cast<std::uint64_t>(number);
    const int shift = static_cast<int>((bits >> 52) & 0x7ff) - 1075;
    if (shift <= 0) {
        char digits[24];
        out.append(
            digits,
            std::to_chars(digits, digits + sizeof digits, static_cast<std::uint64_t>(number)).ptr);
        return;
    }
    const std::uint64_t significand =
        (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    std::string reversed = std::to_string(significand);
    std::reverse(reversed.begin(), reversed.end());
    for (int doubling = 0; doubling < shift; ++doubling) {
        int carry = 0;
        for (char& digit : reversed) {
            const int twice = (digit - '0') * 2 + carry;
            digit = static_cast<char>('0' + twice % 10);
            carry = twice / 10;
        }
        if (carry != 0) {
            reversed.push_back('1');
        }
    }
    out.append(reversed.rbegin(), reversed.rend());
}

// What std::to_chars writes for a finite double: its shortest digits in fixed or scientific
// form, whichever is shorter, fixed on a tie; a whole number in fixed form is written exactly.
void appendReal(std::string& out, double number) {
    if (std::signbit(number)) {
        out.push_back('-');
        number = -number;
    }
    if (number == 0) {
        out.push_back('0');
        return;
    }
    std::optional<Decimal> known = thousandthsDecimal(number);
    const Decimal decimal = known ? std::move(*known) : shortestDecimal(number);
    const auto count = static_cast<int>(decimal.digits.size());
    const int exponent = decimal.exponent;
    const int magnitude = exponent < 0 ? -exponent : exponent;
    const int scientificLength = count + (count > 1 ? 1 : 0) + 2 + (magnitude >= 100 ? 3 : 2);
    const int fixedLength = exponent >= count - 1 ? exponent + 1
                            : exponent >= 0       ? count + 1
                                                  : count + 1 - exponent;
    if (fixedLength <= scientificLength) {
        if (exponent >= count - 1) {
            appendWhole(out, number);
        } else if (exponent >= 0) {
            const auto whole = static_cast<std::size_t>(exponent + 1);
            out.append(decimal.digits, 0, whole).push_back('.');
            out.append(decimal.digits, whole);
        } else {
            out.append("0.").append(static_cast<std::size_t>(-exponent - 1), '0');
            out.append(decimal.digits);
        }
        return;
    }
    out.push_back(decimal.digits[0]);
    if (count > 1) {
        out.push_back('.');
        out.append(decimal.digits, 1);
    }
    out.append(exponent < 0 ? "e-" : "e+");
    if (magnitude < 10) {
        out.push_back('0');
    }
    out.append(std::to_string(magnitude));
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

    bool value(const boost::json::object& object) { return this->object(object, 0); }

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
        appendReal(out_, number);
        return true;
    }

    // Runs of bytes that need no escape are appended whole; only the bytes between them are
    // looked at one by one.
    void string(std::string_view text) {
        out_.push_back('"');
        std::size_t runStart = 0;
        for (std::size_t index = 0; index < text.size(); ++index) {
            const auto byte = static_cast<unsigned char>(text[index]);
            if (!needsLook[byte] || (byte == '/' && !style_.escapeSlashes)) {
                continue;
            }
            out_.append(text.data() + runStart, index - runStart);
            escape(byte);
            runStart = index + 1;
        }
        out_.append(text.data() + runStart, text.size() - runStart);
        out_.push_back('"');
    }

    void escape(unsigned char byte) {
        switch (byte) {
            case '"':
                out_.append("\\\"");
                return;
            case '\\':
                out_.append("\\\\");
                return;
            case '\b':
                out_.append("\\b");
                return;
            case '\f':
                out_.append("\\f");
                return;
            case '\n':
                out_.append("\\n");
                return;
            case '\r':
                out_.append("\\r");
                return;
            case '\t':
                out_.append("\\t");
                return;
            case '/':
                out_.append("\\/");
                return;
            default:
                out_.append("\\u00");
                Hex::appendByte(out_, byte);
        }
    }

    // The control characters, the quote, the backslash, and the slash that one style escapes.
    static constexpr std::array<bool, 256> needsLook = [] {
        std::array<bool, 256> table{};
        for (std::size_t byte = 0; byte < 0x20; ++byte) {
            table[byte] = true;
        }
        table['"'] = table['\\'] = table['/'] = true;
        return table;
    }();

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
        // The members in key order; an object of the usual few members is sorted on the stack.
        using Member = const boost::json::key_value_pair*;
        std::array<Member, 16> few;
        std::vector<Member> many;
        std::span<Member> members;
        if (object.size() <= few.size()) {
            members = std::span(few.data(), object.size());
        } else {
            many.resize(object.size());
            members = many;
        }
        std::size_t count = 0;
        for (const auto& member : object) {
            members[count++] = &member;
        }
        // Byte order, which std::string_view's comparison gives for UTF-8 keys.
        std::sort(members.begin(), members.end(),
                  [](Member left, Member right) { return left->key() < right->key(); });
        out_.push_back('{');
        bool first = true;
        for (const Member member : members) {
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

std::optional<std::string> JsonWriter::write(const boost::json::object& object, Style style) {
    std::string out;
    Writer writer(out, style);
    if (!writer.value(object)) {
        return std::nullopt;
    }
    return out;
}

}  // namespace quenra
