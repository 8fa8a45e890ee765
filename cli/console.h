// SPDX-License-Identifier: MIT
// What differs between the platforms in the command-line updater's dealings with its own
// process: the arguments as UTF-8, the console's output code page, and the system's texts
// (error messages) as UTF-8. console_posix.cpp and console_win32.cpp are the two forms.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The program's arguments after its name, as UTF-8 (Windows: from the wide command line,
// so that a path outside the ANSI code page survives; elsewhere argv as it is).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Sets the console's output to UTF-8 (Windows) and puts the code page it had back when the
// process ends: by exit, by the end of the main function, or by a console event that ends it
// (call this before installInterruptHandlers, whose handler is asked first). Nothing elsewhere.
void setUpConsole();
// Puts the console's output code page back now (for a process about to end otherwise).
void restoreConsole();

// A text from the system (an error message) as UTF-8; Windows gives them in the ANSI code page.
std::string systemTextToUtf8(std::string_view text);

// A path given as UTF-8 (an argument), and a path as UTF-8 for messages and child processes.
std::filesystem::path pathFromUtf8(const std::string& utf8);
std::string pathToUtf8(const std::filesystem::path& path);
// A path as the narrow text the data file loader opens; nothing when it cannot be given so
// (Windows: a character outside the ANSI code page).
std::optional<std::string> pathForDataFiles(const std::filesystem::path& path);

bool isTerminal(std::FILE* stream);

// For "--json -": keeps the real standard output for the report (not inherited by child
// processes) and sends everything else printed to standard output to standard error from
// here on. False when it cannot.
bool keepStandardOutputForReport();
// Writes text whole to the standard output kept for the report (the standard output when
// none was kept). False with the reason when it cannot.
bool writeReportToStandardOutput(const std::string& text, std::string& error);
