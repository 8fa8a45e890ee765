// varnoflex-cli --all: finds the listed converters, starts one child per converter, shows
// each unit's progress on one line, then the summary table and the report.
#include "cli/run_all.h"

#include "cli/child_process.h"
#include "cli/cli_texts.h"
#include "cli/json.h"
#include "cli/latency_hint.h"
#include "cli/unit_report.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/texts.h"
#include "link/discovery.h"
#include "update/result_codes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#define VF_STDOUT_IS_TERMINAL() (_isatty(_fileno(stdout)) != 0)
#else
#include <unistd.h>
#define VF_STDOUT_IS_TERMINAL() (isatty(fileno(stdout)) != 0)
#endif

namespace {

constexpr int kServiceIntervalMs = 100;
constexpr const char* kProgramName = "varnoflex-cli";

struct Unit {
    std::string serial;
    std::string port;
    std::string reportPath;
    ChildProcess child;
    bool started = false;
    std::string state;          // what its progress line shows
    bool writingSeen = false;   // it reported progress of the write pass
    bool ended = false;         // its process has ended and its output is read
    std::optional<JsonValue> report;
};

std::string text(std::string_view view)
{
    return std::string(view);
}

void printError(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", kProgramName, message.c_str());
}

// The first line of the message of code, without the final newline.
std::string messageHeading(std::uint8_t code, int lang)
{
    const char* message = messageText(code, lang);
    if (message == nullptr) return resultName(code);
    const std::string whole = cp1252ToUtf8(message);
    return whole.substr(0, whole.find('\n'));
}

// One entry per converter serial present, in the order the converters were found.
std::vector<Unit> unitsPresent(const PortList& ports)
{
    std::vector<Unit> units;
    for (int i = 0; i < ports.count(); ++i) {
        const PortEntry& entry = ports.entry(i);
        const bool known = std::any_of(units.begin(), units.end(),
                                       [&](const Unit& unit) { return unit.serial == entry.serial; });
        if (known) continue;   // --serial cannot tell two converters of one serial apart
        Unit unit;
        unit.serial = entry.serial;
        unit.port = cp1252ToUtf8(entry.portName);
        units.push_back(std::move(unit));
    }
    return units;
}

// "Writing 40 %" or "Verifying 40 %" (in the run's language): the child's progress lines.
bool isProgressLine(const std::string& line, const CliTexts& texts)
{
    for (std::string_view pass : {texts.writePass, texts.verifyPass}) {
        if (line.size() > pass.size() + 2 && line.starts_with(pass) && line[pass.size()] == ' ' && line.ends_with(" %")) {
            return true;
        }
    }
    return false;
}

// A unit that Ctrl-C left unfinished: its child ended without a report, or stopped its update
// on the stop it was sent (and closed its port) before the update finished.
bool stoppedUnfinished(const Unit& unit, bool interrupted)
{
    if (!interrupted || !unit.started || unit.child.exitStatus == 0) return false;
    return !unit.report || unit.child.exitStatus == kExitInterrupted || unit.child.exitStatus == kExitTerminated;
}

std::string resultCell(const Unit& unit, const CliTexts& texts, bool interrupted)
{
    if (!unit.started) return text(texts.allCannotStart);
    if (unit.child.exitStatus == 0) return text(texts.allFinished);
    if (stoppedUnfinished(unit, interrupted)) return text(texts.allUnfinished);
    const JsonValue* result = unit.report ? unit.report->find("result") : nullptr;
    if (result != nullptr && !result->isNull()) {
        const JsonValue* code = result->find("code");
        const JsonValue* name = result->find("name");
        if (code != nullptr && name != nullptr) {
            return text(texts.allFailed) + " " + std::to_string(static_cast<int>(code->asNumber())) + " " +
                   name->asString();
        }
    }
    return text(texts.allFailed) + " " + std::to_string(unit.child.exitStatus);
}

std::string entryField(const Unit& unit, std::string_view name)
{
    const JsonValue* entry = unit.report ? unit.report->find("entry") : nullptr;
    const JsonValue* field = entry != nullptr ? entry->find(name) : nullptr;
    return field != nullptr && field->kind() == JsonValue::Kind::String ? field->asString() : "-";
}

// Display width of UTF-8 text: code points, not bytes.
std::size_t displayWidth(const std::string& value)
{
    return static_cast<std::size_t>(std::count_if(value.begin(), value.end(),
                                                   [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void printTable(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - displayWidth(row[i]) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

class ProgressView {
public:
    explicit ProgressView(bool terminal) : terminal_(terminal) {}

    // A unit's state changed; on a terminal its line is redrawn, otherwise a line is printed.
    void changed(std::vector<Unit>& units, const Unit& unit)
    {
        if (!terminal_) {
            std::printf("%s %s: %s\n", unit.serial.c_str(), unit.port.c_str(), unit.state.c_str());
            std::fflush(stdout);
            return;
        }
        redraw(units);
    }

    void redraw(std::vector<Unit>& units)
    {
        if (!terminal_) return;
        if (linesDrawn_ > 0) std::printf("\x1b[%dA", linesDrawn_);   // back to the first unit's line
        for (const Unit& unit : units) std::printf("\r\x1b[K%s %s: %s\n", unit.serial.c_str(), unit.port.c_str(), unit.state.c_str());
        linesDrawn_ = static_cast<int>(units.size());
        std::fflush(stdout);
    }

private:
    bool terminal_;
    int linesDrawn_ = 0;
};

// Takes the complete lines of a child's output; the progress lines become its state.
bool takeChildLines(Unit& unit, const CliTexts& texts)
{
    bool changed = false;
    for (auto end = unit.child.output.find('\n'); end != std::string::npos; end = unit.child.output.find('\n')) {
        std::string line = unit.child.output.substr(0, end);
        unit.child.output.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!isProgressLine(line, texts)) continue;
        unit.writingSeen = unit.writingSeen || line.starts_with(texts.writePass);
        if (line != unit.state) {
            unit.state = line;
            changed = true;
        }
    }
    return changed;
}

std::optional<JsonValue> readChildReport(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream content;
    content << in.rdbuf();
    std::optional<JsonValue> document = parseJson(content.str());
    if (!document) return std::nullopt;
    const JsonValue* units = document->find("units");
    if (units == nullptr || units->items().size() != 1) return std::nullopt;
    return units->items().front();
}

// A unit whose child left no report (interrupted, or it could not start): what is known.
JsonValue reportWithoutChild(const Unit& unit, bool interrupted)
{
    JsonValue object = JsonValue::object();
    object.set("serial", JsonValue::string(unit.serial));
    object.set("port", JsonValue::string(unit.port));
    object.set("entry", JsonValue());
    object.set("stored", JsonValue::array());
    object.set("result", JsonValue());
    object.set("firmwareProblem", JsonValue());
    object.set("exitStatus", unit.started ? JsonValue::number(unit.child.exitStatus) : JsonValue());
    object.set("unfinished", JsonValue::boolean(interrupted));
    if (interrupted) object.set("memoryPartlyWritten", JsonValue::boolean(unit.writingSeen));
    return object;
}

}  // namespace

int runAllUnits(const CliOptions& options, int lang, const std::string& dataDir, const char* argv0)
{
    const CliTexts& texts = cliTexts(lang);
    DeviceList devices;
    if (!loadDeviceList(devices, dataPaths.deviceListPath)) {
        std::printf("\n%s\n\n", messageHeading(ERROR_OPEN_FILE_LIST, lang).c_str());
        return ERROR_OPEN_FILE_LIST;
    }
    PortList ports;
    if (!findFtdiPorts(devices, ports)) {
        std::printf("\n%s\n\n", messageHeading(ERROR_NO_FTDI_DRIVER, lang).c_str());
        return ERROR_NO_FTDI_DRIVER;
    }
    std::vector<Unit> units = unitsPresent(ports);
    if (units.empty()) {
        std::printf("\n%s\n\n", messageHeading(ERROR_NO_DRIVER_ENTRY, lang).c_str());
        return ERROR_NO_DRIVER_ENTRY;
    }

    // Each child writes its report into a folder of this run; the parent gathers them.
    std::error_code fsError;
    const std::filesystem::path reportDir = std::filesystem::temp_directory_path(fsError) /
                                            ("varnoflex-all-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(reportDir, fsError);
    if (fsError) {
        printError("cannot make a folder for the units' reports: " + fsError.message());
        return kExitInternal;
    }

    if (latencyTimerInRegistry()) {
        std::vector<std::string> serials;
        for (const Unit& unit : units) serials.push_back(unit.serial);
        checkLatencyTimers(serials, lang, stdout);
    }

    catchInterrupt();
    const std::string program = ownProgramPath(argv0);
    const bool terminal = VF_STDOUT_IS_TERMINAL();
    if (terminal) enableCursorMovements();
    ProgressView view(terminal);
    for (Unit& unit : units) {
        unit.reportPath = (reportDir / (unit.serial + ".json")).string();
        std::vector<std::string> arguments = {"-y", "-d", dataDir, "--language", lang == kLanguageGerman ? "de" : "en",
                                              "--serial", unit.serial, "--json", unit.reportPath};
        if (options.traceFile) {
            arguments.push_back("--trace");
            arguments.push_back(traceFileForUnit(*options.traceFile, unit.serial));
        }
        unit.started = startChild(program, arguments, unit.child);
        unit.state = unit.started ? text(texts.allWaiting) : text(texts.allCannotStart);
        if (!unit.started) {
            unit.child.exited = true;
            unit.ended = true;
            printError(text(texts.allCannotStart) + " " + unit.serial);
        }
    }
    view.redraw(units);

    std::vector<ChildProcess*> children;
    for (Unit& unit : units) children.push_back(&unit.child);
    bool stopsSent = false;
    for (;;) {
        const bool waiting = std::any_of(units.begin(), units.end(), [](const Unit& unit) {
            return !unit.child.exited || unit.child.outputFd >= 0;
        });
        if (!waiting) break;
        serviceChildren(children, kServiceIntervalMs);
        if (interruptRequested() && !stopsSent) {
            for (const Unit& unit : units) stopChild(unit.child);
            stopsSent = true;
        }
        for (Unit& unit : units) {
            bool changed = takeChildLines(unit, texts);
            if (!unit.ended && unit.child.exited && unit.child.outputFd < 0) {
                unit.ended = true;
                unit.report = readChildReport(unit.reportPath);
                unit.state = resultCell(unit, texts, stopsSent);
                changed = true;
            }
            if (changed) view.changed(units, unit);
        }
    }
    const bool interrupted = stopsSent;

    std::printf("\n");
    std::vector<std::vector<std::string>> rows;
    rows.push_back({text(texts.headSerial), text(texts.headPort), text(texts.headModel), text(texts.headVersion),
                    text(texts.headResult)});
    for (const Unit& unit : units) {
        rows.push_back({unit.serial, unit.port, entryField(unit, "model"), entryField(unit, "version"),
                        resultCell(unit, texts, interrupted)});
    }
    printTable(rows);
    if (interrupted) {
        std::printf("\n");
        for (const Unit& unit : units) {
            if (!stoppedUnfinished(unit, interrupted)) continue;
            std::printf("%s %s: %s\n", unit.serial.c_str(), unit.port.c_str(),
                        text(unit.writingSeen ? texts.allInterruptedWriting : texts.allInterruptedNotWriting).c_str());
        }
    }
    std::fflush(stdout);

    int exitStatus = 0;
    for (const Unit& unit : units) {
        if (unit.child.exitStatus != 0) {
            exitStatus = unit.started ? unit.child.exitStatus : kExitInternal;
            break;
        }
    }
    if (interrupted) exitStatus = kExitInterrupted;

    if (options.jsonFile) {
        std::vector<JsonValue> reports;
        for (const Unit& unit : units) {
            if (!unit.report) {
                reports.push_back(reportWithoutChild(unit, interrupted));
                continue;
            }
            JsonValue report = *unit.report;
            if (stoppedUnfinished(unit, interrupted)) {
                report.set("unfinished", JsonValue::boolean(true));
                report.set("memoryPartlyWritten", JsonValue::boolean(unit.writingSeen));
            }
            reports.push_back(std::move(report));
        }
        std::string error;
        if (!writeReportFile(*options.jsonFile, reportDocument(std::move(reports), interrupted), error)) {
            printError("cannot write the report " + *options.jsonFile + ": " + error);
            if (exitStatus == 0) exitStatus = kExitInternal;
        }
    }
    std::filesystem::remove_all(reportDir, fsError);
    return exitStatus;
}
