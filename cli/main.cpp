// varnoflex-cli: the command-line updater. A thin front end over the same library and worker
// as the windowed program: it shows the safety instructions and asks for acceptance, then
// lets the worker show the first device list entry and run one update, printing the device
// lines, every result message and the progress, and exits with the update's result code.
#include "cli/cli_options.h"
#include "cli/cli_texts.h"
#include "cli/interrupts.h"
#include "cli/latency_hint.h"
#include "cli/run_all.h"
#include "cli/terminal_display.h"
#include "cli/unit_report.h"
#include "cli/update_stop.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/file_system.h"
#include "files/std_streams.h"
#include "files/texts.h"
#include "link/discovery.h"
#include "link/serial.h"
#include "update/display.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/update.h"
#include "update/worker.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define VF_ISATTY(stream) (_isatty(_fileno(stream)) != 0)
#else
#include <unistd.h>
#define VF_ISATTY(stream) (isatty(fileno(stream)) != 0)
#endif

#ifndef VF_VERSION
#define VF_VERSION "unknown"
#endif

namespace {

constexpr const char* kProgramName = "varnoflex-cli";
// How often the main thread takes the worker's reports: often enough for a smooth bar, rare
// enough that a run of several units side by side stays cheap (every wake-up costs CPU).
constexpr auto kPollInterval = std::chrono::milliseconds(20);

void printError(std::string_view text)
{
    std::fprintf(stderr, "%s: %.*s\n", kProgramName, static_cast<int>(text.size()), text.data());
}

std::string lowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// A device list field or a name from the system, for the terminal: control bytes as marks.
std::string shownField(std::string_view cp1252)
{
    return cp1252ToUtf8(markControlCharactersInLine(cp1252));
}

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Asks until the answer is the yes or no word (or its first letter); end of input declines.
bool askAcceptance(const CliTexts& texts)
{
    const std::string yes(texts.yesWord);
    const std::string no(texts.noWord);
    for (;;) {
        std::printf("%.*s [%s/%s] ", static_cast<int>(texts.acceptQuestion.size()),
                    texts.acceptQuestion.data(), yes.c_str(), no.c_str());
        std::fflush(stdout);
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            std::printf("\n");
            return false;
        }
        answer = lowerAscii(trimmed(answer));
        if (answer == yes || answer == yes.substr(0, 1)) return true;
        if (answer == no || answer == no.substr(0, 1)) return false;
    }
}

// Lists the converters and the device list entries whose converterSerial each one matches.
int listConverters(int lang)
{
    const CliTexts& texts = cliTexts(lang);
    std::vector<ConverterInfo> converters;
    if (!listFtdiConverters(converters)) {
        std::printf("%.*s\n", static_cast<int>(texts.listNoDriver.size()), texts.listNoDriver.data());
        return ERROR_NO_FTDI_DRIVER;
    }
    DeviceList devices;
    const bool listLoaded = loadDeviceList(devices, dataPaths.deviceListPath);

    if (converters.empty()) {
        std::printf("%.*s\n", static_cast<int>(texts.listNone.size()), texts.listNone.data());
    }
    for (const ConverterInfo& converter : converters) {
        const std::string port = converter.portName.empty() ? std::string(texts.listNoPort)
                                                            : shownField(converter.portName);
        std::printf("%.*s%s%.*s%s\n", static_cast<int>(texts.listConverter.size()),
                    texts.listConverter.data(), shownField(converter.serial).c_str(),
                    static_cast<int>(texts.listAt.size()), texts.listAt.data(), port.c_str());
        if (!listLoaded) continue;
        bool matched = false;
        for (int i = 0; i < devices.entryCount(); ++i) {
            const DeviceListEntry& entry = devices.entry(i);
            if (entry.converterSerial != converter.serial) continue;
            matched = true;
            std::printf("%.*s%d: %s%.*s%s%.*s%s\n", static_cast<int>(texts.listEntry.size()),
                        texts.listEntry.data(), i + 1, shownField(entry.modelName).c_str(),
                        static_cast<int>(texts.listFor.size()), texts.listFor.data(),
                        shownField(entry.targetName).c_str(),
                        static_cast<int>(texts.listFirmware.size()), texts.listFirmware.data(),
                        shownField(entry.firmwareVersion).c_str());
        }
        if (!matched) {
            std::printf("%.*s\n", static_cast<int>(texts.listNotInList.size()),
                        texts.listNotInList.data());
        }
    }
    std::fflush(stdout);
    if (!listLoaded) {
        printError(std::string(texts.listNoDeviceList) + " " + dataPaths.deviceListPath);
        return ERROR_OPEN_FILE_LIST;
    }
    return kExitSuccess;
}

// Passes the worker's reports to the terminal until done() holds.
void followWorker(TerminalDisplay& display, TerminalOutput& output, const std::function<bool()>& done)
{
    for (;;) {
        const bool finished = done();
        for (const DisplayEvent& event : display.takeEvents()) output.show(event);
        if (finished) return;
        std::this_thread::sleep_for(kPollInterval);
    }
}

// Runs the first display and one update on the worker thread; returns the exit status.
// The port is traced and the report written when the options ask for them.
int runUpdateOnWorker(int lang, const CliOptions& options)
{
    // What the converter's latency timer costs is said before the update begins.
    const std::map<std::string, int> latencyTimers =
        latencyTimerInRegistry() ? checkLatencyTimers(convertersToTry(options.serial), lang, stdout)
                                 : std::map<std::string, int>{};
    UnitRun unitRun;
    std::string error;
    if (options.traceFile && !unitRun.openTrace(*options.traceFile, error)) {
        printError("cannot write the trace " + *options.traceFile + ": " + error);
        return kExitNoSafetyText;
    }
    const bool stdoutIsTerminal = VF_ISATTY(stdout);
    const bool stderrIsTerminal = VF_ISATTY(stderr);
    std::FILE* progressStream = stdoutIsTerminal || !stderrIsTerminal ? stdout : stderr;
    TerminalDisplay display;
    TerminalOutput output(lang, stdout, progressStream, stdoutIsTerminal || stderrIsTerminal);

    setUpdateDisplay(&display);
    initSharedState();
    unitRun.start();
    if (!startWorker()) {
        setUpdateDisplay(nullptr);
        printError("cannot start the worker thread");
        return kExitInternal;
    }

    // The worker takes the acceptance first (identifyDone) and serves the start request only
    // after the first display has ended, as one thread does one thing at a time.
    safetyAccepted.store(1);
    followWorker(display, output, [] { return identifyDone.load() != 0; });
    // From here until the port is closed, Ctrl-C, SIGTERM and SIGHUP are counted, not fatal.
    UpdateStop stop;
    setUpdateGuarded(true);
    startRequested.store(1);
    // The worker sets busy before it clears startRequested: once the request is taken,
    // busy returning to 0 means the update has ended.
    followWorker(display, output, [&stop, lang] {
        watchInterrupts(stop, lang);
        return startRequested.load() == 0 && busy.load() == 0;
    });

    stopWorker();
    // A failed verify pass leaves the port open for the next identification; the process
    // ends here, so close it properly (exclusive mode off) for whoever opens it next.
    portClose();
    setUpdateGuarded(false);
    for (const DisplayEvent& event : display.takeEvents()) output.show(event);
    output.finish();
    setUpdateDisplay(nullptr);

    const std::uint8_t code = output.finalCode();
    int exitStatus = code == OK_UPDATE_FINISHED ? kExitSuccess : code;
    if (stop.stopped() && code != OK_UPDATE_FINISHED) {
        // A stop that came after the last verified block changed nothing: the update finished.
        printError(cliTexts(lang).stopped);
        exitStatus = stop.exitStatus();
    } else if (code == RESULT_NONE) {
        printError(cliTexts(lang).noResult);
        exitStatus = ERROR_UPDATE_EXCEPTION;
    }
    // The worker has ended: the port's last error is settled. Say why no unit answered when
    // the port itself could not be used (busy, permission denied) or stayed silent.
    if (code == NO_DEVICE_DETECTED && !portLastErrorText().empty()) {
        printError(std::string(cliTexts(lang).portProblem) + " " + portLastErrorText());
    }
    UnitRecord record = unitRun.finish(output, exitStatus, options.serial.value_or(""));
    if (const auto timer = latencyTimers.find(record.serial); timer != latencyTimers.end()) {
        record.latencyTimerMs = timer->second;
    } else if (exitStatus != kExitInterrupted && exitStatus != kExitTerminated) {
        record.latencyTimerMs = checkLatencyTimerAfterUpdate(record.serial, lang, stdout);
    }
    if (options.jsonFile && !writeReportFile(*options.jsonFile, reportDocument({unitReport(record)}, false), error)) {
        printError("cannot write the report " + *options.jsonFile + ": " + error);
    }
    return exitStatus;
}

// --serial names a converter that no device list entry names: bad input. A list that cannot
// be read is left to the update, which reports it as usual.
bool serialNotInReadableList(const std::string& serial)
{
    DeviceList devices;
    int index = 0;
    return loadDeviceList(devices, dataPaths.deviceListPath) && !devices.findBySerial(serial, index);
}

}  // namespace

int main(int argc, char** argv)
{
    // Before anything is opened: no port or file may take a standard stream's place.
    ensureStandardStreamsOpen();
    installInterruptHandlers();
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    CliOptions options;
    std::string error;
    const std::span<const char* const> arguments(argv + 1, argc > 0 ? static_cast<std::size_t>(argc - 1) : 0);
    if (!parseCliOptions(arguments, options, error)) {
        printError(error + " (try --help)");
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(cliUsageText(), stdout);
        return kExitSuccess;
    }
    if (options.version) {
        std::printf("%s %s\n", kProgramName, VF_VERSION);
        return kExitSuccess;
    }

    const int lang = options.language.value_or(languageFromEnvironment());
    const CliTexts& texts = cliTexts(lang);
    setMessageLanguage(lang);

    std::string dataDir;
    if (!dataFolderPath(options.dataDir, dataDir) || !initDataPaths(dataDir)) {
        printError(std::string(texts.dataDirUnusable) + " " + dataDir);
        return kExitNoSafetyText;
    }

    if (options.list) return listConverters(lang);
    if (options.setLatencyTimerMs) return setLatencyTimerCommand(*options.setLatencyTimerMs, lang);
    if (options.serial) {
        if (serialNotInReadableList(*options.serial)) {
            printError(std::string(texts.serialNotListed) + " " + *options.serial);
            return kExitUsage;
        }
        restrictToConverter(*options.serial);
    }
    if (options.jsonFile && *options.jsonFile == "-" && !keepStandardOutputForReport()) {
        printError("cannot keep the standard output for the report");
        return kExitInternal;
    }

    const std::string& safetyPath = lang == kLanguageGerman ? dataPaths.safetyPathDe : dataPaths.safetyPathEn;
    const std::optional<std::string> safetyText = loadDisplayText(safetyPath);
    if (!safetyText) {
        std::printf("%s\n", kBuiltInSafetyText);
        std::fflush(stdout);
        printError(std::string(texts.safetyUnreadable) + " " + safetyPath);
        return kExitNoSafetyText;
    }
    if (!options.acceptSafety && !VF_ISATTY(stdin)) {
        printError(texts.noTerminal);
        return kExitNotAccepted;
    }
    std::printf("%s\n\n", cp1252ToUtf8(markControlCharacters(*safetyText)).c_str());
    std::fflush(stdout);
    if (!options.acceptSafety && !askAcceptance(texts)) {
        std::printf("%.*s\n", static_cast<int>(texts.notAccepted.size()), texts.notAccepted.data());
        return kExitNotAccepted;
    }

    if (options.all) return runAllUnits(options, lang, dataDir, argc > 0 ? argv[0] : nullptr);
    return runUpdateOnWorker(lang, options);
}
