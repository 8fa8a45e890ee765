// SPDX-License-Identifier: MIT
// Hands the worker's visible changes to the GUI thread. The worker never touches a widget:
// it stores the newest value under the mutex and, if no callback is pending, posts one with
// Fl::awake. Many changes between two runs of the callback collapse into one, so the
// toolkit's awake queue never fills up however fast the progress moves.
#include "app/gui_display.h"

#include "app/display_text.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Widget.H>

void GuiDisplay::setDeviceLines(std::string_view deviceLine, std::string_view versionLine)
{
    {
        std::lock_guard lock(mutex_);
        deviceLine_.assign(deviceLine);
        versionLine_.assign(versionLine);
    }
    markChanged(kLines);
}

void GuiDisplay::setProgressMaximum(double maximum)
{
    {
        std::lock_guard lock(mutex_);
        progressMaximum_ = maximum;
    }
    markChanged(kProgressMaximum);
}

void GuiDisplay::setProgressValue(double value)
{
    {
        std::lock_guard lock(mutex_);
        progressValue_ = value;
    }
    markChanged(kProgressValue);
}

void GuiDisplay::setButtonsActive(bool active)
{
    {
        std::lock_guard lock(mutex_);
        buttonsActive_ = active;
    }
    markChanged(kButtons);
}

void GuiDisplay::markChanged(unsigned change)
{
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        changed_ |= change;
        if (!callbackPending_) {
            callbackPending_ = true;
            post = true;
        }
    }
    // Posted outside the mutex: Fl::awake takes the toolkit's own queue lock.
    if (post && Fl::awake(&GuiDisplay::onAwake, this) != 0) {
        // Queue full: the result timer's backstop applies the change within 0.25 s.
        std::lock_guard lock(mutex_);
        callbackPending_ = false;
    }
}

void GuiDisplay::onAwake(void* self)
{
    static_cast<GuiDisplay*>(self)->applyPending();
}

void GuiDisplay::applyPending()
{
    unsigned changed;
    std::string deviceLine;
    std::string versionLine;
    double progressMaximum;
    double progressValue;
    bool buttonsActive;
    {
        std::lock_guard lock(mutex_);
        changed = changed_;
        changed_ = 0;
        callbackPending_ = false;
        if (changed == 0)
            return;
        deviceLine = deviceLine_;
        versionLine = versionLine_;
        progressMaximum = progressMaximum_;
        progressValue = progressValue_;
        buttonsActive = buttonsActive_;
    }

    if (changed & kLines) {
        deviceLabel_ = labelText(deviceLine, true);
        versionLabel_ = labelText(versionLine, true);
        widgets_.deviceLine->label(deviceLabel_.c_str());
        widgets_.versionLine->label(versionLabel_.c_str());
        widgets_.deviceLine->redraw();
        widgets_.versionLine->redraw();
    }
    if (changed & kProgressMaximum)
        widgets_.progressBar->maximum(static_cast<float>(progressMaximum));
    if (changed & kProgressValue)
        widgets_.progressBar->value(static_cast<float>(progressValue));
    if (changed & (kProgressMaximum | kProgressValue))
        widgets_.progressBar->redraw();
    if (changed & kButtons) {
        for (Fl_Widget* button : {widgets_.startButton, widgets_.exitButton, widgets_.helpButton}) {
            if (buttonsActive)
                button->activate();
            else
                button->deactivate();
        }
    }
}
