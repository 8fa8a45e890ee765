// SPDX-License-Identifier: MIT
// The worker thread that does all device work, its request loop, the first display of the
// device list, and the composition of the main window's two device lines.
#pragma once

#include <string>

struct DeviceListEntry;

inline constexpr std::size_t kDeviceLineBufferSize = 256;
inline constexpr const char* kFamilyLabel = "varnoflex   ";
inline constexpr const char* kVersionLabel = "Version   ";
inline constexpr const char* kNameSeparator = "   ";
inline constexpr int kIdlePauseMs = 10;  // the idle loop's pause between passes

// The two lines as last composed (Windows-1252), written by the worker only.
extern std::string deviceLineText;
extern std::string versionLineText;

// Fills deviceLineText and versionLineText from entry and shows them.
void composeDeviceLines(const DeviceListEntry& entry);

// Loads the device list and shows its first entry (result code 4 when it cannot be loaded).
void showFirstEntry();

// The worker's loop: serves startRequested and safetyAccepted until quitRequested is set.
void workerMain();

// Starts workerMain on its own thread; false when the thread cannot be created.
bool startWorker();
// Sets quitRequested and waits for the worker thread to end (for orderly shutdown).
void stopWorker();
