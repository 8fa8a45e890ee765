// SPDX-License-Identifier: MIT
// A temporary directory for one test, removed with everything in it when the test ends,
// and helpers to put plain or storage-encoded files into it.
#pragma once

#include "files/data_file.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

class TempDir {
public:
    TempDir()
    {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto candidate = base / ("vf-files-test-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                path_ = candidate;
            }
        }
    }
    ~TempDir()
    {
        std::error_code error;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, error);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool valid() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    std::string file(std::string_view name) const { return (path_ / name).string(); }

    // Writes bytes to name as they are.
    std::string writeRaw(std::string_view name, std::string_view bytes) const
    {
        const std::string target = file(name);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return target;
    }

    // Writes text to name in the storage encoding, as the updater's data files are stored.
    std::string writeEncoded(std::string_view name, std::string_view text) const
    {
        std::string encoded(text.size(), '\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<std::uint8_t>(text[i]);
            encoded[i] = static_cast<char>(static_cast<std::uint8_t>((byte << 4) | (byte >> 4)));
        }
        return writeRaw(name, encoded);
    }

    std::string readRaw(std::string_view name) const
    {
        std::ifstream in(file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path path_;
};

inline std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
