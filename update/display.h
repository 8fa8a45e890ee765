// SPDX-License-Identifier: MIT
// What the worker changes that a person sees: the two device lines, the progress bar and
// the activity of the Start, Exit and Help buttons. The worker never touches a toolkit; it
// calls this interface, which the windowed program implements by handing each change to
// the GUI thread and the command-line updater by printing.
#pragma once

#include <cstdint>
#include <string_view>

#include "files/firmware_image.h"
#include "update/check.h"

class UpdateDisplay {
public:
    virtual ~UpdateDisplay() = default;
    // Both lines are Windows-1252 text, at most 255 bytes each.
    virtual void setDeviceLines(std::string_view deviceLine, std::string_view versionLine) = 0;
    virtual void setProgressMaximum(double maximum) = 0;
    virtual void setProgressValue(double value) = 0;
    // false: deactivate Start, Exit and Help (in that order); true: activate them.
    virtual void setButtonsActive(bool active) = 0;
    // Called by storeResult, on the thread that stored the code.
    virtual void resultStored(std::uint8_t /*code*/) {}
    // The firmware file firmwareFile (as the device list names it) failed the whole-file
    // check: its first problem. Called on the worker thread just before it stores
    // ERROR_READ_FILE.
    virtual void firmwareFileRefused(std::string_view /*firmwareFile*/, const FirmwareProblem& /*problem*/) {}
    // The check (update/check.h) has identified the unit, loaded its firmware and begins to
    // compare: the progress that follows is the check's verify pass. Worker thread.
    virtual void checkStarted() {}
    // The check's comparison ended with result; the port is closed. Worker thread.
    virtual void checkEnded(const CheckResult& /*result*/) {}
};

// Installs the display the worker reports to (nullptr: changes go nowhere). Set it before
// the worker starts; it must outlive the worker.
void setUpdateDisplay(UpdateDisplay* display);
UpdateDisplay& updateDisplay();
