// SPDX-License-Identifier: MIT
// Fuzz target: the firmware HEX reader and the whole-file check on arbitrary decoded text.
// Besides the sanitizers' checks it asserts that the reader only moves forward and stays
// inside the text, that every problem names a place inside the text, and that a file the
// check lets through loads to the same result and leaves nothing but 0xFF beyond the range.
#include "files/firmware_image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition) std::abort();
}

// The unit's range for this input: the image's 512 blocks for half the inputs, any other
// count (0 included) for the rest, so that the range rule meets the inputs that get that far.
int rangeBlocksFor(std::size_t size)
{
    return size % 2 == 0 ? kImageBlockCount : static_cast<int>((size / 2) % (kImageBlockCount + 1));
}

// Walks the records one by one.
void walkRecords(std::span<const std::uint8_t> text)
{
    const auto lineEnds = static_cast<std::int32_t>(std::count_if(text.begin(), text.end(),
                                                                  [](std::uint8_t c) { return c == '\n' || c == '\r'; }));
    HexRecordState state;
    HexRecord record;
    FirmwareProblem problem;
    std::size_t previousPosition = 0;
    std::int32_t previousLine = 1;
    for (;;) {
        const HexStep step = nextHexRecord(text, state, record, problem);
        check(state.readPosition <= text.size());
        check(state.line >= previousLine && state.line <= lineEnds + 1);
        if (step == HexStep::EndOfText) {
            check(state.readPosition == text.size() && !problem.found());
            return;
        }
        if (step == HexStep::Problem) {
            check(problem.found() && problem.line >= 1 && problem.line <= lineEnds + 1);
            check(problem.record >= 0 && problem.record <= state.recordCount);
            return;
        }
        check(state.readPosition > previousPosition);
        check(record.number == state.recordCount && record.line >= previousLine);
        check(record.address >= 0 && record.address <= 0xFFFF);
        previousPosition = state.readPosition;
        previousLine = state.line;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> text(data, size);
    walkRecords(text);

    const int rangeBlocks = rangeBlocksFor(size);
    const FirmwareCheck checked = checkFirmwareText(text, rangeBlocks);
    check(firmwareProblemName(checked.problem.kind) != "unknown");
    check(checked.problem.record >= 0 && checked.problem.line >= 0);
    // The update's load (which clears the image first: about 1-2 us of the 30-40 us an
    // execution takes here) finds what the check found.
    const FirmwareCheck loaded = loadFirmwareImage(text, rangeBlocks);
    check(loaded.problem.kind == checked.problem.kind && loaded.problem.line == checked.problem.line &&
          loaded.problem.record == checked.problem.record && loaded.problem.address == checked.problem.address &&
          loaded.dataRecords == checked.dataRecords && loaded.highestAddress == checked.highestAddress);
    if (checked.problem.found()) {
        return 0;
    }
    // A usable file: at least one data byte, and nothing but 0xFF beyond the range.
    check(checked.dataRecords > 0 && checked.highestAddress >= 0);
    const auto rangeEnd = static_cast<std::ptrdiff_t>(rangeBlocks) * static_cast<std::ptrdiff_t>(kBlockSizeBytes);
    check(std::all_of(firmwareImage.begin() + rangeEnd, firmwareImage.end(), [](std::uint8_t b) { return b == 0xFF; }));
    return 0;
}
