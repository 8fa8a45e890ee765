// SPDX-License-Identifier: MIT
// The windowed program's side of the update display: the worker's changes to the device
// lines, the progress bar and the buttons are kept here under a mutex and applied on the
// GUI thread, through one pending Fl::awake callback at a time.
#pragma once

#include "update/display.h"

#include <mutex>
#include <string>

class Fl_Box;
class Fl_Progress;
class Fl_Widget;

struct MainWindowWidgets {
    Fl_Box* deviceLine = nullptr;
    Fl_Box* versionLine = nullptr;
    Fl_Progress* progressBar = nullptr;
    Fl_Widget* startButton = nullptr;
    Fl_Widget* exitButton = nullptr;
    Fl_Widget* helpButton = nullptr;
};

class GuiDisplay final : public UpdateDisplay {
public:
    explicit GuiDisplay(const MainWindowWidgets& widgets) : widgets_(widgets) {}

    // Worker side: record the change and make sure one callback is on its way.
    void setDeviceLines(std::string_view deviceLine, std::string_view versionLine) override;
    void setProgressMaximum(double maximum) override;
    void setProgressValue(double value) override;
    void setButtonsActive(bool active) override;

    // GUI thread: puts every recorded change into the widgets. Run by the awake callback
    // and, as a backstop, by the result timer.
    void applyPending();

private:
    enum Change : unsigned {
        kLines = 1u << 0,
        kProgressMaximum = 1u << 1,
        kProgressValue = 1u << 2,
        kButtons = 1u << 3,
    };

    void markChanged(unsigned change);
    static void onAwake(void* self);

    MainWindowWidgets widgets_;
    std::mutex mutex_;
    // Guarded by mutex_: the latest value of each thing and which of them changed.
    std::string deviceLine_;
    std::string versionLine_;
    double progressMaximum_ = 100.0;
    double progressValue_ = 0.0;
    bool buttonsActive_ = true;
    unsigned changed_ = 0;
    bool callbackPending_ = false;
    // GUI thread only: the UTF-8 labels the two line boxes point at.
    std::string deviceLabel_;
    std::string versionLabel_;
};
