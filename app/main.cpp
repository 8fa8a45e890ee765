// SPDX-License-Identifier: MIT
// varnoflex-update: the windowed firmware updater. Start-up shows the safety instructions;
// once they are accepted the main window offers Start, Exit and Help, a worker thread does
// all device work, and a quarter-second timer shows every outcome in the "Info" window.
#include "app/app.h"
#include "app/gui_display.h"

#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/std_streams.h"
#include "link/discovery.h"
#include "update/display.h"
#include "update/interrupts.h"
#include "update/shared_state.h"
#include "update/worker.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>

#include <chrono>
#include <thread>

namespace {

GuiDisplay* guiDisplay = nullptr;

// Forms the data file paths from the working directory and gives the shared state its
// start values. A directory that cannot be read (on Windows also one over 253 characters),
// or one too long for the 256-byte paths, leaves every path empty: the data files are then
// not found, as in an unreadable folder.
void initState()
{
    const std::string workDir = readWorkingDirectory();
    if (workDir.empty() || !initDataPaths(workDir))
        dataPaths = DataPaths{};

    helpText.reset();
    safetyText.reset();
    safetyTextLoaded = false;
    initSharedState();
    deviceList.clear();
    portList.clear();
}

}  // namespace

void applyPendingDisplay()
{
    if (guiDisplay)
        guiDisplay->applyPending();
}

int main(int, char**)
{
    // Before anything is opened (the display connection, data files, the port): a closed
    // standard stream's number must not go to one of them, or what the toolkit and the
    // libraries print would reach it.
    ensureStandardStreamsOpen();
    // Also makes a reader that goes away cost only the failed write (SIGPIPE ignored).
    installInterruptHandlers();
    // The worker hands its changes over with Fl::awake, which needs the lock taken once.
    Fl::lock();

    createResultPictures();
    initState();
    buildMainWindow();
    language = 0;
    buildResultWindow();
    buildHelpWindow();
    readSafetyText();
    buildSafetyWindow();
    if (safetyTextLoaded)
        setLanguage(language);

    static GuiDisplay display(MainWindowWidgets{deviceLine, versionLine, progressBar,
                                                startButton, exitButton, helpButton});
    guiDisplay = &display;
    setUpdateDisplay(&display);

    Fl::add_timeout(kFirstPollDelayS, pollResult);
    Fl::add_timeout(kFirstSignalWatchDelayS, watchUpdateSignals);
    std::this_thread::sleep_for(std::chrono::milliseconds(kWorkerStartPauseMs));

    if (!startWorker()) {
        fl_message("Error by creating background function\nApplication will be closed !");
        closeMainWindow(mainWindow, nullptr);
    }

    Fl::scheme("gtk+");
    Fl::run();

    // The event loop ends when no window is shown any more (the safety window was closed).
    stopWorker();
    setUpdateDisplay(nullptr);
    guiDisplay = nullptr;
    destroyMainWindow();
    deviceList.clear();
    portList.clear();
    return 0;
}
