// SPDX-License-Identifier: MIT
// The events of one unit's update, as the command-line updater sends them to whoever asked
// for them (--event-fd: the --all parent reads each child's), one JSON object a line, and
// what the receiving side makes of them: the unit's state, its progress line, the statement
// about its memory and its object in the JSON report.
//
// Every event is an object whose member "event" names it; the others depend on the name:
//   identified     serial, port, entry {model, target, version, firmwareFile}, blocks
//   blankCheck     blank (true: the unit said its memory is blank)
//   eraseSent      -                      the erase frame went to the unit
//   programMode    -                      the program-mode frame went to the unit
//   blockWritten   block, acknowledged    a data block of the write pass went to the unit
//   checksum       -                      the unit was asked for its checksum
//   verifyMode     -                      the verify frame went to the unit
//   blockVerified  block, acknowledged    a data block of the verify pass went to the unit
//   code           code, name             a result code stored during the update
//   portError      port, error            an open, read or write on the port failed, and why
//   firmwareRefused  file, kind, record, line, address, text: the entry's firmware file failed
//                  its check; nothing was sent to the unit beyond the identification
//   checkStarted   -                      the check (--check, --skip-current) begins to compare:
//                  the verify pass that follows compares, it writes nothing
//   check          verdict, failure, blocks, deviceChecksum, imageChecksum, blocksVerified,
//                  refusedBlock, unansweredBlock (as the report's "check"), skipCurrent (true:
//                  a unit that differs is updated next, from a new identification)
//   latencyTimer   milliseconds           the converter's latency timer as read (Windows: its
//                                         registry value; Linux: what its driver shows)
//   result         code, name (null: none), exitStatus, stopped, detail, lastError,
//                  reportProblem, blocksWritten, blocksVerified, bytesSent, bytesReceived:
//                  the last event; the program ends with exitStatus right after it
// Texts are UTF-8, device list fields and serials with their control bytes shown as marks.
// A receiver ignores events and members it does not know, so that new ones can be added.
#pragma once

#include "update/check.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Json = nlohmann::ordered_json;
// What a received event line is parsed into: its members' order does not matter to the
// reader, and the unordered object takes each member without moving the ones before it.
using EventJson = nlohmann::json;

// Event lines longer than this are not events (and are not parsed). An event line is its
// object alone: "{" first, "}" last.
inline constexpr std::size_t kMaxEventLineBytes = 4096;

namespace event {
inline constexpr const char* kIdentified = "identified";
inline constexpr const char* kBlankCheck = "blankCheck";
inline constexpr const char* kEraseSent = "eraseSent";
inline constexpr const char* kProgramMode = "programMode";
inline constexpr const char* kBlockWritten = "blockWritten";
inline constexpr const char* kChecksum = "checksum";
inline constexpr const char* kVerifyMode = "verifyMode";
inline constexpr const char* kBlockVerified = "blockVerified";
inline constexpr const char* kCode = "code";
inline constexpr const char* kPortError = "portError";
inline constexpr const char* kFirmwareRefused = "firmwareRefused";
inline constexpr const char* kCheckStarted = "checkStarted";
inline constexpr const char* kCheck = "check";
inline constexpr const char* kLatencyTimer = "latencyTimer";
inline constexpr const char* kResult = "result";
}  // namespace event

// The device list entry a unit was identified with.
struct ReportEntry {
    std::string model;
    std::string target;
    std::string version;
    std::string firmwareFile;

    bool operator==(const ReportEntry&) const = default;
};

// Why the firmware file was refused before anything was sent (result 3), as the report
// gives it: the kind of the problem and where it is (each position absent when it concerns
// none), and the problem as one line for the summary.
struct FirmwareRefusal {
    std::string file;
    std::string kind;
    std::optional<std::int64_t> record;
    std::optional<std::int64_t> line;
    std::optional<std::int64_t> address;
    std::string text;

    bool operator==(const FirmwareRefusal&) const = default;
};

// What the unit's memory holds after the run, as far as the frames sent to it tell.
enum class MemoryState {
    Unchanged,            // no erase, program-mode or data block frame went to the unit
    PartlyWritten,        // some did, and the verify pass did not finish
    WrittenAndVerified,   // the update finished: every block written and verified
};

// "unchanged", "partly written", "written and verified": the report's words.
const char* memoryStateName(MemoryState state);

// One unit's update as its events tell it.
class UnitState {
public:
    // Takes one event; false when it is not an event this program knows (it is then left out).
    bool take(const Json& event);
    bool take(const EventJson& event);
    // Takes one line of the channel (without its line end): parsed, then taken. False for a
    // line that is not a JSON object of a known event.
    bool takeLine(std::string_view line);

    // The result event came: the unit's story is complete.
    bool resultKnown() const { return resultKnown_; }
    bool identified() const { return identified_; }
    // Not the erase, program mode or a data block frame, as far as the events tell. A unit
    // whose story is incomplete after its identification (the program ended without its
    // result) may have been written: it is not taken as unchanged.
    MemoryState memory() const;
    bool verifyPass() const { return verifyPass_; }
    // Blocks of the identified unit (0 until it is identified).
    int blockCount() const { return blockCount_; }
    int blocksWritten() const;
    int blocksVerified() const;

    const std::string& serial() const { return serial_; }
    const std::string& port() const { return port_; }
    const std::optional<ReportEntry>& entry() const { return entry_; }
    const std::vector<std::uint8_t>& storedCodes() const { return storedCodes_; }
    // The final result code (the result event's, else the last stored one); 0 when none.
    std::uint8_t finalCode() const;
    std::optional<int> exitStatus() const { return exitStatus_; }
    bool stopped() const { return stopped_; }
    // The line that says more about the result (e.g. the port's last error); empty: none.
    const std::string& detail() const { return detail_; }
    // The port's last error, from the result or the last portError event; empty: none.
    const std::string& lastError() const { return lastError_; }
    // The firmware file the update refused, and why; none when it was not refused.
    const std::optional<FirmwareRefusal>& firmwareRefusal() const { return firmwareRefusal_; }
    // Why a trace or report of the unit could not be written; empty: it was.
    const std::string& reportProblem() const { return reportProblem_; }
    std::optional<std::uint64_t> bytesSent() const { return bytesSent_; }
    std::optional<std::uint64_t> bytesReceived() const { return bytesReceived_; }
    // The converter's latency timer in milliseconds; none when it was not read.
    std::optional<int> latencyTimerMs() const { return latencyTimerMs_; }

    // Between the check's start and its verdict: the verify pass compares.
    bool checking() const { return checking_; }
    // The check's comparison, when one ended (its version and file left empty).
    const std::optional<CheckResult>& check() const { return check_; }
    // The check was asked for by --skip-current: a unit that differs is updated next.
    bool checkBeforeUpdate() const { return checkBeforeUpdate_; }
    // The check is the run's outcome: no update follows it (--check, or --skip-current with a
    // unit that holds its firmware or a check that failed).
    bool checkIsOutcome() const;
    // --skip-current found the unit current and left it alone.
    bool leftAlone() const;

    // Member by member: a state that took no event equals UnitState{}.
    bool operator==(const UnitState&) const = default;

private:
    template <typename Object> bool takeEvent(const Object& event);
    template <typename Object> bool takeIdentified(const Object& event);
    template <typename Object> bool takeBlock(const Object& event, bool verify);
    template <typename Object> bool takeResult(const Object& event);
    template <typename Object> bool takeCheck(const Object& event);
    template <typename Object> bool takeFirmwareRefused(const Object& event);

    bool identified_ = false;
    bool resultKnown_ = false;
    bool memoryTouched_ = false;
    bool verifyPass_ = false;
    bool stopped_ = false;
    int blockCount_ = 0;
    int blocksWrittenSeen_ = 0;
    int blocksVerifiedSeen_ = 0;
    std::optional<int> blocksWrittenReported_;
    std::optional<int> blocksVerifiedReported_;
    std::string serial_;
    std::string port_;
    std::optional<ReportEntry> entry_;
    std::vector<std::uint8_t> storedCodes_;
    std::optional<std::uint8_t> resultCode_;
    std::optional<int> exitStatus_;
    std::string detail_;
    std::string lastError_;
    std::string reportProblem_;
    std::optional<FirmwareRefusal> firmwareRefusal_;
    std::optional<std::uint64_t> bytesSent_;
    std::optional<std::uint64_t> bytesReceived_;
    std::optional<int> latencyTimerMs_;
    bool checking_ = false;
    bool checkBeforeUpdate_ = false;
    std::optional<CheckResult> check_;
};

// When a unit's update ran: the wall-clock stamps for the report, the length from the
// steady clock (the wall clock may be set in between).
struct RunTimes {
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    std::chrono::steady_clock::duration length{};
};

// Notes the start of a run and gives its times at the end.
class RunClock {
public:
    RunClock();
    RunTimes times() const;

private:
    std::chrono::system_clock::time_point startWall_;
    std::chrono::steady_clock::time_point startSteady_;
};

// "2026-12-07T19:04:05.123Z" (UTC, milliseconds).
std::string isoTime(std::chrono::system_clock::time_point time);

// What the report says about a unit beyond its events.
struct UnitReportExtras {
    std::string serial;                 // when no identified event named it (--serial, --all)
    std::string port;
    std::optional<RunTimes> times;      // nothing: it never ran
    std::optional<int> exitStatus;      // the process's own, when known
    bool unfinished = false;            // stopped before it ended (Ctrl-C, SIGTERM)
    bool duplicateSerial = false;       // not updated: another converter carries its serial
};

// The unit's object of the report (see the man page for its members).
Json unitReportObject(const UnitState& state, const UnitReportExtras& extras);

// The code's object of the report: {"code": c, "name": "..."}.
Json codeObject(std::uint8_t code);

// The text of value as one line: compact, UTF-8 errors replaced, never throwing.
std::string jsonLine(const Json& value);
// The text of a document: indented by two spaces, with a final newline.
std::string jsonDocumentText(const Json& document);
