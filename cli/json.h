// SPDX-License-Identifier: MIT
// A small JSON value for the command-line updater's report: built, written with two-space
// indentation, and read back (the --all run reads the report each child wrote). Objects
// keep their members in the order they were added.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class JsonValue {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    JsonValue() = default;
    static JsonValue boolean(bool value);
    static JsonValue number(double value);
    static JsonValue string(std::string_view value);
    static JsonValue array();
    static JsonValue object();

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool asBool() const { return bool_; }
    double asNumber() const { return number_; }
    const std::string& asString() const { return string_; }
    const std::vector<JsonValue>& items() const { return items_; }
    const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }

    // Object: sets member name (replacing one of the same name). Returns *this.
    JsonValue& set(std::string_view name, JsonValue value);
    // Array: appends value.
    void push(JsonValue value);
    // Object: the member called name, or nullptr.
    const JsonValue* find(std::string_view name) const;

    // The text, indented by two spaces per level, without a final newline.
    std::string write() const;

private:
    void writeTo(std::string& out, int depth) const;

    Kind kind_ = Kind::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<JsonValue> items_;
    std::vector<std::pair<std::string, JsonValue>> members_;
};

// Reads one JSON document (RFC 8259; \u escapes become UTF-8). Nothing when the text is not
// exactly one valid value, optionally surrounded by white space.
std::optional<JsonValue> parseJson(std::string_view text);
