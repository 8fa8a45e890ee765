// SPDX-License-Identifier: MIT
// varnoflex-cli: the command-line updater. A thin front end over the same library and worker
// as the windowed program: it shows the safety instructions and asks for acceptance, then
// lets the worker show the first device list entry and run one update, printing the device
// lines, every result message and the progress, and exits with the update's result code.
#include "cli/cli_options.h"
#include "cli/cli_texts.h"
#include "cli/console.h"
#include "cli/event_channel.h"
#include "cli/latency_hint.h"
#include "cli/run_all.h"
#include "cli/terminal_display.h"
#include "cli/unit_report.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/std_streams.h"
#include "files/texts.h"
#include "link/discovery.h"
#include "link/serial.h"
#include "update/check.h"
#include "update/display.h"
#include "update/interrupts.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/stop_decision.h"
#include "update/update.h"
#include "update/worker.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

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
    std::fflush(stderr);
}

std::string lowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
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

// Lists the converters, whether each is connected, and the device list entries whose
// converterSerial each one matches.
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
        const bool connected = !converter.portName.empty() && converterPortPresent(converter.portName);
        std::printf("%.*s%s%.*s%s%s\n", static_cast<int>(texts.listConverter.size()), texts.listConverter.data(),
                    shownField(converter.serial).c_str(), static_cast<int>(texts.listAt.size()), texts.listAt.data(),
                    port.c_str(), connected || converter.portName.empty() ? "" : std::string(texts.listNotConnected).c_str());
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

// Whether stopping now could leave the unit without working firmware: always during an
// update; never during a check, nor during --skip-current's check before it found the unit
// different.
bool memoryAtStake(const CliOptions& options, const TerminalOutput& output)
{
    if (options.check) return false;
    if (!options.skipCurrent) return true;
    const std::optional<CheckResult>& check = output.checkResult();
    return check && check->verdict == CheckVerdict::Differs;
}

// The exit status of the check's verdict.
int checkExitStatus(CheckVerdict verdict)
{
    switch (verdict) {
    case CheckVerdict::Holds: return kExitSuccess;
    case CheckVerdict::Differs: return kExitDiffers;
    case CheckVerdict::Failed: return kExitCheckFailed;
    }
    return kExitCheckFailed;
}

// What the run came to, without a stop: the update's final code, or for a check the
// verdict; --skip-current gives the verdict unless the unit differed and was updated.
int outcomeExitStatus(const CliOptions& options, const TerminalOutput& output)
{
    const std::optional<CheckResult>& check = output.checkResult();
    const bool updateRan = !options.check && (!options.skipCurrent || (check && check->verdict == CheckVerdict::Differs));
    if (check && !updateRan) return checkExitStatus(check->verdict);
    const std::uint8_t code = output.finalCode();
    return code == OK_UPDATE_FINISHED ? kExitSuccess : code;
}

// What the run writes besides the terminal: the event channel, the report and the trace,
// each made before any unit is touched (nullptr: not asked for).
struct RunOutputs {
    EventChannel* channel = nullptr;
    ReportTarget* report = nullptr;
    ReportFile* trace = nullptr;
};

// "the update itself finished" or "... ended with 12 ERROR_WRITE_BLOCK", after a report
// or trace could not be written.
std::string updateItself(std::uint8_t code)
{
    if (code == OK_UPDATE_FINISHED) return "the update itself finished";
    if (code == RESULT_NONE) return "the update itself ended without a result";
    return "the update itself ended with " + std::to_string(code) + " " + resultName(code);
}

// The converter the update used, as the driver names it: the device list entry that answered,
// else the one --serial asked for; empty when neither. After the worker has stopped.
std::string updatedConverterSerial(const CliOptions& options)
{
    if (selectedEntry != nullptr) return selectedEntry->converterSerial;
    return options.serial.value_or("");
}

// Runs the first display and one update on the worker thread; returns the exit status.
int runUpdateOnWorker(int lang, const CliOptions& options, const RunOutputs& outputs)
{
    // What the converter's latency timer costs is said before the update begins.
    const std::map<std::string, int> latencyTimers =
        latencyTimerInRegistry() ? checkLatencyTimers(convertersToTry(options.serial), lang, stdout)
                                 : std::map<std::string, int>{};
    const bool stdoutIsTerminal = isTerminal(stdout);
    const bool stderrIsTerminal = isTerminal(stderr);
    std::FILE* progressStream = stdoutIsTerminal || !stderrIsTerminal ? stdout : stderr;
    TerminalDisplay display;
    TerminalOutput output(lang, stdout, progressStream, stdoutIsTerminal || stderrIsTerminal);
    output.setSkipCurrent(options.skipCurrent);
    UnitRun run(display, outputs.channel, outputs.trace != nullptr ? outputs.trace->stream() : nullptr, lang);

    setStartAction(options.check         ? StartAction::Check
                   : options.skipCurrent ? StartAction::UpdateUnlessCurrent
                                         : StartAction::Update);
    initSharedState();
    run.start();
    if (!startWorker()) {
        run.stop();
        printError("cannot start the worker thread");
        UnitRun::Outcome failed;
        failed.exitStatus = kExitInternal;
        failed.detail = "cannot start the worker thread";
        run.events().sendToChannel(run.resultEvent(failed));
        return kExitInternal;
    }

    // The worker takes the acceptance first (identifyDone) and serves the start request only
    // after the first display has ended, as one thread does one thing at a time.
    safetyAccepted.store(1);
    followWorker(display, output, [] { return identifyDone.load() != 0; });
    // From here until the report is written, Ctrl-C, SIGTERM and SIGHUP are counted, not
    // fatal (and a console close waits for the report).
    UpdateStop stop;
    setUpdateGuarded(true);
    startRequested.store(1);
    // The worker sets busy before it clears startRequested: once the request is taken,
    // busy returning to 0 means the update has ended.
    followWorker(display, output, [&stop, &options, &output, lang] {
        stop.setMemoryAtStake(memoryAtStake(options, output));
        if (watchInterrupts(stop) == UpdateStop::Action::Warn) {
            std::fprintf(stderr, "\n%s\n", stopWarningText(lang));
            std::fflush(stderr);
        }
        return startRequested.load() == 0 && busy.load() == 0;
    });

    stopWorker();
    // A failed verify pass leaves the port open for the next identification; the process
    // ends here, so close it properly (exclusive mode off) for whoever opens it next.
    portClose();
    run.stop();
    for (const DisplayEvent& event : display.takeEvents()) output.show(event);
    output.finish();

    UnitRun::Outcome outcome;
    outcome.finalCode = output.finalCode();
    const std::optional<CheckResult>& check = output.checkResult();
    outcome.exitStatus = outcomeExitStatus(options, output);
    // A verdict the check reached stands; so does a left-alone or a finished update.
    const bool reachedAnEnd = outcome.exitStatus == kExitSuccess ||
                              (options.check && check && check->verdict != CheckVerdict::Failed);
    if (stop.stopped() && !reachedAnEnd) {
        // A stop that came after the last verified block changed nothing: the update finished.
        printError(memoryAtStake(options, output) ? std::string(stoppedText(lang)) : std::string(cliTexts(lang).checkStopped));
        outcome.exitStatus = stop.exitStatus();
        outcome.stopped = true;
    } else if (outcome.finalCode == RESULT_NONE && !check) {
        printError(cliTexts(lang).noResult);
        outcome.exitStatus = ERROR_UPDATE_EXCEPTION;
    }
    // The worker has ended: the port's last error is settled. Say why no unit answered when
    // the port itself could not be used (busy, permission denied) or stayed silent.
    outcome.lastError = systemTextToUtf8(portLastErrorText());
    if (outcome.finalCode == NO_DEVICE_DETECTED && !outcome.lastError.empty()) {
        printError(std::string(cliTexts(lang).portProblem) + " " + outcome.lastError);
        outcome.detail = std::string(cliTexts(lang).portProblem) + " " + outcome.lastError;
    }

    // The converter's latency timer goes into the events, and so into the report: as read
    // before the update (Windows), or as its driver shows it now that the port has asked for
    // low latency (Linux; not after a stop, which is to end the program soon).
    const std::string converter = updatedConverterSerial(options);
    std::optional<int> latencyMs;
    if (const auto timer = latencyTimers.find(converter); timer != latencyTimers.end()) {
        latencyMs = timer->second;
    } else if (!outcome.stopped) {
        latencyMs = checkLatencyTimerAfterUpdate(converter, lang, stdout);
    }
    if (latencyMs) run.events().send(Json{{"event", event::kLatencyTimer}, {"milliseconds", *latencyMs}});

    // The trace and the report are put in place whole, or the exit status says they are not.
    std::string error;
    if (outputs.trace != nullptr && !outputs.trace->commit(error)) {
        outcome.reportProblem = "cannot write the trace " + outputs.trace->path() + ": " + error;
    }
    Json result = run.resultEvent(outcome);
    run.events().record(result);
    if (outputs.report != nullptr) {
        UnitReportExtras extras;
        extras.serial = options.serial.value_or("");
        if (!run.events().state().identified() && options.serial) {
            int index = 0;
            if (portList.find(*options.serial, index)) extras.port = shownField(portList.entry(index).portName);
        }
        extras.times = run.times();
        extras.exitStatus = outcome.exitStatus;
        const Json document = reportDocument(Json::array({unitReportObject(run.events().state(), extras)}), false);
        if (!outputs.report->deliver(document, error)) {
            if (!outcome.reportProblem.empty()) outcome.reportProblem += "; ";
            outcome.reportProblem += "cannot write the report " + outputs.report->path() + ": " + error;
        }
    }
    if (!outcome.reportProblem.empty()) {
        printError(outcome.reportProblem + "; " + updateItself(outcome.finalCode));
        if (outcome.exitStatus == kExitSuccess) outcome.exitStatus = kExitReportNotWritten;
        result = run.resultEvent(outcome);
    }
    run.events().sendToChannel(result);
    setUpdateGuarded(false);
    return outcome.exitStatus;
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
    setUpConsole();
    installInterruptHandlers();
    CliOptions options;
    std::string error;
    const std::vector<std::string> arguments = commandLineArguments(argc, argv);
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

    EventChannel channel;
    if (options.eventFd && !channel.open(*options.eventFd, error)) {
        printError(error);
        return kExitUsage;
    }
    std::uint64_t stopEventNumber = 0;
    if (options.stopEvent && (!parseHandleNumber(*options.stopEvent, stopEventNumber) || !watchStopEvent(stopEventNumber))) {
        printError("--stop-event " + *options.stopEvent + " names no inherited event of this process");
        return kExitUsage;
    }
    // From here an early end also tells the one reading the events why.
    const auto endEarly = [&](int status, const std::string& message) {
        printError(message);
        Json result = {{"event", event::kResult}, {"code", nullptr}, {"name", nullptr}, {"exitStatus", status},
                       {"stopped", false}, {"detail", message}};
        if (channel.isOpen()) channel.send(jsonLine(result));
        return status;
    };

    const int lang = options.language.value_or(languageFromEnvironment());
    const CliTexts& texts = cliTexts(lang);
    setMessageLanguage(lang);

    std::error_code fsError;
    std::filesystem::path dataDir = options.dataDir ? pathFromUtf8(*options.dataDir)
                                                    : std::filesystem::current_path(fsError);
    if (!fsError) dataDir = std::filesystem::absolute(dataDir, fsError);
    const std::optional<std::string> dataDirText = fsError ? std::nullopt : pathForDataFiles(dataDir);
    if (!dataDirText || !std::filesystem::is_directory(dataDir, fsError) || !initDataPaths(*dataDirText)) {
        return endEarly(kExitNoSafetyText, std::string(texts.dataDirUnusable) + " " + pathToUtf8(dataDir));
    }

    if (options.list) return listConverters(lang);
    if (options.setLatencyTimerMs) return setLatencyTimerCommand(*options.setLatencyTimerMs, lang);
    if (options.serial) {
        if (serialNotInReadableList(*options.serial)) {
            return endEarly(kExitUsage, std::string(texts.serialNotListed) + " " + *options.serial);
        }
        restrictToConverter(*options.serial);
    }
    if (options.jsonFile && *options.jsonFile == "-" && !keepStandardOutputForReport()) {
        return endEarly(kExitInternal, "cannot keep the standard output for the report");
    }
    // The report and the trace are made before any unit is touched: a place that cannot take
    // them ends the run here, with nothing sent to any unit.
    ReportTarget report;
    if (options.jsonFile && !report.prepare(*options.jsonFile, error)) {
        return endEarly(kExitReportNotWritten, "cannot write the report " + *options.jsonFile + ": " + error);
    }
    ReportFile trace;
    if (options.traceFile && !options.all && !trace.create(*options.traceFile, error)) {
        return endEarly(kExitReportNotWritten, "cannot write the trace " + *options.traceFile + ": " + error);
    }

    const std::string& safetyPath = lang == kLanguageGerman ? dataPaths.safetyPathDe : dataPaths.safetyPathEn;
    const std::optional<std::string> safetyText = loadDisplayText(safetyPath);
    if (!safetyText) {
        std::printf("%s\n", kBuiltInSafetyText);
        std::fflush(stdout);
        return endEarly(kExitNoSafetyText, std::string(texts.safetyUnreadable) + " " + safetyPath);
    }
    if (!options.acceptSafety && !isTerminal(stdin)) {
        return endEarly(kExitNotAccepted, std::string(texts.noTerminal));
    }
    std::printf("%s\n\n", cp1252ToUtf8(markControlCharacters(*safetyText)).c_str());
    std::fflush(stdout);
    if (!options.acceptSafety && !askAcceptance(texts)) {
        std::printf("%.*s\n", static_cast<int>(texts.notAccepted.size()), texts.notAccepted.data());
        return kExitNotAccepted;
    }

    if (options.all) return runAllUnits(options, lang, options.jsonFile ? &report : nullptr, argc > 0 ? argv[0] : nullptr);
    RunOutputs outputs;
    outputs.channel = channel.isOpen() ? &channel : nullptr;
    outputs.report = options.jsonFile ? &report : nullptr;
    outputs.trace = options.traceFile ? &trace : nullptr;
    return runUpdateOnWorker(lang, options, outputs);
}
