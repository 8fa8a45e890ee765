// SPDX-License-Identifier: MIT
// The command line of varnoflex-cli: options in short and long form ("--name VALUE" and
// "--name=VALUE"), and the help text with the table of exit statuses.
#include "cli/cli_options.h"

#include "link/latency_timer.h"
#include "update/result_codes.h"

#include <string_view>

namespace {

constexpr std::size_t kSerialLength = 8;

// Splits "--name=value" into its two parts; the value is empty without "=".
bool splitInlineValue(std::string_view argument, std::string_view& name, std::string_view& value)
{
    const auto equals = argument.find('=');
    if (!argument.starts_with("--") || equals == std::string_view::npos) {
        name = argument;
        return false;
    }
    name = argument.substr(0, equals);
    value = argument.substr(equals + 1);
    return true;
}

}  // namespace

bool isConverterSerial(std::string_view text)
{
    if (text.size() != kSerialLength) return false;
    for (char c : text) {
        const bool letterOrDigit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letterOrDigit) return false;
    }
    return true;
}

namespace {

// 1 to 255 in decimal digits.
bool parseLatencyTimer(std::string_view text, int& milliseconds)
{
    if (text.empty() || text.size() > 3) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    milliseconds = value;
    return value >= kLatencyTimerMinMs && value <= kLatencyTimerMaxMs;
}

}  // namespace

bool parseCliOptions(std::span<const std::string> arguments, CliOptions& options, std::string& error)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        std::string_view name;
        std::string_view value;
        const bool hasInlineValue = splitInlineValue(argument, name, value);

        const bool takesValue = name == "-d" || name == "--data-dir" || name == "--language" ||
                                name == "--serial" || name == "--json" || name == "--trace" ||
                                name == "--event-fd" || name == "--stop-event" ||
                                name == "--set-latency-timer";
        if (takesValue && !hasInlineValue) {
            if (i + 1 >= arguments.size()) {
                error = "option " + std::string(name) + " needs a value";
                return false;
            }
            value = arguments[++i];
        } else if (!takesValue && hasInlineValue) {
            error = "option " + std::string(name) + " takes no value";
            return false;
        }

        if (name == "-d" || name == "--data-dir") {
            if (value.empty()) {
                error = "option " + std::string(name) + " needs a directory";
                return false;
            }
            options.dataDir = std::string(value);
        } else if (name == "--language") {
            if (value == "en") {
                options.language = kLanguageEnglish;
            } else if (value == "de") {
                options.language = kLanguageGerman;
            } else {
                error = "--language takes en or de, not \"" + std::string(value) + "\"";
                return false;
            }
        } else if (name == "--serial") {
            if (!isConverterSerial(value)) {
                error = "--serial takes the converter's 8 letters and digits, not \"" + std::string(value) + "\"";
                return false;
            }
            options.serial = std::string(value);
        } else if (name == "--json" || name == "--trace") {
            if (value.empty()) {
                error = "option " + std::string(name) + " needs a file name";
                return false;
            }
            (name == "--json" ? options.jsonFile : options.traceFile) = std::string(value);
        } else if (name == "--set-latency-timer") {
            int milliseconds = 0;
            if (!parseLatencyTimer(value, milliseconds)) {
                error = "--set-latency-timer takes 1 to 255 milliseconds, not \"" + std::string(value) + "\"";
                return false;
            }
            options.setLatencyTimerMs = milliseconds;
        } else if (name == "--event-fd" || name == "--stop-event") {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) {
                error = "option " + std::string(name) + " takes a number, not \"" + std::string(value) + "\"";
                return false;
            }
            (name == "--event-fd" ? options.eventFd : options.stopEvent) = std::string(value);
        } else if (name == "--all") {
            options.all = true;
        } else if (name == "--check") {
            options.check = true;
        } else if (name == "--skip-current") {
            options.skipCurrent = true;
        } else if (name == "-y" || name == "--accept-safety") {
            options.acceptSafety = true;
        } else if (name == "--list") {
            options.list = true;
        } else if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else {
            error = (argument.starts_with("-") ? "unknown option " : "unexpected argument ")
                    + std::string(argument);
            return false;
        }
    }
    if (options.all && options.serial) {
        error = "--all and --serial exclude each other";
        return false;
    }
    if (options.check && options.skipCurrent) {
        error = "--check and --skip-current exclude each other (--check never updates)";
        return false;
    }
    if (options.all && (options.eventFd || options.stopEvent)) {
        error = "--all sends no events of its own (--event-fd and --stop-event are for one unit)";
        return false;
    }
    if (options.traceFile && *options.traceFile == "-") {
        error = "--trace needs a file name (\"-\" is not one)";
        return false;
    }
    return true;
}

const char* cliUsageText()
{
    return
        "Usage: varnoflex-cli [OPTIONS]\n"
        "Writes the firmware that the device list offers into the connected varnoflex flash\n"
        "unit, through its FTDI USB-serial converter; or checks whether the unit already\n"
        "holds it, without writing anything.\n"
        "\n"
        "The data files (devicelist.ovk, the firmware files it names, SecurityGB.ovk and\n"
        "SecurityD.ovk) are read from the working directory or from DIR.\n"
        "The safety instructions are shown and must be accepted before the update starts.\n"
        "\n"
        "Options:\n"
        "  -d, --data-dir DIR    read the data files from DIR\n"
        "  -y, --accept-safety   accept the safety instructions without asking\n"
        "                        (needed when standard input is not a terminal)\n"
        "      --language en|de  language of texts and messages (default: German when\n"
        "                        LC_ALL, LC_MESSAGES or LANG starts with \"de\", else English)\n"
        "      --list            list the FTDI converters found and the device list entries\n"
        "                        they match; opens no port\n"
        "      --serial SERIAL   update only the unit behind the converter with this serial\n"
        "                        (8 characters); only the device list entries naming it are tried\n"
        "      --all             update (or check) every unit behind a listed converter at the\n"
        "                        same time, one process per converter, then print a summary table\n"
        "      --check           do not update: say whether the unit holds the firmware the\n"
        "                        device list names (its checksum, then every block compared by\n"
        "                        the unit itself); nothing is erased or written\n"
        "      --skip-current    check first and update only a unit that does not hold the\n"
        "                        firmware; a unit that holds it is left alone\n"
        "      --json FILE       write a JSON report of the run to FILE (\"-\": standard output;\n"
        "                        the other output then goes to standard error)\n"
        "      --trace FILE      write every read, write, speed change and wait on the port to\n"
        "                        FILE; with --all one file per unit, the serial in its name\n"
        "      --set-latency-timer MS\n"
        "                        Windows, as administrator: set the latency timer of the device\n"
        "                        list's converters to MS (1 to 255; 1 makes the update fastest);\n"
        "                        the FTDI driver takes it when the converter is plugged in again\n"
        "      --event-fd N      write the update's events, one JSON object a line, to the\n"
        "                        inherited descriptor (Windows: handle) N; the machine interface\n"
        "                        of --all's child processes (see the man page)\n"
        "      --stop-event N    Windows: stop the update as on Ctrl-Break once the inherited\n"
        "                        event N is set (how --all stops its child processes)\n"
        "  -h, --help            show this help\n"
        "      --version         show the version\n"
        "\n"
        "Exit status:\n"
        "   0  update finished (OK_UPDATE_FINISHED); --check: the unit holds the firmware;\n"
        "      --skip-current: the unit holds it and was left alone, or it was updated;\n"
        "      --list, --help, --version done\n"
        "   2  ERROR_OPEN_FILE             firmware file not found or not readable\n"
        "   3  ERROR_READ_FILE             firmware file damaged, cut short or too large for\n"
        "                                  the unit; nothing written (the problem is named)\n"
        "   4  ERROR_OPEN_FILE_LIST        device list not found or not readable\n"
        "   6  ERROR_NO_FTDI_DRIVER        FTDI converters cannot be enumerated\n"
        "   7  ERROR_NO_DRIVER_ENTRY       no converter named in the device list found\n"
        "   8  NO_DEVICE_DETECTED          no flash unit answered\n"
        "  10  ERROR_ERASE_BEFORE_PROGRAM  memory not blank and erase failed\n"
        "  11  ERROR_SET_MODE              program mode refused\n"
        "  12  ERROR_WRITE_BLOCK           a block was not acknowledged while writing\n"
        "  13  ERROR_INTERNAL_VERIFY       no acknowledgement of the unit's own check\n"
        "  14  ERROR_CHECKSUM              checksum missing or different\n"
        "  15  ERROR_VERIFY_COMMAND        verify command refused\n"
        "  16  ERROR_VERIFY                a block did not match while verifying\n"
        "  17  ERROR_UPDATE_EXCEPTION      the update ended without a result\n"
        "  24  --check: the unit does not hold the firmware (its checksum differs, or it\n"
        "      refused a block); nothing written\n"
        "  25  --check, --skip-current: the unit stopped answering during the check (no\n"
        "      checksum, verify command not acknowledged, a block unanswered); nothing written\n"
        "  64  bad command line; --serial names a converter no device list entry names\n"
        "  65  safety instructions not accepted (declined, or no terminal and no -y)\n"
        "  66  data directory or safety instructions not readable\n"
        "  70  internal error (the worker thread could not be started)\n"
        "  73  the --json report or the --trace file cannot be made or completely written\n"
        "      (when it cannot be made, nothing is sent to any unit)\n"
        "  74  --set-latency-timer: the registry could not be written\n"
        "  75  --all: two converters carry the same serial; neither is updated\n"
        "  77  --set-latency-timer: administrator rights needed\n"
        " 130  update stopped by a second Ctrl-C within 5 seconds (the first one only warns;\n"
        "      a check, which writes nothing, stops at the first)\n"
        " 143  update stopped by SIGTERM\n"
        "      --all: 0 when every unit finished (--check: holds its firmware), else the status\n"
        "      of the first unit in converter order that did not; 130 or 143 when stopped\n"
        "      (Ctrl-C twice, SIGTERM; a check, once)\n"
        "Other result codes (1 to 22) end the program with their own number.\n";
}
