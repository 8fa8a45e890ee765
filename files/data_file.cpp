// SPDX-License-Identifier: MIT
// Whole-file loading and saving of the program's data files, with the storage encoding
// (the two 4-bit halves of every byte exchanged) undone on reading and applied on writing.
#include "files/data_file.h"
#include "files/file_system.h"

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::uint8_t swapHalves(std::uint8_t byte)
{
    return static_cast<std::uint8_t>((byte << 4) | (byte >> 4));
}

}  // namespace

void swapNibbles(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination)
{
    const std::size_t count = source.size() < destination.size() ? source.size() : destination.size();
    for (std::size_t i = 0; i < count; ++i) {
        destination[i] = swapHalves(source[i]);
    }
}

std::optional<DataBuffer> loadDataFile(const std::string& path)
{
    // A zero byte would end the name the system is given: another file than the one meant.
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    std::optional<DataBuffer> buffer = readRegularFile(path);
    if (buffer) {
        // Decoding in place: every byte depends only on itself.
        swapNibbles(*buffer, *buffer);
    }
    return buffer;
}

bool saveDataFile(const std::string& path, std::span<const std::uint8_t> text)
{
    DataBuffer encoded(text.size());
    swapNibbles(text, encoded);

    FileHandle file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        return false;
    }
    if (!encoded.empty() && std::fwrite(encoded.data(), 1, encoded.size(), file.get()) != encoded.size()) {
        return false;
    }
    // fclose flushes; its result tells whether the bytes reached the file.
    return std::fclose(file.release()) == 0;
}
