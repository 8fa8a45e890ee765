// SPDX-License-Identifier: MIT
// The windowed program's own state on the GUI thread: its windows and widgets, the interface
// language, the loaded help and safety texts, and the actions of its buttons and windows.
#pragma once

#include <FL/Enumerations.H>

#include <optional>
#include <string>

class Fl_Box;
class Fl_Button;
class Fl_Pixmap;
class Fl_Progress;
class Fl_Text_Buffer;
class Fl_Widget;
class Fl_Window;

// Colours in FLTK's 0xRRGGBB00 form.
inline constexpr Fl_Color accentRed = 0xD9281900;    // main panel, its text boxes, red buttons
inline constexpr Fl_Color pressedRed = 0xAE1E1200;   // red buttons while pressed

// The program's name on the Linux desktop: the basename of its desktop entry
// (varnoflex-update.desktop). The windows carry it as their X11 class (WM_CLASS) and Wayland
// app id, by which docks and compositors match them to the entry, its name and its icon.
inline constexpr const char* kDesktopId = "varnoflex-update";

inline constexpr int kAcceptPauseMs = 50;            // between hiding the safety window and showing the main one
inline constexpr int kWorkerStartPauseMs = 1000;     // before the worker thread starts
inline constexpr double kFirstPollDelayS = 1.0;      // the result timer's first run
inline constexpr double kPollPeriodS = 0.25;         // the result timer's period afterwards

// Main window and the widgets the program changes after building it.
extern Fl_Window* mainWindow;
extern Fl_Button* startButton;
extern Fl_Button* exitButton;
extern Fl_Button* helpButton;
extern Fl_Box* deviceLine;
extern Fl_Box* versionLine;
extern Fl_Progress* progressBar;

// The "Info" window of the result timer.
extern Fl_Window* resultWindow;
extern Fl_Box* resultMessage;
extern Fl_Box* resultPicture;

// Help window and its text.
extern Fl_Window* helpWindow;
extern Fl_Text_Buffer* helpBuffer;

// Safety window; safetyQuestion and acceptButton exist only when the safety text was read.
extern Fl_Window* safetyWindow;
extern Fl_Text_Buffer* safetyBuffer;
extern Fl_Box* safetyQuestion;
extern Fl_Button* acceptButton;
extern Fl_Button* declineButton;

// Pictures of the "Info" window, alive for the whole process.
extern Fl_Pixmap* errorPicture;
extern Fl_Pixmap* okPicture;

extern int language;                          // 1 German, 0 English
extern std::optional<std::string> helpText;   // the help text while the help window shows it
extern std::optional<std::string> safetyText; // the safety text until it is answered
extern bool safetyTextLoaded;

// Start-up steps that differ by platform (startup_posix.cpp, startup_win32.cpp).
// The directory the program was started in, without a trailing separator; empty when it
// cannot be read.
std::string readWorkingDirectory();
// Gives the main window, and with it every window of the program, the program icon and (on
// Linux) the program's name on the desktop; called before the window is first shown.
void setDesktopIdentity(Fl_Window& window);

// The result pictures, created once at start-up and kept to the process end.
void createResultPictures();

// Windows (built once, then only shown and hidden).
void buildMainWindow();
void buildResultWindow();
void buildHelpWindow();
void buildSafetyWindow();
void destroyMainWindow();

// Reads the safety text of the current language (start-up).
void readSafetyText();

// Interface language: every widget text, the connecting word and the result messages.
void setLanguage(int lang);

// Result timer: shows a stored result code in the "Info" window.
void pollResult(void*);

// Puts the worker's pending display changes into the widgets (GUI thread).
void applyPendingDisplay();

// Button and window actions (FLTK callbacks; widget and data are ignored).
void requestUpdate(Fl_Widget*, void*);
void requestExit(Fl_Widget*, void*);
void closeMainWindow(Fl_Widget*, void*);
void closeResult(Fl_Widget*, void*);
void showHelp(Fl_Widget*, void*);
void closeHelp(Fl_Widget*, void*);
void acceptSafetyInstructions(Fl_Widget*, void*);
void declineSafetyInstructions(Fl_Widget*, void*);

// Ends the process in an orderly way: stops the worker, closes the port, empties the lists,
// with exitStatus (0: the user ended it).
[[noreturn]] void endProgram(int exitStatus = 0);

// Signals during an update (update_guard.cpp): guardUpdate before an update is requested;
// watchUpdateSignals, a repeating timer, takes them and ends the program after a stop.
void guardUpdate();
void watchUpdateSignals(void*);
inline constexpr double kFirstSignalWatchDelayS = 0.1;
