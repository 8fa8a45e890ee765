// SPDX-License-Identifier: MIT
// A check of JSON text that builds nothing: whether text is one JSON object and nothing else
// (whitespace aside), by the grammar of RFC 8259 with strings in well-formed UTF-8, as
// nlohmann/json reads it. The event reader asks it before the parser, which words a message
// and builds the document up to the error for every line it turns away.
#pragma once

#include <string_view>

// True when text is exactly one JSON object (leading and trailing whitespace allowed) that
// nlohmann/json's parser takes without error; false otherwise, and for objects and arrays
// nested more than kMaxJsonDepth deep (an event line is too short to hold them).
inline constexpr int kMaxJsonDepth = 4096;
bool isOneJsonObject(std::string_view text);
