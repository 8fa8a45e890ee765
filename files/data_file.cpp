// SPDX-License-Identifier: MIT
// Whole-file loading and saving of the program's data files, with the storage encoding
// (the two 4-bit halves of every byte exchanged) undone on reading and applied on writing.
#include "files/data_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

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
    // Only regular files (or links to them) are data files: a directory opens on some
    // systems and reports a meaningless size, and a FIFO would block the caller.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), error)) {
        return std::nullopt;
    }

    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        return std::nullopt;
    }
    const long size = std::ftell(file.get());
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return std::nullopt;
    }

    DataBuffer buffer;
    try {
        buffer.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }

    if (!buffer.empty() && std::fread(buffer.data(), 1, buffer.size(), file.get()) != buffer.size()) {
        return std::nullopt;
    }

    // Decoding in place: every byte depends only on itself.
    swapNibbles(buffer, buffer);
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
