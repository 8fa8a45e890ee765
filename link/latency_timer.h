// SPDX-License-Identifier: MIT
// The FTDI converter's latency timer: how long the converter's chip holds the bytes it has
// received before it hands them to the PC when fewer than a USB packet's worth have come
// (16 ms unless changed). Every short reply of the update waits for it, so it decides much
// of an update's time. On Linux the port asks the driver for 1 ms itself (serial_posix.cpp)
// and the driver shows the timer in the sysfs file latency_timer of the converter's port;
// on Windows the FTDI driver takes the timer from the value "LatencyTimer" of the converter's
// "Device Parameters" key, which everyone may read and only an administrator may change, and
// reads it when the converter is plugged in. latency_timer_win32.cpp and
// latency_timer_posix.cpp are the platform files; the build picks one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class DeviceList;

inline constexpr int kLatencyTimerMinMs = 1;
inline constexpr int kLatencyTimerMaxMs = 255;
// A timer above this is worth lowering: the command line says what it costs.
inline constexpr int kLatencyTimerHintAboveMs = 2;
// The block count the cost is given for: a full firmware image.
inline constexpr int kLatencyTimerCostBlocks = 512;

// True where the program can read and set the timer (Windows).
bool latencyTimerInRegistry();

// The latency timer of the converter with this serial: on Windows the "LatencyTimer" value
// of the first of its FTDIBUS entries that has one, on Linux what its port's sysfs file
// latency_timer shows. Nothing when the converter or the value is not found.
std::optional<int> readLatencyTimer(std::string_view serial);

// Linux: the sysfs file through which root may set the timer of the converter with this
// serial (/sys/bus/usb-serial/devices/ttyUSBn/latency_timer). Empty elsewhere or not found.
std::string latencyTimerFile(std::string_view serial);

enum class LatencyTimerOutcome {
    Set,
    NeedsAdministrator,   // the key may not be written by this user
    Failed,               // any other failure; error says which
};

struct LatencyTimerChange {
    std::string serial;
    LatencyTimerOutcome outcome = LatencyTimerOutcome::Failed;
    std::string error;   // the system's words for a failure
};

// Sets "LatencyTimer" to milliseconds in the FTDIBUS entry of every converter whose serial
// the device list names, one change per entry. False when the converters cannot be listed at
// all (no FTDI driver); an empty list of changes means that no listed converter is known.
bool setLatencyTimers(const DeviceList& devices, int milliseconds, std::vector<LatencyTimerChange>& changes);

// About how many seconds more an update of blockCount blocks waits for a latency timer of
// latencyMs than for one of 1 ms. Each block's exchange (the 5 ms pause, the 260-byte frame
// and its 6-byte acknowledgement at 115200 baud, 28.09 ms) restarts the timer with the packet
// that carries the acknowledgement, so the next acknowledgement waits for the next run-out
// after another 28.09 ms: for 16 ms until 32 ms, 3.91 ms instead of 0.91 ms at 1 ms.
double latencyTimerCostSeconds(int latencyMs, int blockCount);
