// SPDX-License-Identifier: MIT
// Fuzz target: the firmware HEX reader on arbitrary decoded text. Besides the sanitizers'
// checks it asserts that the reader only moves forward and stays inside the text.
#include "files/firmware_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return 0;
    }
    const std::span<const std::uint8_t> text(data, size);

    HexRecordState state;
    state.textLength = static_cast<std::int32_t>(size);
    HexRecord record;
    std::int32_t previous = 0;
    while (nextHexRecord(text, state, record)) {
        if (state.readPosition <= previous || state.readPosition > state.textLength ||
            record.address < 0 || record.address > 0xFFFF) {
            std::abort();
        }
        previous = state.readPosition;
    }
    if (state.readPosition < 0 || state.readPosition > state.textLength) {
        std::abort();
    }

    if (!loadFirmwareImage(text)) {
        std::abort();
    }
    return 0;
}
