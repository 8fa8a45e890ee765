// SPDX-License-Identifier: MIT
// The worker thread: it polls the request flags, serves the first display of the device list
// and the firmware update, and composes the main window's two device lines.
//
// Front ends stop the worker (stopWorker) before they clear the device list on their way out:
// the first display may be reading the list at that moment, and stopWorker waits for it.
#include "update/worker.h"

#include <pthread.h>

#include <string_view>

#include "files/data_paths.h"
#include "files/device_list.h"
#include "link/serial.h"
#include "update/check.h"
#include "update/display.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/update.h"

std::string deviceLineText;
std::string versionLineText;

namespace {

constexpr std::size_t kDeviceLineMaxBytes = kDeviceLineBufferSize - 1;   // room for the NUL

pthread_t workerThread;
bool workerRunning = false;   // touched by the thread that starts and stops the worker only

void appendBounded(std::string& line, std::string_view text)
{
    if (line.size() >= kDeviceLineMaxBytes) {
        return;
    }
    line.append(text.substr(0, kDeviceLineMaxBytes - line.size()));
}

void* workerThreadMain(void*)
{
    workerMain();
    return nullptr;
}

// Start, Exit and Help inactive, the update (or what the front end asked Start to do
// instead), then progress reset, busy cleared and the buttons active again, in this order: a
// press on a re-activated button must find busy 0.
void serveUpdateRequest()
{
    busy.store(1);
    startRequested.store(0);
    UpdateDisplay& display = updateDisplay();
    display.setButtonsActive(false);
    switch (startAction()) {
    case StartAction::Update: runUpdate(); break;
    case StartAction::Check: runCheck(); break;
    case StartAction::UpdateUnlessCurrent: runUpdateUnlessCurrent(); break;
    }
    display.setProgressValue(0.0);
    busy.store(0);
    display.setButtonsActive(true);
}

}  // namespace

void composeDeviceLines(const DeviceListEntry& entry)
{
    const char* word = connectWord();   // no word before the first language switch

    deviceLineText.clear();
    appendBounded(deviceLineText, kFamilyLabel);
    appendBounded(deviceLineText, entry.modelName);
    appendBounded(deviceLineText, kNameSeparator);
    appendBounded(deviceLineText, word != nullptr ? std::string_view(word) : std::string_view());
    appendBounded(deviceLineText, entry.targetName);

    versionLineText.clear();
    appendBounded(versionLineText, kVersionLabel);
    appendBounded(versionLineText, entry.firmwareVersion);

    updateDisplay().setDeviceLines(deviceLineText, versionLineText);
}

void showFirstEntry()
{
    identifyDone.store(1);
    deviceList.clear();
    if (!loadDeviceList(deviceList, dataPaths.deviceListPath)) {
        storeResult(ERROR_OPEN_FILE_LIST);
        return;
    }
    if (deviceList.entryCount() > 0) {
        composeDeviceLines(deviceList.entry(0));
    }
}

void workerMain()
{
    while (quitRequested.load() == 0) {
        bool served = false;
        if (startRequested.load() == 1) {
            serveUpdateRequest();
            served = true;
        }
        if (safetyAccepted.load() == 1 && identifyDone.load() == 0) {
            showFirstEntry();
            served = true;
        }
        if (!served && quitRequested.load() == 0) {
            waitMs(kIdlePauseMs);
        }
    }
}

bool startWorker()
{
    if (workerRunning) {
        return true;
    }
    if (pthread_create(&workerThread, nullptr, workerThreadMain, nullptr) != 0) {
        return false;
    }
    workerRunning = true;
    return true;
}

void stopWorker()
{
    quitRequested.store(1);
    if (!workerRunning) {
        return;
    }
    pthread_join(workerThread, nullptr);
    workerRunning = false;
}
