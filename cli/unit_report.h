// SPDX-License-Identifier: MIT
// What one run of the command-line updater leaves for support: the trace of the port (when
// asked for) while the update runs, its events, and the JSON report at the end.
#pragma once

#include "cli/report_file.h"
#include "cli/unit_events.h"
#include "cli/update_events.h"
#include "link/trace.h"

#include <optional>
#include <string>

// Where --json goes: a file (made at once, put in place at the end) or, for "-", the
// standard output kept for it.
class ReportTarget {
public:
    // Makes the file now, before any unit is touched. False with the reason when it cannot.
    bool prepare(const std::string& path, std::string& error);
    bool prepared() const { return toStandardOutput_ || file_.isOpen(); }
    const std::string& path() const { return path_; }
    // Writes the document whole and puts it in place. False with the reason when it cannot.
    bool deliver(const Json& document, std::string& error);

private:
    std::string path_;
    bool toStandardOutput_ = false;
    ReportFile file_;
};

// The whole document: the program, its version, whether the run was stopped, the units in
// converter order and the converters known but not connected.
Json reportDocument(Json units, bool interrupted, Json notConnected = Json::array());

// The trace file of one unit under --all: the serial put before the extension
// ("trace.txt" and FTVF2Q7K give "trace-FTVF2Q7K.txt").
std::string traceFileForUnit(const std::string& traceFile, const std::string& serial);

// The observers of one run: the counts always, the events, and the trace when a file is
// given; the display that sends the identified unit and the stored codes as events.
class UnitRun {
public:
    // terminal: the display the worker's changes are shown on; channel and trace may be
    // nullptr. All must outlive the run.
    // lang: the language of the texts the events carry.
    UnitRun(UpdateDisplay& terminal, EventChannel* channel, std::FILE* trace, int lang);
    UnitRun(const UnitRun&) = delete;
    UnitRun& operator=(const UnitRun&) = delete;
    ~UnitRun();

    // Installs the observers and the display and starts the clock; before the worker starts.
    void start();
    // Takes them out again; after the worker has stopped.
    void stop();

    UnitEventLog& events() { return events_; }
    RunTimes times() const { return clock_ ? clock_->times() : RunTimes{}; }

    // The result event: the outcome and the counts of the traffic.
    struct Outcome {
        std::uint8_t finalCode = 0;
        int exitStatus = 0;
        bool stopped = false;         // a stop changed the outcome
        std::string detail;           // e.g. the port's last error for code 8
        std::string lastError;        // the port's last error, UTF-8
        std::string reportProblem;    // the trace or report that could not be written
    };
    Json resultEvent(const Outcome& outcome) const;

private:
    UnitEventLog events_;
    std::optional<PortTrace> trace_;
    UpdateEventObserver eventObserver_;
    ExchangeCounter counter_;
    ReportingDisplay display_;
    std::optional<RunClock> clock_;
};
