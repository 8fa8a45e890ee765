// SPDX-License-Identifier: MIT
// The check of the unit's firmware against its device list entry's file, and the update
// where the check finds it needed. Nothing here writes to the unit: the checksum command
// and the verify pass are the boot loader's own comparison with its memory.
#include <algorithm>
#include <atomic>
#include <optional>

#include "files/device_list.h"
#include "files/firmware_image.h"
#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"
#include "update/check.h"
#include "update/display.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/update.h"

namespace {

// Read by the worker thread, set before it starts.
std::atomic<StartAction> requestedAction{StartAction::Update};

// The comparison proper, on the identified unit with the image loaded: the checksum, and
// only when it matches the verify pass. Stops at the first block the unit refuses or does
// not answer.
void compare(CheckResult& result, UpdateDisplay& display)
{
    std::uint16_t unitChecksum = 0;
    if (!cmdReadChecksum(unitChecksum)) {
        result.failure = CheckFailure::ChecksumUnanswered;
        return;
    }
    result.deviceChecksum = unitChecksum;
    if (unitChecksum != result.imageChecksum) {
        result.verdict = CheckVerdict::Differs;
        return;
    }
    if (!cmdVerify()) {
        result.failure = CheckFailure::VerifyNotAcknowledged;
        return;
    }
    for (int blockIndex = 0; blockIndex < result.blockCount; ++blockIndex) {
        switch (sendDataBlockForAnswer(blockIndex)) {
        case BlockAnswer::Acknowledged:
            ++result.blocksVerified;
            display.setProgressValue(result.blocksVerified);
            break;
        case BlockAnswer::Refused:
            result.verdict = CheckVerdict::Differs;
            result.refusedBlock = blockIndex;
            return;
        case BlockAnswer::NoAnswer:
            result.failure = CheckFailure::BlockUnanswered;
            result.unansweredBlock = blockIndex;
            return;
        }
    }
    result.verdict = CheckVerdict::Holds;
}

}  // namespace

std::optional<CheckResult> runCheck()
{
    UpdateDisplay& display = updateDisplay();

    const std::uint8_t identification = connectDevice();
    const int blockCount = protocolState.blockCount;
    display.setProgressMaximum(blockCount);
    display.setProgressValue(0.0);
    if (identification != RESULT_NONE) {
        portClose();
        waitMs(kNoDeviceCloseWaitMs);
        storeResult(identification);
        return std::nullopt;
    }
    const std::uint8_t firmware = loadEntryFirmware(*selectedEntry, blockCount);
    if (firmware != RESULT_NONE) {
        portClose();
        storeResult(firmware);
        return std::nullopt;
    }

    CheckResult result;
    result.firmwareVersion = selectedEntry->firmwareVersion;
    result.firmwareFile = selectedEntry->firmwareFile;
    result.blockCount = blockCount;
    result.imageChecksum = imageCheckValue(blockCount);
    display.checkStarted();
    compare(result, display);
    portClose();
    display.setProgressValue(0.0);
    display.checkEnded(result);
    return result;
}

void runUpdateUnlessCurrent()
{
    const std::optional<CheckResult> check = runCheck();
    if (check && check->verdict == CheckVerdict::Differs) {
        runUpdate();
    }
}

void setStartAction(StartAction action)
{
    requestedAction.store(action);
}

StartAction startAction()
{
    return requestedAction.load();
}
