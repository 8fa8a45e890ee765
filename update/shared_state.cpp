// SPDX-License-Identifier: MIT
// The flags shared by the GUI thread and the worker thread, and the result code store.
#include "update/shared_state.h"

#include "update/display.h"

std::atomic<std::uint8_t> safetyAccepted{0};
std::atomic<std::uint8_t> identifyDone{0};
std::atomic<std::uint8_t> quitRequested{0};
std::atomic<std::uint8_t> startRequested{0};
std::atomic<std::uint8_t> busy{0};
std::atomic<std::uint8_t> resultCode{0};

void initSharedState()
{
    safetyAccepted.store(0);
    identifyDone.store(0);
    quitRequested.store(0);
    startRequested.store(0);
    busy.store(0);
}

void storeResult(std::uint8_t code)
{
    resultCode.store(code);
    updateDisplay().resultStored(code);
}
