// SPDX-License-Identifier: MIT
// The command-line updater's view of the update. The worker reports to TerminalDisplay
// (on its own thread), which only queues what happened; the main thread takes the queue
// and prints it through TerminalOutput: device lines, result messages, and progress as a
// bar on a terminal or as a line every 10 % otherwise.
#pragma once

#include "files/firmware_image.h"
#include "update/display.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A firmware file that failed the whole-file check, and its first problem.
struct RefusedFirmware {
    std::string file;   // as the device list names it (Windows-1252)
    FirmwareProblem problem;
};

struct DisplayEvent {
    enum class Kind { DeviceLines, Progress, Result, FirmwareRefused, CheckStarted, CheckEnded };
    Kind kind = Kind::Progress;
    std::string deviceLine;     // Windows-1252, DeviceLines only
    std::string versionLine;
    double progressValue = 0;   // Progress only
    double progressMaximum = 0;
    std::uint8_t code = 0;      // Result only
    bool duringUpdate = false;  // Result: stored while busy was 1
    RefusedFirmware refused;    // FirmwareRefused only
    CheckResult check;          // CheckEnded only
};

class TerminalDisplay final : public UpdateDisplay {
public:
    void setDeviceLines(std::string_view deviceLine, std::string_view versionLine) override;
    void setProgressMaximum(double maximum) override;
    void setProgressValue(double value) override;
    void setButtonsActive(bool active) override;
    void resultStored(std::uint8_t code) override;
    void firmwareFileRefused(std::string_view firmwareFile, const FirmwareProblem& problem) override;
    void checkStarted() override;
    void checkEnded(const CheckResult& result) override;

    // Everything reported since the last call, in order. Progress steps forward that follow
    // each other are merged into the latest one, so the queue stays short.
    std::vector<DisplayEvent> takeEvents();

private:
    void queueProgress();

    std::mutex mutex_;
    std::vector<DisplayEvent> events_;
    double progressValue_ = 0;
    double progressMaximum_ = 0;
};

class TerminalOutput {
public:
    // Text goes to out; progress goes to progressStream, drawn as a bar when progressIsTerminal.
    TerminalOutput(int lang, std::FILE* out, std::FILE* progressStream, bool progressIsTerminal);

    // --skip-current: the verdict line says what happens next (left alone, updating).
    void setSkipCurrent(bool skipCurrent) { skipCurrent_ = skipCurrent; }

    void show(const DisplayEvent& event);
    // Ends a progress bar line that is still open.
    void finish();

    // The last code stored during the update; 0 when none was.
    std::uint8_t finalCode() const { return finalCode_; }
    // Every code stored during the update, in order; the last one is finalCode().
    const std::vector<std::uint8_t>& storedCodes() const { return storedCodes_; }
    // The firmware file the update refused, and why; none when it was not refused.
    const std::optional<RefusedFirmware>& refusedFirmware() const { return refusedFirmware_; }
    // The check's result when a check compared; none otherwise.
    const std::optional<CheckResult>& checkResult() const { return checkResult_; }

private:
    void showDeviceLines(const DisplayEvent& event);
    void showProgress(const DisplayEvent& event);
    void showResult(const DisplayEvent& event);
    void showCheckEnded(const DisplayEvent& event);
    void endBarLine();

    int lang_;
    std::FILE* out_;
    std::FILE* progressStream_;
    bool progressIsTerminal_;
    bool barLineOpen_ = false;
    bool verifyPass_ = false;
    bool checking_ = false;   // between the check's start and its end: its verify pass
    bool skipCurrent_ = false;
    int lastBarPercent_ = -1;
    int lastDecile_ = 0;
    std::string lastDeviceLine_;
    std::string lastVersionLine_;
    std::uint8_t lastShownCode_ = 0;
    std::uint8_t finalCode_ = 0;
    std::vector<std::uint8_t> storedCodes_;
    std::optional<RefusedFirmware> refusedFirmware_;
    std::optional<CheckResult> checkResult_;
};
