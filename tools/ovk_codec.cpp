// SPDX-License-Identifier: MIT
// ovk-codec: converts files to and from the storage encoding of the updater's data files
// (the two 4-bit halves of every byte exchanged), optionally converting texts between
// UTF-8 and Windows-1252 on the way, and checks device lists.
#include "files/data_file.h"
#include "files/device_list.h"
#include "files/firmware_image.h"
#include "files/texts.h"
#include "update/result_codes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::size_t kConverterSerialLength = 8;   // the converter serials the discovery reads
constexpr std::uint32_t kHighestEndAddress = 0x1FFFFF;   // 21 bits, as the unit reports it

const char* const kUsage =
    "Usage:\n"
    "  ovk-codec encode [--from-utf8] IN OUT   plain file -> storage encoding\n"
    "  ovk-codec decode [--to-utf8] IN OUT     storage encoding -> plain file\n"
    "  ovk-codec check-devicelist [--end-address HEX] FILE\n"
    "                                          load a device list, print its entries and\n"
    "                                          check every firmware file it names\n"
    "  ovk-codec check-firmware [--end-address HEX] FILE\n"
    "                                          check one stored firmware file\n"
    "  ovk-codec --help\n"
    "\n"
    "IN or OUT may be \"-\" for standard input or output.\n"
    "--from-utf8      the input text is UTF-8; it is stored as Windows-1252\n"
    "--to-utf8        the stored Windows-1252 text is written as UTF-8\n"
    "--end-address    the end address of the unit the firmware is for (e.g. FFFF for 64 KiB):\n"
    "                 data other than 0xFF beyond it is a problem; default 1FFFF, the\n"
    "                 largest unit the updater takes (512 blocks)\n"
    "The firmware check is the one the updater makes before it sends anything to a unit: a\n"
    "file with a problem (a bad character or checksum, a record or the file cut short, no\n"
    "data, data beyond the unit, an extended linear address) ends the update with\n"
    "ERROR_READ_FILE. Both checks exit 0 when everything can be used, 1 when not.\n";

void fail(const std::string& message)
{
    std::fprintf(stderr, "ovk-codec: %s\n", message.c_str());
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::optional<DataBuffer> readAll(std::FILE* stream)
{
    DataBuffer bytes;
    std::uint8_t chunk[65536];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, stream)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
    if (std::ferror(stream)) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<DataBuffer> readInput(const std::string& path)
{
    if (path == "-") {
        return readAll(stdin);
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    return readAll(file.get());
}

bool writeOutput(const std::string& path, const DataBuffer& bytes)
{
    if (path == "-") {
        return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string_view asText(const DataBuffer& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

DataBuffer asBytes(std::string_view text)
{
    return DataBuffer(text.begin(), text.end());
}

int encodeFile(const std::string& in, const std::string& out, bool fromUtf8)
{
    std::optional<DataBuffer> plain = readInput(in);
    if (!plain) {
        fail("cannot read " + in);
        return kExitFailed;
    }
    if (fromUtf8) {
        std::string converted;
        std::size_t errorOffset = 0;
        if (!utf8ToCp1252(asText(*plain), converted, errorOffset)) {
            fail(in + ": byte " + std::to_string(errorOffset) +
                 ": not valid UTF-8 or a character that Windows-1252 does not have");
            return kExitFailed;
        }
        plain = asBytes(converted);
    }
    DataBuffer encoded(plain->size());
    swapNibbles(*plain, encoded);
    if (!writeOutput(out, encoded)) {
        fail("cannot write " + out);
        return kExitFailed;
    }
    return kExitOk;
}

int decodeFile(const std::string& in, const std::string& out, bool toUtf8)
{
    std::optional<DataBuffer> plain;
    if (in == "-") {
        plain = readAll(stdin);
        if (plain) {
            swapNibbles(*plain, *plain);
        }
    } else {
        plain = loadDataFile(in);
    }
    if (!plain) {
        fail("cannot read " + in);
        return kExitFailed;
    }
    if (toUtf8) {
        plain = asBytes(cp1252ToUtf8(asText(*plain)));
    }
    if (!writeOutput(out, *plain)) {
        fail("cannot write " + out);
        return kExitFailed;
    }
    return kExitOk;
}

// What the updater would make of a firmware file for a unit of rangeBlocks blocks: its data
// records, where they reach, and the first problem that would make the update refuse it.
// False when the file cannot be read or has a problem.
bool describeFirmware(const std::string& path, int rangeBlocks, const char* indent)
{
    const std::optional<DataBuffer> text = loadDataFile(path);
    if (!text) {
        std::printf("%sfirmware: cannot be read (the update would end with ERROR_OPEN_FILE)\n", indent);
        return false;
    }
    const FirmwareCheck check = checkFirmwareText(*text, rangeBlocks);
    std::printf("%sfirmware: %ld data records", indent, static_cast<long>(check.dataRecords));
    if (check.highestAddress >= 0) {
        std::printf(", highest address 0x%05llX", static_cast<unsigned long long>(check.highestAddress));
    }
    std::printf("\n");
    if (check.problem.found()) {
        std::printf("%sproblem (the update would end with ERROR_READ_FILE): %s\n", indent,
                    cp1252ToUtf8(firmwareProblemText(check.problem, kLanguageEnglish)).c_str());
        return false;
    }
    return true;
}

// The block count of a unit reporting endAddress, as the identification computes it.
int blocksOf(std::uint32_t endAddress)
{
    return static_cast<int>((endAddress + 1) >> 8);
}

int checkDeviceList(const std::string& path, std::uint32_t endAddress)
{
    DeviceList list;
    DeviceListProblem problem;
    const bool loaded = loadDeviceList(list, path, problem);
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();

    std::printf("%s: %d %s\n", path.c_str(), list.entryCount(), list.entryCount() == 1 ? "entry" : "entries");
    std::printf("firmware files checked for a unit with end address 0x%05lX (%d blocks)\n",
                static_cast<unsigned long>(endAddress), blocksOf(endAddress));
    bool firmwareUsable = true;
    for (int i = 0; i < list.entryCount(); ++i) {
        const DeviceListEntry& entry = list.entry(i);
        std::printf("  entry %d\n", i + 1);
        std::printf("    model:            \"%s\"\n", cp1252ToUtf8(entry.modelName).c_str());
        std::printf("    target:           \"%s\"\n", cp1252ToUtf8(entry.targetName).c_str());
        std::printf("    converter serial: \"%s\"\n", cp1252ToUtf8(entry.converterSerial).c_str());
        std::printf("    firmware version: \"%s\"\n", cp1252ToUtf8(entry.firmwareVersion).c_str());
        std::printf("    firmware file:    \"%s\"\n", cp1252ToUtf8(entry.firmwareFile).c_str());
        if (entry.converterSerial.size() != kConverterSerialLength) {
            std::printf("    warning: the converter serial is not %zu characters long and can never match\n",
                        kConverterSerialLength);
        }
        int first = 0;
        if (list.findBySerial(entry.converterSerial, first) && first != i) {
            std::printf("    warning: entry %d has the same converter serial and is tried first\n", first + 1);
        }
        firmwareUsable = describeFirmware((directory / entry.firmwareFile).string(), blocksOf(endAddress), "    ") &&
                         firmwareUsable;
    }
    if (!loaded) {
        fail(path + ": " + describeDeviceListProblem(problem));
        return kExitFailed;
    }
    return firmwareUsable ? kExitOk : kExitFailed;
}

int checkFirmware(const std::string& path, std::uint32_t endAddress)
{
    std::printf("%s: checked for a unit with end address 0x%05lX (%d blocks)\n", path.c_str(),
                static_cast<unsigned long>(endAddress), blocksOf(endAddress));
    return describeFirmware(path, blocksOf(endAddress), "  ") ? kExitOk : kExitFailed;
}

// A unit's end address in hexadecimal, as the updater would take it: at least one whole
// block and at most the 512 of the firmware image.
bool parseEndAddress(std::string_view text, std::uint32_t& endAddress)
{
    if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
    if (text.empty() || text.size() > 6) return false;
    std::uint32_t value = 0;
    for (const char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0'
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    if (value > kHighestEndAddress || blocksOf(value) < 1 || blocksOf(value) > kImageBlockCount) return false;
    endAddress = value;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::vector<std::string> operands;
    bool fromUtf8 = false;
    bool toUtf8 = false;
    std::optional<std::uint32_t> endAddress;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (argument == "--from-utf8") {
            fromUtf8 = true;
        } else if (argument == "--to-utf8") {
            toUtf8 = true;
        } else if (argument == "--end-address" || argument.starts_with("--end-address=")) {
            std::string_view value;
            if (argument != "--end-address") {
                value = argument.substr(std::string_view("--end-address=").size());
            } else if (i + 1 < argc) {
                value = argv[++i];
            }
            std::uint32_t parsed = 0;
            if (!parseEndAddress(value, parsed)) {
                fail("--end-address needs a hexadecimal end address from FF to 1FFFF, not \"" + std::string(value) +
                     "\"");
                return kExitUsage;
            }
            endAddress = parsed;
        } else if (argument.size() > 1 && argument.front() == '-') {
            fail("unknown option " + std::string(argument) + " (see ovk-codec --help)");
            return kExitUsage;
        } else {
            operands.emplace_back(argument);
        }
    }
    if (operands.empty()) {
        fail("no command given (see ovk-codec --help)");
        return kExitUsage;
    }

    const std::string command = operands.front();
    const std::size_t arguments = operands.size() - 1;
    if (command == "encode" || command == "decode") {
        if (arguments != 2) {
            fail(command + " needs IN and OUT (see ovk-codec --help)");
            return kExitUsage;
        }
        if ((command == "encode" && toUtf8) || (command == "decode" && fromUtf8) || endAddress) {
            if (endAddress) {
                fail("--end-address does not apply to " + command);
                return kExitUsage;
            }
            fail(std::string(toUtf8 ? "--to-utf8" : "--from-utf8") + " does not apply to " + command);
            return kExitUsage;
        }
        return command == "encode" ? encodeFile(operands[1], operands[2], fromUtf8)
                                   : decodeFile(operands[1], operands[2], toUtf8);
    }
    if (command == "check-devicelist" || command == "check-firmware") {
        if (arguments != 1 || fromUtf8 || toUtf8) {
            fail(command + " needs exactly one FILE (see ovk-codec --help)");
            return kExitUsage;
        }
        const std::uint32_t unitEnd = endAddress.value_or(static_cast<std::uint32_t>(kImageBlockCount * kBlockSizeBytes - 1));
        return command == "check-devicelist" ? checkDeviceList(operands[1], unitEnd) : checkFirmware(operands[1], unitEnd);
    }
    fail("unknown command " + command + " (see ovk-codec --help)");
    return kExitUsage;
}
