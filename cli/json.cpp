// SPDX-License-Identifier: MIT
// The JSON value: building, writing and reading.
#include "cli/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMaxDepth = 64;   // levels of nesting; deeper documents are refused, not recursed into

void writeString(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void writeNumber(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";   // JSON has no infinities
        return;
    }
    char text[32];
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.17g", value);
        // The shortest form that reads back the same keeps reports readable.
        for (int precision = 1; precision < 17; ++precision) {
            char shorter[32];
            std::snprintf(shorter, sizeof shorter, "%.*g", precision, value);
            if (std::strtod(shorter, nullptr) == value) {
                std::snprintf(text, sizeof text, "%s", shorter);
                break;
            }
        }
    }
    out += text;
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> document()
    {
        std::optional<JsonValue> value = readValue(0);
        skipSpace();
        if (!value || at_ != text_.size()) return std::nullopt;
        return value;
    }

private:
    void skipSpace()
    {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool take(char c)
    {
        skipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool word(std::string_view expected)
    {
        if (text_.substr(at_, expected.size()) != expected) return false;
        at_ += expected.size();
        return true;
    }

    std::optional<JsonValue> readValue(int depth)
    {
        if (depth >= kMaxDepth) return std::nullopt;
        skipSpace();
        if (at_ >= text_.size()) return std::nullopt;
        const char c = text_[at_];
        if (c == '{') return readObject(depth);
        if (c == '[') return readArray(depth);
        if (c == '"') {
            std::string text;
            if (!readString(text)) return std::nullopt;
            return JsonValue::string(text);
        }
        if (word("true")) return JsonValue::boolean(true);
        if (word("false")) return JsonValue::boolean(false);
        if (word("null")) return JsonValue();
        return readNumber();
    }

    std::optional<JsonValue> readObject(int depth)
    {
        ++at_;
        JsonValue object = JsonValue::object();
        if (take('}')) return object;
        do {
            skipSpace();
            std::string name;
            if (at_ >= text_.size() || text_[at_] != '"' || !readString(name) || !take(':')) return std::nullopt;
            std::optional<JsonValue> value = readValue(depth + 1);
            if (!value) return std::nullopt;
            object.set(name, std::move(*value));
        } while (take(','));
        if (!take('}')) return std::nullopt;
        return object;
    }

    std::optional<JsonValue> readArray(int depth)
    {
        ++at_;
        JsonValue array = JsonValue::array();
        if (take(']')) return array;
        do {
            std::optional<JsonValue> value = readValue(depth + 1);
            if (!value) return std::nullopt;
            array.push(std::move(*value));
        } while (take(','));
        if (!take(']')) return std::nullopt;
        return array;
    }

    static void appendUtf8(std::string& out, std::uint32_t code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool readHex4(std::uint32_t& code)
    {
        if (at_ + 4 > text_.size()) return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') code |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') code |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') code |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    bool readString(std::string& out)
    {
        ++at_;   // the opening quote
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) return false;
            const char escaped = text_[at_++];
            switch (escaped) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t code = 0;
                if (!readHex4(code)) return false;
                if (code >= 0xD800 && code < 0xDC00) {
                    std::uint32_t low = 0;
                    if (!word("\\u") || !readHex4(low) || low < 0xDC00 || low >= 0xE000) return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return false;
                }
                appendUtf8(out, code);
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    std::optional<JsonValue> readNumber()
    {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        const auto digits = [&] {
            const std::size_t first = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            return at_ - first;
        };
        const std::size_t integerStart = at_;
        const std::size_t integerDigits = digits();
        if (integerDigits == 0 || (integerDigits > 1 && text_[integerStart] == '0')) return std::nullopt;
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digits() == 0) return std::nullopt;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (digits() == 0) return std::nullopt;
        }
        const std::string number(text_.substr(start, at_ - start));
        return JsonValue::number(std::strtod(number.c_str(), nullptr));
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

JsonValue JsonValue::boolean(bool value)
{
    JsonValue v;
    v.kind_ = Kind::Bool;
    v.bool_ = value;
    return v;
}

JsonValue JsonValue::number(double value)
{
    JsonValue v;
    v.kind_ = Kind::Number;
    v.number_ = value;
    return v;
}

JsonValue JsonValue::string(std::string_view value)
{
    JsonValue v;
    v.kind_ = Kind::String;
    v.string_.assign(value);
    return v;
}

JsonValue JsonValue::array()
{
    JsonValue v;
    v.kind_ = Kind::Array;
    return v;
}

JsonValue JsonValue::object()
{
    JsonValue v;
    v.kind_ = Kind::Object;
    return v;
}

JsonValue& JsonValue::set(std::string_view name, JsonValue value)
{
    for (auto& member : members_) {
        if (member.first == name) {
            member.second = std::move(value);
            return *this;
        }
    }
    members_.emplace_back(std::string(name), std::move(value));
    return *this;
}

void JsonValue::push(JsonValue value)
{
    items_.push_back(std::move(value));
}

const JsonValue* JsonValue::find(std::string_view name) const
{
    for (const auto& member : members_) {
        if (member.first == name) return &member.second;
    }
    return nullptr;
}

std::string JsonValue::write() const
{
    std::string out;
    writeTo(out, 0);
    return out;
}

void JsonValue::writeTo(std::string& out, int depth) const
{
    const std::string indent(static_cast<std::size_t>(depth + 1) * 2, ' ');
    const std::string closingIndent(static_cast<std::size_t>(depth) * 2, ' ');
    switch (kind_) {
    case Kind::Null: out += "null"; break;
    case Kind::Bool: out += bool_ ? "true" : "false"; break;
    case Kind::Number: writeNumber(out, number_); break;
    case Kind::String: writeString(out, string_); break;
    case Kind::Array:
        if (items_.empty()) {
            out += "[]";
            break;
        }
        out += "[\n";
        for (std::size_t i = 0; i < items_.size(); ++i) {
            out += indent;
            items_[i].writeTo(out, depth + 1);
            out += i + 1 < items_.size() ? ",\n" : "\n";
        }
        out += closingIndent + "]";
        break;
    case Kind::Object:
        if (members_.empty()) {
            out += "{}";
            break;
        }
        out += "{\n";
        for (std::size_t i = 0; i < members_.size(); ++i) {
            out += indent;
            writeString(out, members_[i].first);
            out += ": ";
            members_[i].second.writeTo(out, depth + 1);
            out += i + 1 < members_.size() ? ",\n" : "\n";
        }
        out += closingIndent + "}";
        break;
    }
}

std::optional<JsonValue> parseJson(std::string_view text)
{
    return Reader(text).document();
}
