// SPDX-License-Identifier: MIT
// An update display that records every change the update control makes, with the values of
// busy and startRequested at the moment of the call, and a temporary directory for data files.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "update/display.h"
#include "update/shared_state.h"

struct DisplayEvent {
    enum class Kind { Lines, Maximum, Value, Buttons, Result, FirmwareRefused, CheckStarted, CheckEnded };
    Kind kind;
    double number = 0.0;   // maximum, value, buttons active (0/1), or the result code
    std::string deviceLine;
    std::string versionLine;
    std::uint8_t busyAtCall = 0;
    std::uint8_t startRequestedAtCall = 0;
    std::string firmwareFile;   // FirmwareRefused only
    FirmwareProblem problem;
    CheckResult check;          // CheckEnded only
};

class RecordingDisplay final : public UpdateDisplay {
public:
    // Called, outside the lock, after each event has been recorded (e.g. to press Start).
    std::function<void(const DisplayEvent&)> onEvent;

    void setDeviceLines(std::string_view deviceLine, std::string_view versionLine) override
    {
        DisplayEvent event = make(DisplayEvent::Kind::Lines, 0.0);
        event.deviceLine = deviceLine;
        event.versionLine = versionLine;
        record(event);
    }
    void setProgressMaximum(double maximum) override { record(make(DisplayEvent::Kind::Maximum, maximum)); }
    void setProgressValue(double value) override { record(make(DisplayEvent::Kind::Value, value)); }
    void setButtonsActive(bool active) override { record(make(DisplayEvent::Kind::Buttons, active ? 1 : 0)); }
    void resultStored(std::uint8_t code) override { record(make(DisplayEvent::Kind::Result, code)); }
    void firmwareFileRefused(std::string_view firmwareFile, const FirmwareProblem& problem) override
    {
        DisplayEvent event = make(DisplayEvent::Kind::FirmwareRefused, 0.0);
        event.firmwareFile = firmwareFile;
        event.problem = problem;
        record(event);
    }

    void checkStarted() override { record(make(DisplayEvent::Kind::CheckStarted, 0.0)); }
    void checkEnded(const CheckResult& result) override
    {
        DisplayEvent event = make(DisplayEvent::Kind::CheckEnded, 0.0);
        event.check = result;
        record(event);
    }

    std::vector<DisplayEvent> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<DisplayEvent> eventsOf(DisplayEvent::Kind kind) const
    {
        std::vector<DisplayEvent> selected;
        for (const DisplayEvent& event : events()) {
            if (event.kind == kind) {
                selected.push_back(event);
            }
        }
        return selected;
    }
    // The result codes stored so far, in order.
    std::vector<int> results() const
    {
        std::vector<int> codes;
        for (const DisplayEvent& event : eventsOf(DisplayEvent::Kind::Result)) {
            codes.push_back(static_cast<int>(event.number));
        }
        return codes;
    }
    int count(DisplayEvent::Kind kind, double number) const
    {
        int n = 0;
        for (const DisplayEvent& event : eventsOf(kind)) {
            n += event.number == number ? 1 : 0;
        }
        return n;
    }

    // Waits until predicate holds for the recorded events, at most timeout.
    bool waitFor(const std::function<bool(const RecordingDisplay&)>& predicate,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (predicate(*this)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return predicate(*this);
    }

private:
    static DisplayEvent make(DisplayEvent::Kind kind, double number)
    {
        DisplayEvent event{kind, number, {}, {}, busy.load(), startRequested.load(), {}, {}, {}};
        return event;
    }
    void record(const DisplayEvent& event)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        }
        if (onEvent) {
            onEvent(event);
        }
    }

    mutable std::mutex mutex_;
    std::vector<DisplayEvent> events_;
};

// Installs a display for the lifetime of a test and removes it afterwards.
class InstalledDisplay {
public:
    explicit InstalledDisplay(UpdateDisplay& display) { setUpdateDisplay(&display); }
    ~InstalledDisplay() { setUpdateDisplay(nullptr); }
    InstalledDisplay(const InstalledDisplay&) = delete;
    InstalledDisplay& operator=(const InstalledDisplay&) = delete;
};

// A fresh directory under the system's temporary directory, removed with its content.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vf-update-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchDir()
    {
        std::error_code error;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, error);
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
