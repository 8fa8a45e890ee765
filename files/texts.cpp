// SPDX-License-Identifier: MIT
// Help and safety texts for display, and the conversion between the program's
// Windows-1252 texts and UTF-8.
#include "files/texts.h"

#include "files/data_file.h"

#include <array>
#include <cstdint>
#include <utility>

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kNoCharacter = 0;   // marks the five unassigned bytes in the table

// Windows-1252 bytes 0x80 to 0x9F; every other byte has the code point of its own value.
constexpr std::array<char32_t, 32> kHighControlRange = {
    0x20AC, kNoCharacter, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,   // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, kNoCharacter, 0x017D, kNoCharacter,   // 88-8F
    kNoCharacter, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,   // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, kNoCharacter, 0x017E, 0x0178,   // 98-9F
};

void appendUtf8(std::string& out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        // Every character of Windows-1252 lies below U+10000.
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Decodes the UTF-8 sequence at text[i], advancing i; false for an invalid sequence
// (truncated, overlong, a surrogate, or beyond U+10FFFF).
bool decodeUtf8(std::string_view text, std::size_t& i, char32_t& codePoint)
{
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t continuationCount = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        continuationCount = 1;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        continuationCount = 2;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        continuationCount = 3;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - i - 1 < continuationCount) {
        return false;
    }
    for (std::size_t k = 1; k <= continuationCount; ++k) {
        const auto byte = static_cast<std::uint8_t>(text[i + k]);
        if ((byte & 0xC0) != 0x80) {
            return false;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return false;
    }
    i += continuationCount + 1;
    return true;
}

bool cp1252Byte(char32_t codePoint, char& byte)
{
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        byte = static_cast<char>(codePoint);
        return true;
    }
    for (std::size_t k = 0; k < kHighControlRange.size(); ++k) {
        if (kHighControlRange[k] != kNoCharacter && kHighControlRange[k] == codePoint) {
            byte = static_cast<char>(0x80 + k);
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string> loadDisplayText(const std::string& path)
{
    const std::optional<DataBuffer> text = loadDataFile(path);
    if (!text) {
        return std::nullopt;
    }
    if (text->empty()) {
        return std::string();
    }
    // The last byte gives way to the string end, and a zero byte ends the text early.
    std::string_view shown(reinterpret_cast<const char*>(text->data()), text->size() - 1);
    shown = shown.substr(0, shown.find('\0'));
    return std::string(shown);
}

namespace {

// Windows-1252 to UTF-8; a byte without a character becomes unassigned, or the code point
// of its own value when unassigned is kNoCharacter.
std::string convertCp1252(std::string_view text, char32_t unassigned)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        char32_t codePoint = byte;
        if (byte >= 0x80 && byte <= 0x9F) {
            codePoint = kHighControlRange[byte - 0x80];
            if (codePoint == kNoCharacter) {
                codePoint = unassigned != kNoCharacter ? unassigned : byte;
            }
        }
        appendUtf8(out, codePoint);
    }
    return out;
}

}  // namespace

std::string cp1252ToUtf8(std::string_view text)
{
    return convertCp1252(text, kReplacementCharacter);
}

std::string cp1252FileNameToUtf8(std::string_view name)
{
    return convertCp1252(name, kNoCharacter);
}

bool utf8ToCp1252(std::string_view text, std::string& out)
{
    std::size_t errorOffset = 0;
    return utf8ToCp1252(text, out, errorOffset);
}

bool utf8ToCp1252(std::string_view text, std::string& out, std::size_t& errorOffset)
{
    std::string converted;
    converted.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t codePoint = 0;
        char byte = 0;
        const std::size_t start = i;
        if (!decodeUtf8(text, i, codePoint) || !cp1252Byte(codePoint, byte)) {
            errorOffset = start;
            return false;
        }
        converted.push_back(byte);
    }
    out = std::move(converted);
    return true;
}

namespace {

// Short names of the ASCII control characters 0x00-0x1F.
constexpr const char* kControlNames[32] = {
    "nul", "soh", "stx", "etx", "eot", "enq", "ack", "bel", "bs",  "ht",  "nl",
    "vt",  "np",  "cr",  "so",  "si",  "dle", "dc1", "dc2", "dc3", "dc4", "nak",
    "syn", "etb", "can", "em",  "sub", "esc", "fs",  "gs",  "rs",  "us"};
constexpr unsigned char kDelete = 0x7F;

std::string markControls(std::string_view text, bool keepLineBreaks)
{
    std::string marked;
    marked.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && !(keepLineBreaks && (c == '\t' || c == '\n'))) {
            marked += '<';
            marked += kControlNames[byte];
            marked += '>';
        } else if (byte == kDelete) {
            marked += "<del>";
        } else {
            marked += c;
        }
    }
    return marked;
}

}  // namespace

std::string markControlCharacters(std::string_view text)
{
    return markControls(text, true);
}

std::string markControlCharactersInLine(std::string_view text)
{
    return markControls(text, false);
}
