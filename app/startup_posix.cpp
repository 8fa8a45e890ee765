// SPDX-License-Identifier: MIT
// Start-up steps of the windowed program on Linux: the working directory (the data folder),
// and the windows' identity on the desktop: the desktop entry's name, and the program icon,
// drawn into the program in every size the window manager may want.
#include "app/app.h"

#include "app/resources/icon_rgba.h"

#include <FL/Fl_Image.H>
#include <FL/Fl_Window.H>

#include <unistd.h>

#include <climits>
#include <memory>
#include <vector>

std::string readWorkingDirectory()
{
    std::vector<char> cwd(PATH_MAX + 1, '\0');
    if (!::getcwd(cwd.data(), cwd.size()))
        return {};
    return cwd.data();
}

void setDesktopIdentity(Fl_Window& window)
{
    // Every window of the program: the X11 class, and on Wayland (FLTK 1.4) the app id.
    Fl_Window::default_xclass(kDesktopId);

    // The 100 % and 200 % sizes: the window manager picks what its title bar and panel need.
    // FLTK keeps copies of the images.
    std::vector<std::unique_ptr<Fl_RGB_Image>> images;
    std::vector<const Fl_RGB_Image*> icons;
    for (const IconPixels& icon : kWindowIcons) {
        images.push_back(std::make_unique<Fl_RGB_Image>(icon.rgba, icon.size, icon.size, 4));
        icons.push_back(images.back().get());
    }
    const int count = static_cast<int>(icons.size());
    Fl_Window::default_icons(icons.data(), count);   // every window of the program shows it
    window.icons(icons.data(), count);
}
