// SPDX-License-Identifier: MIT
// The converter's latency timer, as the command line deals with it on Windows: one line
// before the update when the timer costs time (what, and how to lower it), and
// --set-latency-timer for an administrator. On Linux the port asks the driver for 1 ms
// itself; the timer the driver then shows is read after the update, and said only when the
// request did not take.
#pragma once

#include "link/latency_timer.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kExitNeedsAdministrator = 77;   // --set-latency-timer without the rights
inline constexpr int kExitRegistryWriteFailed = 74;  // --set-latency-timer failed otherwise

// The hint for a converter whose timer is latencyMs, in lang (one line, no newline).
std::string latencyHintLine(int lang, std::string_view serial, int latencyMs);

// Linux: the line for a converter whose timer stayed at latencyMs after the program's
// low-latency request, with the sysfs file through which root can lower it.
std::string latencyStayedLine(int lang, std::string_view serial, int latencyMs, std::string_view file);

// Linux, after an update has opened the converter's port: the timer its driver shows, with
// the line above printed to out when it is above kLatencyTimerHintAboveMs. Nothing on Windows
// (checkLatencyTimers reads the registry there before the update) or when not shown.
std::optional<int> checkLatencyTimerAfterUpdate(const std::string& serial, int lang, std::FILE* out);

// The serials of the converters the update will try: those the device list names and the
// FTDI driver knows (only serial when given), each once, in the driver's order.
std::vector<std::string> convertersToTry(const std::optional<std::string>& serial);

// Reads the timer of each converter where the platform keeps it, prints the hint to out for
// those above kLatencyTimerHintAboveMs, and returns what it read, by serial.
std::map<std::string, int> checkLatencyTimers(const std::vector<std::string>& serials, int lang, std::FILE* out);

// What --set-latency-timer says and its exit status, from what setLatencyTimers did: every
// converter set gives 0, one that needs an administrator 77 (with how to do it), any other
// failure 74; no FTDI driver 6, no listed converter known to it 7.
int describeLatencyTimerChanges(bool listed, const std::vector<LatencyTimerChange>& changes, int milliseconds,
                                int lang, std::vector<std::string>& lines);

// --set-latency-timer MS for the converters of the device list: the exit status.
int setLatencyTimerCommand(int milliseconds, int lang);
