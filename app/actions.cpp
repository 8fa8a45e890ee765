// SPDX-License-Identifier: MIT
// What the buttons and windows do: Start, Exit, Help, the main window's close action, the
// "Info" window's OK, the help window's OK and the answers of the safety window.
#include "app/app.h"

#include "app/display_text.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/texts.h"
#include "link/discovery.h"
#include "link/serial.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/worker.h"

#include <FL/Fl.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Window.H>

#include <chrono>
#include <cstdlib>
#include <thread>

int language = kLanguageEnglish;
std::optional<std::string> helpText;
std::optional<std::string> safetyText;
bool safetyTextLoaded = false;

void requestUpdate(Fl_Widget*, void*)
{
    if (busy.load() == 0) {
        // From here until the update has ended, a signal stops it between frames at most.
        guardUpdate();
        startRequested.store(1);
    }
}

void requestExit(Fl_Widget*, void*)
{
    if (busy.load() == 0)
        mainWindow->do_callback();
}

void closeMainWindow(Fl_Widget*, void*)
{
    // An update that is running, or requested and not yet taken by the worker, keeps the
    // window open. startRequested is read before busy: the worker sets busy before it clears
    // startRequested, so one of the two is always seen.
    if (startRequested.load() != 0 || busy.load() != 0)
        return;
    endProgram();
}

void endProgram(int exitStatus)
{
    // The worker is stopped and joined first, so it is never inside the lists cleared here.
    stopWorker();
    // A failed verify pass leaves the port open for the next identification; close it
    // properly (exclusive mode off) so that the next program to open it is not refused.
    portClose();
    deviceList.clear();
    portList.clear();
    std::exit(exitStatus);
}

void closeResult(Fl_Widget*, void*)
{
    resultWindow->hide();
}

void showHelp(Fl_Widget*, void*)
{
    if (busy.load() != 0)
        return;
    const std::string& path = language == kLanguageGerman ? dataPaths.helpPathDe
                                                          : dataPaths.helpPathEn;
    helpText = path.empty() ? std::nullopt : loadDisplayText(path);
    if (!helpText) {
        storeResult(ERROR_OPEN_FILE);
        return;
    }
    helpBuffer->text(displayText(*helpText).c_str());
    helpWindow->show();
}

void closeHelp(Fl_Widget*, void*)
{
    helpText.reset();
    helpWindow->hide();
}

void acceptSafetyInstructions(Fl_Widget*, void*)
{
    safetyAccepted.store(1);
    safetyText.reset();
    safetyWindow->hide();
    std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptPauseMs));
    mainWindow->show();
}

void declineSafetyInstructions(Fl_Widget*, void*)
{
    safetyText.reset();
    closeMainWindow(mainWindow, nullptr);
}
