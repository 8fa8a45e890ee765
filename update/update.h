// SPDX-License-Identifier: MIT
// Identification of the connected flash unit and the firmware update sequence.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct DeviceListEntry;

// The device list entry whose device answered the last successful identification.
extern const DeviceListEntry* selectedEntry;

// Reloads the device list, finds the listed converters' ports and tries the entries in file
// order; on 0 the port is open at 115200 baud and selectedEntry is set. Returns 0, 4, 6, 7
// or 8. A device reporting more blocks than the firmware image holds, or none at all (end
// address below 0xFF), counts as not answering.
std::uint8_t connectDevice();

// Limits the identification to the converter with this serial: only its ports are opened
// and only the device list entries naming it are tried (no such converter present: 7).
// Empty: every listed converter, as by default. Set it before the worker starts.
void restrictToConverter(std::string_view serial);

// The whole update: identification, firmware load and whole-file check (a firmware file
// that fails it ends the update with ERROR_READ_FILE before anything is sent to the unit,
// its problem told to the display), blank check or erase, program mode, write pass, the
// device's check, checksum comparison, verify pass. Every end stores its result code with
// storeResult (9 and 22 may be stored on the way).
void runUpdate();

// The check value of the write pass, to be compared with the unit's checksum: for every byte
// b sent, checkValue := checkValue - (0xFF00 | b) modulo 65536, which makes it 0 minus the sum
// of all bytes sent. Returns checkValue with the bytes of block added.
std::uint16_t addToCheckValue(std::uint16_t checkValue, std::span<const std::uint8_t> block);

// The check value of the firmware image's first blockCount blocks (0 to 512), as the write
// pass would compute it.
std::uint16_t imageCheckValue(int blockCount);

// Loads the firmware file of entry into firmwareImage and checks it as a whole for a unit of
// rangeBlocks blocks, as the update does before anything is sent to the unit. Returns
// ERROR_OPEN_FILE when it cannot be read (or its path does not fit the path buffer),
// ERROR_READ_FILE when it fails the check (its problem told to the display), else RESULT_NONE.
std::uint8_t loadEntryFirmware(const DeviceListEntry& entry, int rangeBlocks);
