// SPDX-License-Identifier: MIT
// The single-byte flags that the GUI thread and the worker thread share, and the result
// code through which every outcome reaches the user. Each flag has one writer; the other
// side reads it afresh on every pass.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<std::uint8_t> safetyAccepted;   // GUI sets 1 when the safety text is accepted
extern std::atomic<std::uint8_t> identifyDone;     // worker sets 1 when it served that acceptance
extern std::atomic<std::uint8_t> quitRequested;    // GUI sets 1 just before the program ends
extern std::atomic<std::uint8_t> startRequested;   // GUI sets 1 (only while busy is 0); worker clears
extern std::atomic<std::uint8_t> busy;             // worker: 1 for the whole update
extern std::atomic<std::uint8_t> resultCode;       // 0 = nothing to report

// Clears the five flags (resultCode keeps its value, 0 at process start).
void initSharedState();

// Stores code in resultCode and tells the update display (resultStored), so that a front
// end which reports every code (the command-line updater) sees the codes stored on the way.
void storeResult(std::uint8_t code);
