// SPDX-License-Identifier: MIT
// Command-line options of the simulated unit, shared by vf-sim and vf-testbed so that both
// programs take the same options with the same meaning.
#include "sim/simulated_unit.h"
#include "sim/ft232r_model.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr std::uint32_t kMaxEndAddress = 0x1FFFFF;   // three 7-bit groups in the info reply
constexpr std::uint32_t kBigRangeEndAddress = 0x03FFFF;
// The info reply's data must fit the host's 98-byte reply buffer: 9 bytes besides the name.
constexpr std::size_t kMaxDeviceNameLength = 89;
constexpr std::size_t kBlockSizeBytes = 256;

// Splits "--option=value" so that both "--option value" and "--option=value" work.
struct SplitArgument {
    std::string name;
    std::optional<std::string> inlineValue;
};

SplitArgument splitArgument(const char* argument) {
    std::string text(argument);
    const auto equals = text.find('=');
    if (text.rfind("--", 0) == 0 && equals != std::string::npos) {
        return {text.substr(0, equals), text.substr(equals + 1)};
    }
    return {text, std::nullopt};
}

bool takeValue(int argc, char** argv, int& i, const SplitArgument& argument, std::string& value,
               std::string& error) {
    if (argument.inlineValue) {
        value = *argument.inlineValue;
        return true;
    }
    if (i + 1 >= argc) {
        error = argument.name + " needs a value";
        return false;
    }
    value = argv[++i];
    return true;
}

bool parseHex(const std::string& text, std::uint32_t& value) {
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    value = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
}

bool parseDecimal(const std::string& text, int& value) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::atoi(text.c_str());
    return true;
}

bool parseFault(const std::string& text, SimFaults& faults, std::string& error) {
    const auto equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const std::optional<std::string> number =
        equals == std::string::npos ? std::nullopt : std::optional<std::string>(text.substr(equals + 1));

    struct Flag {
        const char* name;
        bool SimFaults::*member;
    };
    static constexpr Flag kFlags[] = {
        {"silent", &SimFaults::silent},
        {"refuse-connect", &SimFaults::refuseConnect},
        {"refuse-speed2", &SimFaults::refuseSecondSpeed},
        {"long-info", &SimFaults::longInfoReply},
        {"short-info", &SimFaults::shortInfoReply},
        {"big-range", &SimFaults::bigRange},
        {"erase-refused", &SimFaults::eraseRefused},
        {"blank-second-check", &SimFaults::blankAtSecondCheck},
        {"program-refused", &SimFaults::programModeRefused},
        {"no-final-ack", &SimFaults::noFinalAck},
        {"wrong-checksum", &SimFaults::wrongChecksum},
        {"verify-refused", &SimFaults::verifyRefused},
        {"garbage-before-reply", &SimFaults::garbageBeforeReply},
        {"keep-latency-timer", &SimFaults::keepLatencyTimer},
    };
    for (const Flag& flag : kFlags) {
        if (name == flag.name) {
            if (number) {
                error = "fault " + name + " takes no block number";
                return false;
            }
            faults.*(flag.member) = true;
            return true;
        }
    }

    struct Numbered {
        const char* name;
        int SimFaults::*member;
    };
    static constexpr Numbered kNumbered[] = {
        {"refuse-write-block", &SimFaults::refuseWriteBlock},
        {"refuse-verify-block", &SimFaults::refuseVerifyBlock},
        {"hang-up-after-block", &SimFaults::hangUpAfterBlock},
        {"mute-after-block", &SimFaults::muteAfterBlock},
    };
    for (const Numbered& numbered : kNumbered) {
        if (name == numbered.name) {
            int block = 0;
            if (!number || !parseDecimal(*number, block)) {
                error = "fault " + name + " needs a block number: " + name + "=N";
                return false;
            }
            faults.*(numbered.member) = block;
            return true;
        }
    }
    error = "unknown fault: " + name;
    return false;
}

}  // namespace

bool parseSimOption(int argc, char** argv, int& i, SimOptions& options, std::string& error) {
    const SplitArgument argument = splitArgument(argv[i]);
    const std::string& name = argument.name;
    std::string value;

    if (name == "--old-firmware" || name == "--pace" || name == "--ft232r") {
        if (argument.inlineValue) {
            error = name + " takes no value";
            return false;
        }
        (name == "--pace" ? options.pace : name == "--ft232r" ? options.ft232r : options.oldFirmware) = true;
        return true;
    }
    if (name == "--latency-timer") {
        if (!takeValue(argc, argv, i, argument, value, error)) return false;
        int milliseconds = 0;
        if (!parseDecimal(value, milliseconds) || milliseconds < Ft232rModel::kMinLatencyMs ||
            milliseconds > Ft232rModel::kMaxLatencyMs) {
            error = "--latency-timer takes 1 to 255 milliseconds, not \"" + value + "\"";
            return false;
        }
        options.latencyTimerMs = milliseconds;
        return true;
    }
    if (name == "--end-address") {
        if (!takeValue(argc, argv, i, argument, value, error)) return false;
        std::uint32_t address = 0;
        if (!parseHex(value, address) || address > kMaxEndAddress) {
            error = "--end-address needs a hexadecimal address up to 1FFFFF, not \"" + value + "\"";
            return false;
        }
        options.endAddress = address;
        return true;
    }
    if (name == "--name") {
        if (!takeValue(argc, argv, i, argument, value, error)) return false;
        if (value.size() > kMaxDeviceNameLength) {
            error = "--name holds at most 89 characters";
            return false;
        }
        for (char c : value) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
                error = "--name takes printable ASCII characters only";
                return false;
            }
        }
        options.deviceName = value;
        return true;
    }
    if (name == "--memory-in" || name == "--memory-out" || name == "--record" ||
        name == "--timing") {
        if (!takeValue(argc, argv, i, argument, value, error)) return false;
        if (value.empty()) {
            error = name + " needs a file name";
            return false;
        }
        if (name == "--memory-in") options.memoryInFile = value;
        else if (name == "--memory-out") options.memoryOutFile = value;
        else if (name == "--record") options.recordFile = value;
        else options.timingFile = value;
        return true;
    }
    if (name == "--fault") {
        if (!takeValue(argc, argv, i, argument, value, error)) return false;
        return parseFault(value, options.faults, error);
    }
    error = "unknown option: " + std::string(argv[i]);
    return false;
}

std::uint32_t simReportedEndAddress(const SimOptions& options) {
    return options.faults.bigRange ? kBigRangeEndAddress : options.endAddress;
}

bool checkSimOptions(const SimOptions& options, std::string& error) {
    if (options.latencyTimerMs && !options.ft232r) {
        error = "--latency-timer is the FT232R model's: give --ft232r too";
        return false;
    }
    const std::uint32_t endAddress = simReportedEndAddress(options);
    const int blockCount = static_cast<int>((endAddress + 1) / kBlockSizeBytes);
    if (options.memoryInFile) {
        struct stat info {};
        if (stat(options.memoryInFile->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            error = "cannot read the memory file " + *options.memoryInFile;
            return false;
        }
        if (static_cast<std::uint64_t>(info.st_size) > static_cast<std::uint64_t>(endAddress) + 1) {
            error = "the memory file " + *options.memoryInFile + " is larger than the address range";
            return false;
        }
    }
    const SimFaults& faults = options.faults;
    for (int block : {faults.refuseWriteBlock, faults.refuseVerifyBlock, faults.hangUpAfterBlock, faults.muteAfterBlock}) {
        if (block >= blockCount) {
            error = "fault block " + std::to_string(block) + " is beyond the last block (" +
                    std::to_string(blockCount - 1) + ")";
            return false;
        }
    }
    return true;
}

const char* simOptionsHelp() {
    return "Simulated unit options:\n"
           "  --end-address HEX     end address the unit reports (default 01FFFF, at most 1FFFFF)\n"
           "  --name TEXT           device name in the information reply (default \"VF-SIM FLASH\")\n"
           "  --memory-in FILE      initial memory, raw bytes (shorter files are padded with FF)\n"
           "  --old-firmware        start with older firmware in memory instead of blank\n"
           "  --memory-out FILE     write the memory (end address + 1 bytes) at the end\n"
           "  --record FILE         write what the unit saw, one event per line\n"
           "  --timing FILE         write when each frame came and each reply went, one line per\n"
           "                        frame: \"frame BYTES START TAKEN REPLYBYTES REPLYSTART REPLYLAST\"\n"
           "                        (steady clock, ns; REPLY* 0 when the unit did not answer)\n"
           "  --pace                take the wire time of every byte (10 bits at the line rate)\n"
           "  --ft232r              hand the replies to the host as the converter's FT232R would:\n"
           "                        62-byte USB packets, the latency timer, 1 ms USB frames; the\n"
           "                        record ends with what it held back (\"converter: ...\")\n"
           "  --latency-timer MS    the converter's latency timer, 1 to 255 ms (default 16); the\n"
           "                        host's low-latency request (vf-testbed) makes it 1 ms\n"
           "  --fault NAME[=N]      show a fault (repeatable):\n"
           "      silent, refuse-connect, refuse-speed2, long-info, short-info, big-range, erase-refused,\n"
           "      blank-second-check, program-refused, refuse-write-block=N, no-final-ack,\n"
           "      wrong-checksum, verify-refused, refuse-verify-block=N, hang-up-after-block=N,\n"
           "      mute-after-block=N (no answer any more after block N), garbage-before-reply,\n"
           "      keep-latency-timer\n"
           "    silent, big-range and mute-after-block last the whole run; refuse-write-block and\n"
           "    refuse-verify-block hit the first write or verify pass only, hang-up-after-block\n"
           "    and mute-after-block the first write pass, or the verify pass of a check when\n"
           "    nothing was written before; every other fault shows once, at its first occasion.\n"
           "    keep-latency-timer (vf-testbed) is the converter's driver keeping its latency\n"
           "    timer despite the low-latency request.\n";
}
