// SPDX-License-Identifier: MIT
// The byte formatting that the link tests share, for the Windows build of the portable
// tests (the POSIX build takes it from the pty peer, which Windows cannot build).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

std::string hex(const Bytes& bytes)
{
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    return text;
}
