// SPDX-License-Identifier: MIT
// The command-line updater's view of the update: the worker's reports queued under a mutex,
// and their printing on the main thread.
#include "cli/terminal_display.h"

#include "cli/check_report.h"
#include "cli/cli_texts.h"
#include "files/texts.h"
#include "update/result_codes.h"
#include "update/shared_state.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBarWidthChars = 40;
constexpr int kPercentPerPlainLine = 10;

int percentOf(double value, double maximum)
{
    if (!(maximum > 0) || !std::isfinite(value) || !std::isfinite(maximum)) return 0;
    const double percent = std::clamp(value / maximum * 100.0, 0.0, 100.0);
    return static_cast<int>(percent);
}

}  // namespace

void TerminalDisplay::setDeviceLines(std::string_view deviceLine, std::string_view versionLine)
{
    std::lock_guard lock(mutex_);
    DisplayEvent event;
    event.kind = DisplayEvent::Kind::DeviceLines;
    event.deviceLine = deviceLine;
    event.versionLine = versionLine;
    events_.push_back(std::move(event));
}

void TerminalDisplay::setProgressMaximum(double maximum)
{
    std::lock_guard lock(mutex_);
    progressMaximum_ = maximum;
    queueProgress();
}

void TerminalDisplay::setProgressValue(double value)
{
    std::lock_guard lock(mutex_);
    progressValue_ = value;
    queueProgress();
}

void TerminalDisplay::setButtonsActive(bool /*active*/)
{
    // A terminal has no buttons; the main thread follows busy instead.
}

void TerminalDisplay::resultStored(std::uint8_t code)
{
    std::lock_guard lock(mutex_);
    DisplayEvent event;
    event.kind = DisplayEvent::Kind::Result;
    event.code = code;
    // Called on the worker thread, the only writer of busy: the value read here is exact.
    event.duringUpdate = busy.load() != 0;
    events_.push_back(std::move(event));
}

void TerminalDisplay::firmwareFileRefused(std::string_view firmwareFile, const FirmwareProblem& problem)
{
    std::lock_guard lock(mutex_);
    DisplayEvent event;
    event.kind = DisplayEvent::Kind::FirmwareRefused;
    event.refused = RefusedFirmware{std::string(firmwareFile), problem};
    events_.push_back(std::move(event));
}

void TerminalDisplay::checkStarted()
{
    std::lock_guard lock(mutex_);
    DisplayEvent event;
    event.kind = DisplayEvent::Kind::CheckStarted;
    events_.push_back(std::move(event));
}

void TerminalDisplay::checkEnded(const CheckResult& result)
{
    std::lock_guard lock(mutex_);
    DisplayEvent event;
    event.kind = DisplayEvent::Kind::CheckEnded;
    event.check = result;
    events_.push_back(std::move(event));
}

void TerminalDisplay::queueProgress()
{
    // Steps forward are merged; a drop (a new pass, or the reset at the end) is kept apart so
    // that the end of a pass is still shown.
    if (events_.empty() || events_.back().kind != DisplayEvent::Kind::Progress
        || progressValue_ < events_.back().progressValue
        || progressMaximum_ != events_.back().progressMaximum) {
        events_.emplace_back();
        events_.back().kind = DisplayEvent::Kind::Progress;
    }
    events_.back().progressValue = progressValue_;
    events_.back().progressMaximum = progressMaximum_;
}

std::vector<DisplayEvent> TerminalDisplay::takeEvents()
{
    std::lock_guard lock(mutex_);
    std::vector<DisplayEvent> taken;
    taken.swap(events_);
    return taken;
}

TerminalOutput::TerminalOutput(int lang, std::FILE* out, std::FILE* progressStream,
                               bool progressIsTerminal)
    : lang_(lang), out_(out), progressStream_(progressStream),
      progressIsTerminal_(progressIsTerminal)
{
}

void TerminalOutput::show(const DisplayEvent& event)
{
    switch (event.kind) {
    case DisplayEvent::Kind::DeviceLines: showDeviceLines(event); break;
    case DisplayEvent::Kind::Progress: showProgress(event); break;
    case DisplayEvent::Kind::Result: showResult(event); break;
    case DisplayEvent::Kind::FirmwareRefused: refusedFirmware_ = event.refused; break;
    case DisplayEvent::Kind::CheckStarted: checking_ = true; break;
    case DisplayEvent::Kind::CheckEnded: showCheckEnded(event); break;
    }
}

void TerminalOutput::finish()
{
    endBarLine();
    std::fflush(out_);
}

void TerminalOutput::endBarLine()
{
    if (!barLineOpen_) return;
    std::fputc('\n', progressStream_);
    std::fflush(progressStream_);
    barLineOpen_ = false;
    lastBarPercent_ = -1;
}

void TerminalOutput::showDeviceLines(const DisplayEvent& event)
{
    // The identification composes the same lines again when the first entry answers.
    if (event.deviceLine == lastDeviceLine_ && event.versionLine == lastVersionLine_) return;
    lastDeviceLine_ = event.deviceLine;
    lastVersionLine_ = event.versionLine;
    endBarLine();
    // The lines carry device list fields as they are stored: their control bytes (escape
    // sequences, carriage returns, line feeds) are shown as marks and never reach the terminal.
    std::fprintf(out_, "%s\n%s\n", cp1252ToUtf8(markControlCharactersInLine(event.deviceLine)).c_str(),
                 cp1252ToUtf8(markControlCharactersInLine(event.versionLine)).c_str());
    std::fflush(out_);
}

void TerminalOutput::showProgress(const DisplayEvent& event)
{
    const int percent = percentOf(event.progressValue, event.progressMaximum);
    const CliTexts& texts = cliTexts(lang_);
    const std::string_view pass = checking_ ? texts.checkPass : verifyPass_ ? texts.verifyPass : texts.writePass;

    if (progressIsTerminal_) {
        // The bar is drawn only while there is something to count, and not for the reset to 0
        // that ends every pass.
        if (percent == lastBarPercent_ || (percent == 0 && !barLineOpen_)) return;
        if (percent == 0) {
            endBarLine();
            return;
        }
        const int filled = percent * kBarWidthChars / 100;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(kBarWidthChars - filled), '.');
        std::fprintf(progressStream_, "\r%-10.*s [%s] %3d %%", static_cast<int>(pass.size()),
                     pass.data(), bar.c_str(), percent);
        std::fflush(progressStream_);
        barLineOpen_ = true;
        lastBarPercent_ = percent;
        return;
    }

    const int decile = percent / kPercentPerPlainLine;
    if (decile < lastDecile_) lastDecile_ = 0;   // a new pass starts from the beginning
    if (decile > lastDecile_) {
        lastDecile_ = decile;
        std::fprintf(progressStream_, "%.*s %d %%\n", static_cast<int>(pass.size()), pass.data(),
                     decile * kPercentPerPlainLine);
        std::fflush(progressStream_);
    }
}

void TerminalOutput::showResult(const DisplayEvent& event)
{
    if (event.duringUpdate) {
        finalCode_ = event.code;
        storedCodes_.push_back(event.code);
    }
    if (event.code == OK_DOWNLOADED) verifyPass_ = true;
    // A device list that the first display could not read fails the update the same way.
    if (event.code == lastShownCode_) return;
    lastShownCode_ = event.code;

    const char* message = messageText(event.code, lang_);
    if (message == nullptr) return;
    endBarLine();
    std::string text = cp1252ToUtf8(message);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    // A refused firmware file: which file, and its first problem with where it is.
    if (event.code == ERROR_READ_FILE && refusedFirmware_) {
        text += '\n';
        text += cp1252ToUtf8(markControlCharactersInLine(refusedFirmware_->file));
        text += ": ";
        text += cp1252ToUtf8(firmwareProblemText(refusedFirmware_->problem, lang_));
    }
    std::fprintf(out_, "\n%s\n\n", text.c_str());
    std::fflush(out_);
}

void TerminalOutput::showCheckEnded(const DisplayEvent& event)
{
    checking_ = false;
    checkResult_ = event.check;
    endBarLine();
    std::string text = checkVerdictText(event.check, lang_, skipCurrent_);
    // On its own line the verdict starts with a capital letter.
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    std::fprintf(out_, "\n%s\n\n", text.c_str());
    std::fflush(out_);
}
