// SPDX-License-Identifier: MIT
// Help and safety texts, and the conversion of the program's Windows-1252 texts for display.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Shown instead of the safety instructions when the safety file cannot be read; the program
// then offers only to end.
inline constexpr const char* kBuiltInSafetyText =
    "\n\n\n   Can't read file for security advice !\n   Application terminated !";

// Reads a help or safety file for display: loads and decodes it, drops its last byte (it is
// overwritten with the string end) and cuts the text at the first zero byte.
// Nothing when the file cannot be read. An empty file gives an empty text.
std::optional<std::string> loadDisplayText(const std::string& path);

// Each control character except tab and line feed replaced by its short name in angle
// brackets ("<cr>", "<esc>", "<del>"), so that help and safety texts show such bytes as
// visible marks and can never drive a terminal.
std::string markControlCharacters(std::string_view text);
// The same for text that must stay on one line (a device list field, a device line): line
// feeds and tabs are marked too ("<nl>", "<ht>"), so that such a field cannot print a line
// of its own.
std::string markControlCharactersInLine(std::string_view text);

// Windows-1252 to UTF-8, for the toolkit and the terminal. Bytes without a character in
// Windows-1252 (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+FFFD.
std::string cp1252ToUtf8(std::string_view text);

// A Windows-1252 file name to UTF-8 as Windows reads it: the same as cp1252ToUtf8, except
// that the five bytes without a character become the control characters of the same value
// (U+0081, U+008D, U+008F, U+0090, U+009D), as in Windows' own table for the code page. A
// name holding one thus names the file that Windows would open, and two names never turn
// into the same one.
std::string cp1252FileNameToUtf8(std::string_view name);

// UTF-8 to Windows-1252, for the encoding tool; false when a character has no
// Windows-1252 byte or the input is not valid UTF-8.
bool utf8ToCp1252(std::string_view text, std::string& out);
// The same, and on failure errorOffset is the byte position of the offending character.
bool utf8ToCp1252(std::string_view text, std::string& out, std::size_t& errorOffset);
