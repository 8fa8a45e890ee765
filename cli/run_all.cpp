// SPDX-License-Identifier: MIT
// varnoflex-cli --all: finds the listed converters that are connected, starts one child per
// converter, follows each unit through the events its child sends, shows each unit's
// progress on one line, then the summary table and the report.
#include "cli/run_all.h"

#include "cli/check_report.h"
#include "cli/child_process.h"
#include "cli/cli_texts.h"
#include "cli/console.h"
#include "cli/event_channel.h"
#include "cli/latency_hint.h"
#include "cli/unit_events.h"
#include "cli/unit_report.h"
#include "cli/update_events.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/texts.h"
#include "link/discovery.h"
#include "update/interrupts.h"
#include "update/result_codes.h"
#include "update/stop_decision.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>

namespace {

constexpr int kServiceIntervalMs = 100;
constexpr int kPercentPerPlainLine = 10;
// After a console close Windows ends the process within 5 s: the summary and the report
// are written by then, whatever the children have done.
constexpr auto kCloseDeadline = std::chrono::milliseconds(3500);
constexpr const char* kProgramName = "varnoflex-cli";

enum class UnitKind {
    Update,        // a child updates it
    Duplicate,     // another connected converter carries its serial: not updated
    CannotStart,   // its child could not be started
};

struct Unit {
    std::string serial;        // as the converter list gives it (Windows-1252)
    std::string port;
    std::string shownSerial;   // UTF-8, control bytes as marks
    std::string shownPort;
    UnitKind kind = UnitKind::Update;
    ChildProcess child;
    LineReader lines{kMaxEventLineBytes};
    UnitState state;
    std::optional<RunClock> clock;
    std::optional<RunTimes> times;
    std::string shownState;    // what its progress line showed last
    bool ended() const { return kind != UnitKind::Update || child.ended(); }
};

std::string text(std::string_view view)
{
    return std::string(view);
}

void printError(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", kProgramName, message.c_str());
    std::fflush(stderr);
}

// The first line of the message of code, without the final newline.
std::string messageHeading(std::uint8_t code, int lang)
{
    const char* message = messageText(code, lang);
    if (message == nullptr) return resultName(code);
    const std::string whole = cp1252ToUtf8(message);
    return whole.substr(0, whole.find('\n'));
}

std::string memoryText(MemoryState memory, const CliTexts& texts)
{
    switch (memory) {
    case MemoryState::Unchanged: return text(texts.memoryUnchanged);
    case MemoryState::PartlyWritten: return text(texts.memoryPartlyWritten);
    case MemoryState::WrittenAndVerified: return text(texts.memoryWrittenAndVerified);
    }
    return text(texts.memoryPartlyWritten);
}

// The serial and port a unit's lines name: as its child identified them, else as listed.
const std::string& serialOf(const Unit& unit)
{
    return unit.state.identified() ? unit.state.serial() : unit.shownSerial;
}

const std::string& portOf(const Unit& unit)
{
    return unit.state.identified() ? unit.state.port() : unit.shownPort;
}

// The connected converters in the order found (the same converter listed twice once), and
// the remembered ones that are not plugged in.
struct Converters {
    std::vector<Unit> units;
    std::vector<PortEntry> notConnected;
};

Converters convertersFrom(const PortList& ports)
{
    Converters found;
    std::vector<PortEntry> seen;
    for (int i = 0; i < ports.count(); ++i) {
        const PortEntry& entry = ports.entry(i);
        const bool again = std::any_of(seen.begin(), seen.end(), [&](const PortEntry& known) {
            return known.serial == entry.serial && known.portName == entry.portName;
        });
        if (again) continue;
        seen.push_back(entry);
        if (!converterPortPresent(entry.portName)) {
            found.notConnected.push_back(entry);
            continue;
        }
        Unit unit;
        unit.serial = entry.serial;
        unit.port = entry.portName;
        unit.shownSerial = shownField(entry.serial);
        unit.shownPort = shownField(entry.portName);
        found.units.push_back(std::move(unit));
    }
    // --serial cannot tell converters of one serial apart: none of them is updated.
    for (Unit& unit : found.units) {
        const auto sameSerial = std::count_if(found.units.begin(), found.units.end(),
                                              [&](const Unit& other) { return other.serial == unit.serial; });
        if (sameSerial > 1) unit.kind = UnitKind::Duplicate;
    }
    return found;
}

bool stoppedUnfinished(const Unit& unit, bool stopsSent)
{
    if (!stopsSent || unit.kind != UnitKind::Update) return false;
    // A check that reached its verdict (or failed on its own) before the stop ended as it was.
    if (unit.state.checkIsOutcome()) return !unit.child.exitStatus || unit.state.stopped();
    return unit.state.finalCode() != OK_UPDATE_FINISHED || !unit.child.exitStatus || *unit.child.exitStatus != 0;
}

// The check's verdict line of a unit.
std::string checkCell(const Unit& unit, int lang)
{
    const UnitState& state = unit.state;
    const auto& entry = state.entry();
    return checkVerdictTextShown(*state.check(), entry ? entry->version : "-", entry ? entry->firmwareFile : "-", lang,
                                 state.checkBeforeUpdate());
}

std::string resultCell(const Unit& unit, const CliTexts& texts, bool stopsSent, int lang)
{
    if (unit.kind == UnitKind::Duplicate) return text(texts.allDuplicate);
    if (unit.kind == UnitKind::CannotStart) return text(texts.allCannotStart);
    const std::optional<int>& status = unit.child.exitStatus;
    if (unit.state.checkIsOutcome() && unit.child.ended() && status && !unit.state.stopped()) return checkCell(unit, lang);
    if (unit.child.ended() && status && *status == 0) return text(texts.allFinished);
    if (stoppedUnfinished(unit, stopsSent)) return text(texts.allUnfinished);
    if (unit.child.exited && !status) return text(texts.allStatusUnknown);
    const std::uint8_t code = unit.state.finalCode();
    if (code != RESULT_NONE && code != OK_UPDATE_FINISHED) {
        return text(texts.allFailed) + " " + std::to_string(code) + " " + resultName(code);
    }
    // Finished, but the program did not end well (its trace could not be written), or no code.
    return text(texts.allFailed) + " " + std::to_string(status.value_or(-1));
}

// What a unit's progress line shows now; plain: only every kPercentPerPlainLine percent
// (empty in between and before the first step).
std::string stateText(const Unit& unit, const CliTexts& texts, bool stopsSent, bool plain, int lang)
{
    if (unit.ended()) return resultCell(unit, texts, stopsSent, lang);
    const UnitState& state = unit.state;
    if (!state.identified() || state.blockCount() <= 0) return plain ? std::string() : text(texts.allWaiting);
    // --skip-current: the verdict stays on the line until the update that follows shows progress.
    if (state.check() && state.blocksWritten() == 0 && !state.verifyPass()) return checkCell(unit, lang);
    const bool verifying = state.verifyPass();
    const int done = verifying ? state.blocksVerified() : state.blocksWritten();
    int percent = std::clamp(done * 100 / state.blockCount(), 0, 100);
    if (plain) {
        percent = percent / kPercentPerPlainLine * kPercentPerPlainLine;
        if (percent == 0) return {};
    }
    const std::string_view pass = state.checking() ? texts.checkPass : verifying ? texts.verifyPass : texts.writePass;
    return text(pass) + " " + std::to_string(percent) + " %";
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
    ProgressView(bool terminal, const CliTexts& texts, int lang) : terminal_(terminal), texts_(texts), lang_(lang) {}

    // Shows what changed: on a terminal every line is redrawn in place, otherwise a line is
    // printed for each unit whose state moved on.
    void update(std::vector<Unit>& units, bool stopsSent)
    {
        bool changed = false;
        for (Unit& unit : units) {
            const std::string now = stateText(unit, texts_, stopsSent, !terminal_, lang_);
            if (now.empty() || now == unit.shownState) continue;
            unit.shownState = now;
            changed = true;
            if (!terminal_) std::printf("%s %s: %s\n", serialOf(unit).c_str(), portOf(unit).c_str(), now.c_str());
        }
        if (changed && terminal_) redraw(units);
        std::fflush(stdout);
    }

    void redraw(const std::vector<Unit>& units)
    {
        if (!terminal_) return;
        if (linesDrawn_ > 0) std::printf("\x1b[%dA", linesDrawn_);   // back to the first unit's line
        for (const Unit& unit : units) {
            std::printf("\r\x1b[K%s %s: %s\n", serialOf(unit).c_str(), portOf(unit).c_str(), unit.shownState.c_str());
        }
        linesDrawn_ = static_cast<int>(units.size());
        std::fflush(stdout);
    }

private:
    bool terminal_;
    const CliTexts& texts_;
    int lang_;
    int linesDrawn_ = 0;
};

// Whether a stop now could leave a unit without working firmware. --check writes nothing;
// --skip-current writes only to a unit whose check found it different.
bool memoryAtStake(const CliOptions& options, const std::vector<Unit>& units)
{
    if (options.check) return false;
    if (!options.skipCurrent) return true;
    return std::any_of(units.begin(), units.end(), [](const Unit& unit) {
        return unit.kind == UnitKind::Update && !unit.ended() && unit.state.check() && !unit.state.checkIsOutcome();
    });
}

// The arguments of the child for unit.
std::vector<std::string> childArguments(const CliOptions& options, int lang, const Unit& unit)
{
    std::vector<std::string> arguments = {"-y", "--language", lang == kLanguageGerman ? "de" : "en"};
    // The child starts in this process's working directory: a relative folder means the same.
    if (options.dataDir) {
        arguments.push_back("--data-dir");
        arguments.push_back(*options.dataDir);
    }
    arguments.push_back("--serial");
    arguments.push_back(unit.serial);
    if (options.check) arguments.push_back("--check");
    if (options.skipCurrent) arguments.push_back("--skip-current");
    if (options.traceFile) {
        arguments.push_back("--trace");
        arguments.push_back(traceFileForUnit(*options.traceFile, unit.serial));
    }
    return arguments;
}

// Each unit's trace file can be made where it is to go (checked before any unit is touched:
// a made file is removed again, the child makes its own).
bool traceFilesCanBeMade(const CliOptions& options, const std::vector<Unit>& units)
{
    if (!options.traceFile) return true;
    for (const Unit& unit : units) {
        if (unit.kind != UnitKind::Update) continue;
        const std::string path = traceFileForUnit(*options.traceFile, unit.serial);
        ReportFile probe;
        std::string error;
        if (!probe.create(path, error)) {
            printError("cannot write the trace " + path + ": " + error);
            return false;
        }
    }
    return true;
}

// Takes the events that came from each child and notes the units that ended.
void takeEvents(std::vector<Unit>& units)
{
    for (Unit& unit : units) {
        if (unit.kind != UnitKind::Update) continue;
        if (!unit.child.pending.empty()) {
            unit.lines.take(unit.child.pending, [&unit](std::string_view line) { unit.state.takeLine(line); });
            unit.child.pending.clear();
        }
        if (unit.child.ended() && !unit.times && unit.clock) unit.times = unit.clock->times();
    }
}

// The summary's lines below the table: the duplicate serials, what each stopped unit's
// memory holds, the reasons the children gave, and (Linux) each converter whose driver kept
// a slow latency timer despite the request for low latency.
void printNotes(const std::vector<Unit>& units, const CliTexts& texts, int lang, bool stopsSent)
{
    std::vector<std::string> notes;
    std::vector<std::string> duplicateSerials;
    for (const Unit& unit : units) {
        const std::string head = serialOf(unit) + " " + portOf(unit) + ": ";
        if (unit.kind == UnitKind::Duplicate) {
            if (std::find(duplicateSerials.begin(), duplicateSerials.end(), unit.shownSerial) == duplicateSerials.end()) {
                duplicateSerials.push_back(unit.shownSerial);
                std::string note(texts.allDuplicateNote);
                note.replace(note.find("%s"), 2, unit.shownSerial);
                notes.push_back(note);
            }
            continue;
        }
        if (stoppedUnfinished(unit, stopsSent)) {
            notes.push_back(head + text(unit.state.memory() == MemoryState::Unchanged ? texts.allInterruptedNotWriting
                                                                                      : texts.allInterruptedWriting));
        }
        const UnitState& state = unit.state;
        if (!state.lastError().empty() && state.finalCode() != OK_UPDATE_FINISHED) {
            notes.push_back(head + text(texts.portProblem) + " " + state.lastError());
        } else if (!state.detail().empty()) {
            notes.push_back(head + state.detail());
        }
        if (const auto& refusal = state.firmwareRefusal()) notes.push_back(head + refusal->file + ": " + refusal->text);
        if (!state.reportProblem().empty()) notes.push_back(head + state.reportProblem());
        // Windows said this before the units started, from the registry. Not said for a
        // converter that has gone since: there is no file to name.
        if (const auto latencyMs = state.latencyTimerMs();
            latencyMs && *latencyMs > kLatencyTimerHintAboveMs && !latencyTimerInRegistry()) {
            const std::string file = latencyTimerFile(unit.serial);
            if (!file.empty()) notes.push_back(latencyStayedLine(lang, unit.shownSerial, *latencyMs, file));
        }
    }
    if (notes.empty()) return;
    std::printf("\n");
    for (const std::string& note : notes) std::printf("%s\n", note.c_str());
}

Json notConnectedObjects(const std::vector<PortEntry>& notConnected)
{
    Json list = Json::array();
    for (const PortEntry& entry : notConnected) {
        list.push_back(Json{{"serial", shownField(entry.serial)}, {"port", shownField(entry.portName)}});
    }
    return list;
}

Json unitObjects(const std::vector<Unit>& units, bool stopsSent)
{
    Json list = Json::array();
    for (const Unit& unit : units) {
        UnitReportExtras extras;
        extras.serial = unit.shownSerial;
        extras.port = unit.shownPort;
        extras.times = unit.times;
        extras.unfinished = stoppedUnfinished(unit, stopsSent);
        extras.duplicateSerial = unit.kind == UnitKind::Duplicate;
        if (unit.kind == UnitKind::Duplicate) extras.exitStatus = kExitDuplicateSerial;
        else if (unit.kind == UnitKind::CannotStart) extras.exitStatus = kExitInternal;
        else extras.exitStatus = unit.child.exitStatus;
        list.push_back(unitReportObject(unit.state, extras));
    }
    return list;
}

// 0 when every unit finished; else the status of the first unit in converter order that did not.
int runStatus(const std::vector<Unit>& units)
{
    for (const Unit& unit : units) {
        if (unit.kind == UnitKind::Duplicate) return kExitDuplicateSerial;
        if (unit.kind == UnitKind::CannotStart) return kExitInternal;
        if (!unit.child.exitStatus) return kExitInternal;   // ended unseen: not known to have finished
        if (*unit.child.exitStatus != 0) return *unit.child.exitStatus;
    }
    return kExitSuccess;
}

}  // namespace

int runAllUnits(const CliOptions& options, int lang, ReportTarget* report, const char* argv0)
{
    const CliTexts& texts = cliTexts(lang);
    const auto deliverReport = [&](const std::vector<Unit>& units, const std::vector<PortEntry>& notConnected,
                                   bool stopsSent, int status) {
        if (report == nullptr) return status;
        std::string error;
        if (report->deliver(reportDocument(unitObjects(units, stopsSent), stopsSent, notConnectedObjects(notConnected)),
                            error)) {
            return status;
        }
        printError("cannot write the report " + report->path() + ": " + error +
                   (units.empty() ? std::string() : "; the units' updates themselves ended as the summary says"));
        return status == kExitSuccess ? kExitReportNotWritten : status;
    };
    const auto nothingToStart = [&](std::uint8_t code, const std::vector<PortEntry>& notConnected) {
        std::printf("\n%s\n\n", messageHeading(code, lang).c_str());
        std::fflush(stdout);
        return deliverReport({}, notConnected, false, code);
    };

    DeviceList devices;
    if (!loadDeviceList(devices, dataPaths.deviceListPath)) return nothingToStart(ERROR_OPEN_FILE_LIST, {});
    PortList ports;
    if (!findFtdiPorts(devices, ports)) return nothingToStart(ERROR_NO_FTDI_DRIVER, {});
    Converters converters = convertersFrom(ports);
    std::vector<Unit>& units = converters.units;
    if (units.empty()) {
        if (!converters.notConnected.empty()) std::printf("\n%s\n", text(texts.allNoneConnected).c_str());
        return nothingToStart(ERROR_NO_DRIVER_ENTRY, converters.notConnected);
    }
    // No unit is touched when a trace cannot be made (the report's file is removed unwritten).
    if (!traceFilesCanBeMade(options, units)) return kExitReportNotWritten;
    // What the converters' latency timers cost is said before any unit is started; each child
    // reads its own timer again and sends it as an event, for the report.
    if (latencyTimerInRegistry()) {
        std::vector<std::string> serials;
        for (const Unit& unit : units) {
            if (unit.kind == UnitKind::Update) serials.push_back(unit.serial);
        }
        checkLatencyTimers(serials, lang, stdout);
    }

    // From here the terminal's Ctrl-C, SIGTERM and hang-up are counted, not fatal: they reach
    // this process only (each child has its process group), which decides for all.
    setUpdateGuarded(true);
    prepareForChildren();
    const std::string program = ownProgramPath(argv0);
    const bool terminal = isTerminal(stdout);
    if (terminal) enableCursorMovements();
    ProgressView view(terminal, texts, lang);
    for (Unit& unit : units) {
        if (unit.kind != UnitKind::Update) continue;
        unit.clock.emplace();
        if (!startChild(program, childArguments(options, lang, unit), unit.child)) {
            unit.kind = UnitKind::CannotStart;
            unit.clock.reset();
            printError(text(texts.allCannotStart) + " " + unit.shownSerial);
        }
    }
    for (Unit& unit : units) unit.shownState = stateText(unit, texts, false, false, lang);
    if (!terminal) {
        for (const Unit& unit : units) {
            if (unit.kind != UnitKind::Update) {
                std::printf("%s %s: %s\n", unit.shownSerial.c_str(), unit.shownPort.c_str(), unit.shownState.c_str());
            }
        }
    }
    view.redraw(units);

    std::vector<ChildProcess*> children;
    for (Unit& unit : units) {
        if (unit.kind == UnitKind::Update) children.push_back(&unit.child);
    }
    UpdateStop stop;
    bool stopsSent = false;
    std::optional<std::chrono::steady_clock::time_point> deadline;
    for (;;) {
        const bool waiting = std::any_of(units.begin(), units.end(), [](const Unit& unit) { return !unit.ended(); });
        if (!waiting || (deadline && std::chrono::steady_clock::now() >= *deadline)) break;
        serviceChildren(children, kServiceIntervalMs);
        const InterruptCounts counts = interruptCounts();
        if (counts.closes > 0 && !deadline) deadline = std::chrono::steady_clock::now() + kCloseDeadline;
        stop.setMemoryAtStake(memoryAtStake(options, units));
        switch (stop.decide(counts, UpdateStop::Clock::now())) {
        case UpdateStop::Action::None:
            break;
        case UpdateStop::Action::Warn:
            std::fprintf(stderr, "\n%s\n", text(texts.allStopWarning).c_str());
            std::fflush(stderr);
            break;
        case UpdateStop::Action::Stop:
            for (const Unit& unit : units) {
                if (unit.kind == UnitKind::Update) stopChild(unit.child);
            }
            stopsSent = true;
            break;
        }
        takeEvents(units);
        view.update(units, stopsSent);
    }
    takeEvents(units);
    for (Unit& unit : units) {
        if (unit.clock && !unit.times) unit.times = unit.clock->times();   // still running at a close
    }

    std::printf("\n");
    std::vector<std::vector<std::string>> rows;
    rows.push_back({text(texts.headSerial), text(texts.headPort), text(texts.headModel), text(texts.headVersion),
                    text(texts.headResult), text(texts.headMemory)});
    for (const Unit& unit : units) {
        const auto& entry = unit.state.entry();
        rows.push_back({serialOf(unit), portOf(unit), entry ? entry->model : "-", entry ? entry->version : "-",
                        resultCell(unit, texts, stopsSent, lang), memoryText(unit.state.memory(), texts)});
    }
    for (const PortEntry& entry : converters.notConnected) {
        rows.push_back({shownField(entry.serial), shownField(entry.portName), "-", "-", text(texts.allNotConnected), "-"});
    }
    printTable(rows);
    printNotes(units, texts, lang, stopsSent);
    std::fflush(stdout);

    // A stop that came after every unit had finished changed nothing.
    const bool anyStopped = std::any_of(units.begin(), units.end(),
                                        [&](const Unit& unit) { return stoppedUnfinished(unit, stopsSent); });
    int exitStatus = anyStopped ? stop.exitStatus() : runStatus(units);
    exitStatus = deliverReport(units, converters.notConnected, stopsSent, exitStatus);
    setUpdateGuarded(false);
    return exitStatus;
}
