// SPDX-License-Identifier: MIT
// Turning the program's Windows-1252 texts into what the toolkit draws: UTF-8 for labels
// and messages, and for the help and safety displays also a visible mark for every control
// character other than tab and line feed.
#pragma once

#include <string>
#include <string_view>

// Windows-1252 label text as UTF-8. With escapeSymbols, every '@' is doubled so that a
// text from a data file is drawn as written and never as one of the toolkit's symbols.
std::string labelText(std::string_view cp1252, bool escapeSymbols = false);

// Windows-1252 text for a text display: UTF-8, and each control character except tab and
// line feed shown as its short name in angle brackets ("<cr>", "<esc>", "<del>").
std::string displayText(std::string_view cp1252);
