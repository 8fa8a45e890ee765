// SPDX-License-Identifier: MIT
// Start-up steps of the windowed program on Windows: the working directory (the data folder)
// as _getcwd reports it, and the main window's icon from the program file's resources.
// The program is linked for the GUI subsystem, so Windows opens no console window for it
// and there is none to hide.
#include "app/app.h"
#include "app/resources/resource_ids.h"

#include <FL/Fl_Window.H>

#include <direct.h>
#include <windows.h>

namespace {

// _getcwd is given this length including the string end: at most 253 characters of
// directory, so the backslash and a file name still fit the 256-byte path buffers.
constexpr int kWorkDirLength = 254;

}  // namespace

std::string readWorkingDirectory()
{
    char cwd[kWorkDirLength] = {};
    if (!::_getcwd(cwd, kWorkDirLength))
        return {};   // unreadable, or longer than 253 characters
    return cwd;
}

void setDesktopIdentity(Fl_Window& window)
{
    // FLTK registers its one window class when the first window is shown, with that
    // window's icon; the main window is shown first, so every window shows this icon.
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kMainWindowIconId));
    window.icon(icon);
}
