// What one run of the command-line updater leaves for support: the trace of the port (when
// asked for) while the update runs, and the JSON report of the unit afterwards.
#pragma once

#include "cli/json.h"
#include "files/firmware_image.h"
#include "link/trace.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class TerminalOutput;

// The device list entry a report names.
struct ReportEntry {
    std::string model;
    std::string target;
    std::string version;
    std::string firmwareFile;
};

// One unit's run, as the report gives it.
struct UnitRecord {
    std::string serial;                 // empty: not known (no unit answered, no --serial)
    std::string port;
    std::optional<ReportEntry> entry;
    std::vector<std::uint8_t> storedCodes;   // during the update, the final one last
    std::uint8_t finalCode = 0;
    std::optional<FirmwareProblem> firmwareProblem;   // why the firmware file was refused (code 3)
    int exitStatus = 0;
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    int blocksWritten = 0;
    int blocksVerified = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesReceived = 0;
    std::optional<int> latencyTimerMs;   // the converter's latency timer as read (Windows)
};

// "2026-12-07T19:04:05.123Z" (UTC, milliseconds).
std::string isoTime(std::chrono::system_clock::time_point time);

// The unit's object of the report (see the man page for its members).
JsonValue unitReport(const UnitRecord& record);

// The report's "firmwareProblem" member: null, or the kind of the problem and where it is
// (record and line numbers, the address; each null when it concerns none).
JsonValue firmwareProblemReport(const std::optional<FirmwareProblem>& problem);

// The whole document: the program, its version and the units in converter order.
JsonValue reportDocument(std::vector<JsonValue> units, bool interrupted);

// Writes document to path, or to the standard output saved by keepStandardOutputForReport
// when path is "-". False with the reason in error when it cannot.
bool writeReportFile(const std::string& path, const JsonValue& document, std::string& error);

// For "--json -": keeps the real standard output for the report and sends everything else
// printed to standard output to standard error from here on. False when it cannot.
bool keepStandardOutputForReport();

// The trace file of one unit under --all: the serial put before the extension
// ("trace.txt" and FTVF2Q7K give "trace-FTVF2Q7K.txt").
std::string traceFileForUnit(const std::string& traceFile, const std::string& serial);

// The observers of one run: counting always, the trace when a file is given.
class UnitRun {
public:
    UnitRun() = default;
    UnitRun(const UnitRun&) = delete;
    UnitRun& operator=(const UnitRun&) = delete;
    ~UnitRun();

    // Opens the trace file. False with the reason in error when it cannot be written.
    bool openTrace(const std::string& path, std::string& error);
    // Installs the observers and notes the start time; call before the worker starts.
    void start();
    // Takes the observers out again (the worker must have stopped) and fills record from
    // them, from the output's codes and from the entry that answered.
    UnitRecord finish(const TerminalOutput& output, int exitStatus, const std::string& askedSerial);

private:
    std::FILE* traceFile_ = nullptr;
    std::optional<PortTrace> trace_;
    std::optional<ExchangeCounter> counter_;
    std::chrono::system_clock::time_point start_;
};
