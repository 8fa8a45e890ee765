// SPDX-License-Identifier: MIT
// Conversion of the program's Windows-1252 texts for the toolkit, which draws UTF-8.
#include "app/display_text.h"

#include "files/texts.h"

std::string labelText(std::string_view cp1252, bool escapeSymbols)
{
    std::string utf8 = cp1252ToUtf8(cp1252);
    if (!escapeSymbols)
        return utf8;
    std::string escaped;
    escaped.reserve(utf8.size());
    for (char c : utf8) {
        escaped += c;
        if (c == '@')
            escaped += '@';
    }
    return escaped;
}

std::string displayText(std::string_view cp1252)
{
    return cp1252ToUtf8(markControlCharacters(cp1252));
}
