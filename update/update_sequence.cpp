// SPDX-License-Identifier: MIT
// The firmware update: identification, firmware load and whole-file check, blank check or
// erase, program mode, the write pass, the unit's own check, the checksum comparison and the
// verify pass. Every end stores its result code; the progress bar counts blocks.
#include <algorithm>
#include <optional>
#include <span>
#include <string>

#include "files/data_file.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/firmware_image.h"
#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"
#include "update/display.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/update.h"

namespace {

constexpr double kProgressHeadStartDivisor = 40.0;   // the bar starts at one fortieth
constexpr int kFinalAckAttempts = 5;                  // reads of the ack after the last block

// The progress bar in blocks, as the update moves it.
class Progress {
public:
    explicit Progress(UpdateDisplay& display) : display_(display) {}

    void setMaximum(double maximum)
    {
        maximum_ = maximum;
        display_.setProgressMaximum(maximum);
    }
    void setValue(double value)
    {
        value_ = value;
        display_.setProgressValue(value);
    }
    // One block further, never past the maximum.
    void advance() { setValue(std::min(value_ + 1.0, maximum_)); }

private:
    UpdateDisplay& display_;
    double maximum_ = 0.0;
    double value_ = 0.0;
};

std::span<const std::uint8_t> imageBlock(int blockIndex)
{
    return std::span<const std::uint8_t>(firmwareImage)
        .subspan(static_cast<std::size_t>(blockIndex) * kBlockSizeBytes, kBlockSizeBytes);
}

// The firmware file of the selected entry, decoded; nothing when its path does not fit the
// path buffer or the file cannot be read.
std::optional<DataBuffer> loadFirmwareText(const DeviceListEntry& entry)
{
    std::string firmwarePath;
    if (!formFirmwarePath(entry.firmwareFile, firmwarePath)) {
        return std::nullopt;
    }
    return loadDataFile(firmwarePath);
}

bool finalAckArrives()
{
    for (int attempt = 0; attempt < kFinalAckAttempts; ++attempt) {
        if (readAck()) {
            return true;
        }
    }
    return false;
}

// Ends the update: port closed, bar empty, code stored.
void endClosed(Progress& progress, std::uint8_t code)
{
    portClose();
    progress.setValue(0.0);
    storeResult(code);
}

}  // namespace

std::uint16_t addToCheckValue(std::uint16_t checkValue, std::span<const std::uint8_t> block)
{
    for (std::uint8_t byte : block) {
        checkValue = static_cast<std::uint16_t>(checkValue - (0xFF00u | byte));
    }
    return checkValue;
}

std::uint16_t imageCheckValue(int blockCount)
{
    std::uint16_t checkValue = 0;
    for (int blockIndex = 0; blockIndex < std::clamp(blockCount, 0, kImageBlockCount); ++blockIndex) {
        checkValue = addToCheckValue(checkValue, imageBlock(blockIndex));
    }
    return checkValue;
}

std::uint8_t loadEntryFirmware(const DeviceListEntry& entry, int rangeBlocks)
{
    std::optional<DataBuffer> firmwareText = loadFirmwareText(entry);
    if (!firmwareText) {
        return ERROR_OPEN_FILE;
    }
    // The whole file is read and checked before anything is sent to the unit: a damaged,
    // cut-short or foreign file leaves the unit as it is. The verify pass could not catch
    // it, as it compares the unit with the same image.
    const FirmwareCheck loaded = loadFirmwareImage(*firmwareText, rangeBlocks);
    if (loaded.problem.found()) {
        updateDisplay().firmwareFileRefused(entry.firmwareFile, loaded.problem);
        return ERROR_READ_FILE;
    }
    return RESULT_NONE;
}

void runUpdate()
{
    Progress progress(updateDisplay());

    const std::uint8_t identification = connectDevice();
    const int blockCount = protocolState.blockCount;
    progress.setMaximum(blockCount);
    progress.setValue(blockCount / kProgressHeadStartDivisor);
    if (identification != RESULT_NONE) {
        portClose();
        waitMs(kNoDeviceCloseWaitMs);
        progress.setValue(0.0);
        storeResult(identification);
        return;
    }

    const std::uint8_t firmware = loadEntryFirmware(*selectedEntry, blockCount);
    if (firmware != RESULT_NONE) {
        endClosed(progress, firmware);
        return;
    }

    // Stores 9 itself when its second blank check passes.
    if (!cmdBlankCheck() && !cmdBlankCheckOrErase()) {
        endClosed(progress, ERROR_ERASE_BEFORE_PROGRAM);
        return;
    }
    if (!cmdProgramMode()) {
        endClosed(progress, ERROR_SET_MODE);
        return;
    }

    std::uint16_t checkValue = 0;
    for (int blockIndex = 0; blockIndex < blockCount; ++blockIndex) {
        checkValue = addToCheckValue(checkValue, imageBlock(blockIndex));
        if (!sendDataBlock(blockIndex)) {
            endClosed(progress, ERROR_WRITE_BLOCK);
            return;
        }
        progress.advance();
    }
    progress.setValue(0.0);

    if (!finalAckArrives()) {
        endClosed(progress, ERROR_INTERNAL_VERIFY);
        return;
    }
    std::uint16_t unitChecksum = 0;
    if (!cmdReadChecksum(unitChecksum) || unitChecksum != checkValue) {
        endClosed(progress, ERROR_CHECKSUM);
        return;
    }
    storeResult(OK_DOWNLOADED);

    if (!cmdVerify()) {
        endClosed(progress, ERROR_VERIFY_COMMAND);
        return;
    }
    for (int blockIndex = 0; blockIndex < blockCount; ++blockIndex) {
        if (!sendDataBlock(blockIndex)) {
            // The port stays open; the next identification closes it.
            progress.setValue(0.0);
            storeResult(ERROR_VERIFY);
            return;
        }
        progress.advance();
    }
    endClosed(progress, OK_UPDATE_FINISHED);
}
