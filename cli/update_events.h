// SPDX-License-Identifier: MIT
// Where a run of the command-line updater gets its events from: the frames on the port
// (UpdateEventObserver, a PortObserver) and the worker's reports of the identified unit and
// the stored result codes (ReportingDisplay, an UpdateDisplay in front of the terminal's).
// Both hand each event to the run's UnitEventLog, which keeps the unit's state and passes
// the event on to the event channel when one was given (--event-fd).
#pragma once

#include "cli/event_channel.h"
#include "cli/unit_events.h"
#include "link/serial.h"
#include "update/display.h"

#include <mutex>
#include <string>

// The run's events: taken into the unit's state and written to the channel. Events come
// from the worker thread and, at the end, from the main thread.
class UnitEventLog {
public:
    // channel may be nullptr (no channel); it must outlive the log.
    explicit UnitEventLog(EventChannel* channel = nullptr) : channel_(channel) {}

    // Takes event into the state and writes it to the channel.
    void send(const Json& event);
    // Takes event into the state only; send it with sendToChannel.
    void record(const Json& event);
    void sendToChannel(const Json& event);

    // A copy of the state, for the report (under the lock: the worker may still send).
    UnitState state() const;

private:
    mutable std::mutex mutex_;
    EventChannel* channel_;
    UnitState state_;
};

// The port as the converter list names it ("COM5" for the opened "\\.\COM5"; on Linux the
// opened path is the name).
std::string portNameOf(const std::string& openedPath);

// Turns what goes over the port into events: the blank check and its answer, the erase and
// program-mode frames, every data block and its acknowledgement in both passes, the
// checksum and verify commands, and every failure the port gives a reason for. Passes each
// call on to next, when there is one.
class UpdateEventObserver final : public PortObserver {
public:
    UpdateEventObserver(UnitEventLog& log, PortObserver* next) : log_(log), next_(next) {}

    void portOpened(std::string_view path) override;
    void portOpenFailed(std::string_view path, std::string_view reason) override;
    void portClosed() override;
    void speedChanged(std::uint32_t baud) override;
    void bytesWritten(std::span<const std::uint8_t> data, bool accepted) override;
    void bytesRead(std::span<const std::uint8_t> received, std::size_t wanted, std::string_view failure) override;
    void waited(int milliseconds) override;

    // The port that opened last (its name as the converter list gives it); empty: none.
    std::string openedPortName() const { return portNameOf(openedPath_); }

private:
    enum class Awaiting { Nothing, BlankCheckAnswer, BlockAcknowledgement };

    void portError(std::string_view path, std::string_view reason);

    UnitEventLog& log_;
    PortObserver* next_;
    Awaiting awaiting_ = Awaiting::Nothing;
    bool verifyPass_ = false;
    int blockIndex_ = 0;   // of the block awaiting its acknowledgement
    int nextBlock_ = 0;
    std::string openedPath_;
};

// The terminal's display with the identified unit, the stored result codes, a refused
// firmware file and the check sent as events. Installed as the update display; the worker calls it.
class ReportingDisplay final : public UpdateDisplay {
public:
    // lang: the language of the texts an event carries (the firmware file's problem).
    ReportingDisplay(UpdateDisplay& inner, UnitEventLog& log, const UpdateEventObserver& observer, int lang)
        : inner_(inner), log_(log), observer_(observer), lang_(lang) {}

    void setDeviceLines(std::string_view deviceLine, std::string_view versionLine) override;
    void setProgressMaximum(double maximum) override { inner_.setProgressMaximum(maximum); }
    void setProgressValue(double value) override { inner_.setProgressValue(value); }
    void setButtonsActive(bool active) override { inner_.setButtonsActive(active); }
    void resultStored(std::uint8_t code) override;
    void firmwareFileRefused(std::string_view firmwareFile, const FirmwareProblem& problem) override;
    void checkStarted() override;
    void checkEnded(const CheckResult& result) override;

private:
    UpdateDisplay& inner_;
    UnitEventLog& log_;
    const UpdateEventObserver& observer_;
    int lang_;
};

// A device list field or a name from the system for the terminal and the report: control
// bytes as marks, Windows-1252 as UTF-8.
std::string shownField(std::string_view cp1252);
