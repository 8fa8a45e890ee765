// SPDX-License-Identifier: MIT
// The command line of varnoflex-cli.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

struct CliOptions {
    std::optional<std::string> dataDir;   // -d DIR, --data-dir DIR
    bool acceptSafety = false;            // -y, --accept-safety
    std::optional<int> language;          // --language en|de
    bool list = false;                    // --list
    std::optional<std::string> serial;    // --serial SERIAL: only this converter
    bool all = false;                     // --all: every listed converter, one child each
    bool check = false;                   // --check: compare the unit with its firmware, write nothing
    bool skipCurrent = false;             // --skip-current: check first, update only a unit that differs
    std::optional<std::string> jsonFile;  // --json FILE ("-": standard output)
    std::optional<std::string> traceFile; // --trace FILE
    std::optional<std::string> eventFd;   // --event-fd N: events to inherited descriptor N
    std::optional<std::string> stopEvent; // --stop-event N (Windows): inherited event, set = stop
    std::optional<int> setLatencyTimerMs; // --set-latency-timer MS (Windows, administrators)
    bool help = false;                    // -h, --help
    bool version = false;                 // --version
};

// Parses the arguments after the program name. On a bad command line returns false and sets
// error to a one-line description.
bool parseCliOptions(std::span<const std::string> arguments, CliOptions& options, std::string& error);

// FTDI converter serials are eight letters and digits.
bool isConverterSerial(std::string_view text);

// The text of --help.
const char* cliUsageText();
