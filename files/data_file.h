// SPDX-License-Identifier: MIT
// Whole-file loading of the program's data files. Every data file (device list, firmware,
// help and safety texts) is stored with the two 4-bit halves of each byte exchanged; the
// loader undoes that while reading, and saveDataFile applies it while writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The decoded bytes of one data file, exactly as long as the file (no terminator added).
using DataBuffer = std::vector<std::uint8_t>;

// Writes to each destination byte its source byte with the two halves exchanged.
// Both spans must have the same size; extra bytes of the longer one are left alone.
void swapNibbles(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination);

// Reads the whole file at path and undoes the storage encoding. Nothing when the file is
// missing, cannot be opened, sized or read in full. An empty file gives an empty buffer.
std::optional<DataBuffer> loadDataFile(const std::string& path);

// Applies the storage encoding to text and writes it to path (replacing the file).
// Used by the encoding tool and the tests; the updater itself writes no files.
bool saveDataFile(const std::string& path, std::span<const std::uint8_t> text);
