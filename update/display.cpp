// SPDX-License-Identifier: MIT
// The display the worker reports to; a display that shows nothing stands in until a front
// end installs its own.
#include "update/display.h"

#include <atomic>

namespace {

class NullDisplay final : public UpdateDisplay {
public:
    void setDeviceLines(std::string_view, std::string_view) override {}
    void setProgressMaximum(double) override {}
    void setProgressValue(double) override {}
    void setButtonsActive(bool) override {}
};

NullDisplay nullDisplay;
std::atomic<UpdateDisplay*> installedDisplay{nullptr};

}  // namespace

void setUpdateDisplay(UpdateDisplay* display)
{
    installedDisplay.store(display);
}

UpdateDisplay& updateDisplay()
{
    UpdateDisplay* display = installedDisplay.load();
    return display != nullptr ? *display : nullDisplay;
}
