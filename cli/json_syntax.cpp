// SPDX-License-Identifier: MIT
#include "cli/json_syntax.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>
#include <cstddef>
#include <system_error>

namespace {

// Beyond every double's exponent and every event line's length: an exponent's digits are
// read up to this.
constexpr long long kExponentCap = 1000000;
// A number without an exponent and of no more characters than this is a finite double.
constexpr std::size_t kAlwaysFiniteChars = 300;

// The bytes a string holds as they are: printable ASCII but the quote and the backslash.
// Strings are most of an event line; a table look-up per byte keeps their scan short.
constexpr std::array<bool, 256> kPlainInString = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c) plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    return plain;
}();

class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool oneObject()
    {
        skipWhitespace();
        if (peek() != '{') return false;
        if (!value()) return false;
        skipWhitespace();
        return pos_ == text_.size();
    }

private:
    int peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1; }

    void skipWhitespace()
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
            ++pos_;
        }
    }

    bool literal(std::string_view word)
    {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool digits()   // one or more
    {
        const std::size_t start = pos_;
        while (peek() >= '0' && peek() <= '9') ++pos_;
        return pos_ > start;
    }

    // A number by the grammar, whose value is also finite as a double: the parser takes
    // fractions, exponents and integers too large for 64 bits as doubles and refuses the ones
    // that overflow (underflow goes to zero and is taken).
    bool number()
    {
        const std::size_t start = pos_;
        if (peek() == '-') ++pos_;
        const std::size_t intStart = pos_;
        if (peek() == '0') {
            ++pos_;
        } else if (!digits()) {
            return false;
        }
        const std::size_t intEnd = pos_;
        std::size_t fracStart = pos_;
        std::size_t fracEnd = pos_;
        if (peek() == '.') {
            ++pos_;
            fracStart = pos_;
            if (!digits()) return false;
            fracEnd = pos_;
        }
        long long exponent = 0;
        const bool hasExponent = peek() == 'e' || peek() == 'E';
        if (hasExponent) {
            ++pos_;
            const bool negative = peek() == '-';
            if (peek() == '+' || peek() == '-') ++pos_;
            const std::size_t expStart = pos_;
            if (!digits()) return false;
            for (std::size_t i = expStart; i < pos_; ++i) {
                exponent = std::min(exponent * 10 + (text_[i] - '0'), kExponentCap);
            }
            if (negative) exponent = -exponent;
        }
        if (!hasExponent && pos_ - start <= kAlwaysFiniteChars) return true;
        double value = 0;
        const auto [end, error] = std::from_chars(text_.data() + start, text_.data() + pos_, value);
        if (error != std::errc::result_out_of_range) return true;
        // Out of range: an overflow when the first significant digit stands at 10^0 or
        // above, an underflow otherwise.
        long long firstDigit = 0;   // the power of ten of the first significant digit
        bool found = false;
        for (std::size_t i = intStart; i < intEnd && !found; ++i) {
            if (text_[i] != '0') {
                firstDigit = static_cast<long long>(intEnd - i) - 1;
                found = true;
            }
        }
        for (std::size_t i = fracStart; i < fracEnd && !found; ++i) {
            if (text_[i] != '0') {
                firstDigit = -static_cast<long long>(i - fracStart) - 1;
                found = true;
            }
        }
        return !found || firstDigit + exponent < 0;
    }

    int hexDigit()
    {
        const int c = peek();
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit >= 0) ++pos_;
        return digit;
    }

    // The four hex digits after "\u": the code unit, or -1.
    int codeUnit()
    {
        int unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigit();
            if (digit < 0) return -1;
            unit = unit * 16 + digit;
        }
        return unit;
    }

    // After the backslash. A high surrogate must be followed by an escaped low one; a low
    // one alone is an error, as in the parser.
    bool escape()
    {
        const int c = peek();
        if (c < 0) return false;
        ++pos_;
        switch (c) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
            return true;
        case 'u': {
            const int unit = codeUnit();
            if (unit < 0) return false;
            if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (!literal("\\u")) return false;
                const int low = codeUnit();
                return low >= 0xDC00 && low <= 0xDFFF;
            }
            return true;
        }
        default:
            return false;
        }
    }

    // count continuation bytes, the first within [low, high], the rest 0x80 to 0xBF.
    bool continuation(int count, int low, int high)
    {
        for (int i = 0; i < count; ++i) {
            const int c = peek();
            if (c < (i == 0 ? low : 0x80) || c > (i == 0 ? high : 0xBF)) return false;
            ++pos_;
        }
        return true;
    }

    // A character of UTF-8 beyond ASCII, its first byte lead already read: the ranges of
    // RFC 3629 (no overlong forms, no surrogates, nothing above U+10FFFF).
    bool multiByte(int lead)
    {
        if (lead >= 0xC2 && lead <= 0xDF) return continuation(1, 0x80, 0xBF);
        if (lead == 0xE0) return continuation(2, 0xA0, 0xBF);
        if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) return continuation(2, 0x80, 0xBF);
        if (lead == 0xED) return continuation(2, 0x80, 0x9F);
        if (lead == 0xF0) return continuation(3, 0x90, 0xBF);
        if (lead >= 0xF1 && lead <= 0xF3) return continuation(3, 0x80, 0xBF);
        if (lead == 0xF4) return continuation(3, 0x80, 0x8F);
        return false;
    }

    bool string()   // at the opening quote
    {
        ++pos_;
        while (true) {
            while (pos_ < text_.size() && kPlainInString[static_cast<unsigned char>(text_[pos_])]) ++pos_;
            const int c = peek();
            if (c < 0) return false;   // left open
            ++pos_;
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (!escape()) return false;
            } else if (c >= 0x80 && !multiByte(c)) {
                return false;
            }
        }
    }

    bool scalar()
    {
        const int c = peek();
        if (c == '"') return string();
        if (c == 't') return literal("true");
        if (c == 'f') return literal("false");
        if (c == 'n') return literal("null");
        return number();
    }

    // One value, objects and arrays within it included, without recursion: inObject_ holds
    // for each open level whether it is an object.
    bool value()
    {
        int depth = 0;
        while (true) {
            skipWhitespace();
            const int c = peek();
            if (c == '{' || c == '[') {
                if (depth == kMaxJsonDepth) return false;
                inObject_[static_cast<std::size_t>(depth++)] = c == '{';
                ++pos_;
                skipWhitespace();
                const int close = c == '{' ? '}' : ']';
                if (peek() == close) {
                    ++pos_;
                    --depth;
                } else {
                    if (c == '{' && !key()) return false;
                    continue;   // the first value of the new level
                }
            } else if (!scalar()) {
                return false;
            }
            // After a value: the next member or element, or the end of one or more levels.
            while (true) {
                if (depth == 0) return true;
                skipWhitespace();
                const bool object = inObject_[static_cast<std::size_t>(depth - 1)];
                const int next = peek();
                if (next == ',') {
                    ++pos_;
                    if (object && !key()) return false;
                    break;
                }
                if (next != (object ? '}' : ']')) return false;
                ++pos_;
                --depth;
            }
        }
    }

    // A member's name and its colon.
    bool key()
    {
        skipWhitespace();
        if (peek() != '"' || !string()) return false;
        skipWhitespace();
        if (peek() != ':') return false;
        ++pos_;
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::bitset<kMaxJsonDepth> inObject_;
};

}  // namespace

bool isOneJsonObject(std::string_view text)
{
    return Scanner(text).oneObject();
}
