// SPDX-License-Identifier: MIT
// Start-up steps of the windowed program on Linux: the working directory (the data folder)
// and the window icon, drawn into the program, in two sizes for the window manager.
#include "app/app.h"

#include "app/resources/icon_rgba.h"

#include <FL/Fl_Image.H>
#include <FL/Fl_Window.H>

#include <unistd.h>

#include <climits>
#include <vector>

namespace {

const Fl_RGB_Image icon32(kIcon32Rgba, kIcon32Size, kIcon32Size, 4);
const Fl_RGB_Image icon48(kIcon48Rgba, kIcon48Size, kIcon48Size, 4);

}  // namespace

std::string readWorkingDirectory()
{
    std::vector<char> cwd(PATH_MAX + 1, '\0');
    if (!::getcwd(cwd.data(), cwd.size()))
        return {};
    return cwd.data();
}

void setMainWindowIcon(Fl_Window& window)
{
    const Fl_RGB_Image* icons[] = {&icon32, &icon48};
    Fl_Window::default_icons(icons, 2);   // every window of the program shows the icon
    window.icons(icons, 2);
}
