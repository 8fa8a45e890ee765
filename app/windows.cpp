// SPDX-License-Identifier: MIT
// The program's four windows and their widgets: the main window with its buttons, picture,
// logo, device lines and progress bar; the "Info" window; the help window; the safety window.
#include "app/app.h"

#include "app/display_text.h"
#include "app/resources/error.xpm"
#include "app/resources/error_2x.xpm"
#include "app/resources/logo.xpm"
#include "app/resources/logo_2x.xpm"
#include "app/resources/ok.xpm"
#include "app/resources/ok_2x.xpm"
#include "app/resources/product.xpm"
#include "app/resources/product_2x.xpm"
#include "files/data_paths.h"
#include "files/texts.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Image.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Pixmap.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Window.H>

Fl_Window* mainWindow = nullptr;
Fl_Button* startButton = nullptr;
Fl_Button* exitButton = nullptr;
Fl_Button* helpButton = nullptr;
Fl_Box* deviceLine = nullptr;
Fl_Box* versionLine = nullptr;
Fl_Progress* progressBar = nullptr;

Fl_Window* resultWindow = nullptr;
Fl_Box* resultMessage = nullptr;
Fl_Box* resultPicture = nullptr;

Fl_Window* helpWindow = nullptr;
Fl_Text_Buffer* helpBuffer = nullptr;

Fl_Window* safetyWindow = nullptr;
Fl_Text_Buffer* safetyBuffer = nullptr;
Fl_Box* safetyQuestion = nullptr;
Fl_Button* acceptButton = nullptr;
Fl_Button* declineButton = nullptr;

namespace {

// The main window's pictures live as long as the window.
Fl_Pixmap* productPicture = nullptr;
Fl_Pixmap* logoPicture = nullptr;

constexpr const char* kSloganText = "Light in perfection";
constexpr const char* kCopyrightText = "(c) 2026 Varnoflex";

// The pictures' high-density drawings are this many times their 100 % size
// (app/resources/make_artwork.py: HIDPI).
constexpr int kArtworkScale = 2;


// Everything a main window widget needs between construction and destruction, in
// construction order, so the teardown can go in reverse.
struct MainWindowParts {
    Fl_Widget* widgets[15] = {};
    int count = 0;
    void add(Fl_Widget* w) { widgets[count++] = w; }
} mainParts;

void styleRedButton(Fl_Button* button)
{
    button->labelsize(11);
    button->labelcolor(FL_WHITE);
    button->color(accentRed);
    button->selection_color(pressedRed);
    button->align(FL_ALIGN_INSIDE);
    button->clear_visible_focus();
}

// A picture at its 100 % size. FLTK 1.4 scales every window by the screen's factor: it gets
// the high-density drawing, shown at the 100 % size, so that a 200 % screen shows every pixel
// of it instead of an enlarged small picture. FLTK 1.3 draws in screen pixels and cannot
// scale an image: it gets the 100 % drawing.
Fl_Pixmap* newPicture([[maybe_unused]] const char* const* xpm,
                      [[maybe_unused]] const char* const* hidpiXpm)
{
#if FL_API_VERSION >= 10400
    auto* picture = new Fl_Pixmap(hidpiXpm);
    picture->scale(picture->w() / kArtworkScale, picture->h() / kArtworkScale, 0, 1);
    return picture;
#else
    return new Fl_Pixmap(xpm);
#endif
}

Fl_Box* redTextBox(int x, int y, int w, int h, const char* label, int size, Fl_Align align)
{
    auto* box = new Fl_Box(x, y, w, h, label);
    box->box(FL_FLAT_BOX);
    box->color(accentRed);
    box->labelcolor(FL_WHITE);
    box->labelfont(FL_HELVETICA);
    box->labelsize(size);
    box->align(align);
    return box;
}

}  // namespace

// The result pictures live as long as the process.
Fl_Pixmap* errorPicture = nullptr;
Fl_Pixmap* okPicture = nullptr;

void createResultPictures()
{
    errorPicture = newPicture(error_xpm, error_2x_xpm);
    okPicture = newPicture(ok_xpm, ok_2x_xpm);
}

void buildMainWindow()
{
    productPicture = newPicture(product_xpm, product_2x_xpm);
    logoPicture = newPicture(logo_xpm, logo_2x_xpm);

    mainWindow = new Fl_Window(150, 200, 600, 300, " Firmware Update");
    mainWindow->color(FL_WHITE);
    setDesktopIdentity(*mainWindow);
    mainWindow->callback(closeMainWindow);

    auto* topBar = new Fl_Menu_Bar(-1, 0, 602, 35);
    topBar->box(FL_FLAT_BOX);
    topBar->color(FL_GRAY);
    mainParts.add(topBar);

    startButton = new Fl_Button(4, 7, 60, 22, "Start");
    styleRedButton(startButton);
    startButton->tooltip("x");
    startButton->callback(requestUpdate);
    mainParts.add(startButton);

    exitButton = new Fl_Button(69, 7, 60, 22, "Exit");
    styleRedButton(exitButton);
    exitButton->tooltip("x");
    exitButton->callback(requestExit);
    mainParts.add(exitButton);

    helpButton = new Fl_Button(134, 7, 60, 22, "Help");
    styleRedButton(helpButton);
    helpButton->tooltip("x");
    helpButton->callback(showHelp);
    mainParts.add(helpButton);

    auto* redPanel = new Fl_Box(0, 35, 600, 242, "");
    redPanel->box(FL_FLAT_BOX);
    redPanel->color(accentRed);
    mainParts.add(redPanel);

    auto* productBox = new Fl_Box(5, 45, 190, 237, " ");
    productBox->image(productPicture);
    mainParts.add(productBox);

    auto* logoBox = new Fl_Box(467, 35, 130, 41, " ");
    logoBox->image(logoPicture);
    logoBox->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
    mainParts.add(logoBox);

    mainParts.add(redTextBox(215, 80, 230, 40, "Firmware update", 28,
                             FL_ALIGN_LEFT | FL_ALIGN_INSIDE));
    deviceLine = redTextBox(215, 140, 380, 22, "", 16, FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    mainParts.add(deviceLine);
    versionLine = redTextBox(227, 170, 368, 22, "", 16, FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    mainParts.add(versionLine);
    mainParts.add(redTextBox(456, 253, 142, 22, kSloganText, 12, FL_ALIGN_CENTER));

    auto* bottomBar = new Fl_Menu_Bar(-1, 277, 602, 24);
    bottomBar->box(FL_THIN_UP_BOX);
    bottomBar->color(FL_GRAY);
    mainParts.add(bottomBar);

    progressBar = new Fl_Progress(349, 280, 250, 18, " ");
    progressBar->minimum(0);
    progressBar->maximum(100);
    progressBar->value(0);
    progressBar->color(FL_WHITE);
    progressBar->selection_color(FL_BLUE);
    mainParts.add(progressBar);

    auto* copyright = new Fl_Box(-30, 270, 300, 40, kCopyrightText);
    copyright->labelcolor(FL_WHITE);
    copyright->labelfont(FL_HELVETICA);
    copyright->labelsize(12);
    mainParts.add(copyright);

    auto* download = new Fl_Box(273, 281, 80, 18, "Download");
    download->labelcolor(FL_WHITE);
    download->labelfont(FL_HELVETICA);
    download->labelsize(12);
    mainParts.add(download);

    mainWindow->end();
    // Shown once and hidden at once: the window exists for the system from now on and
    // stays hidden until the safety instructions are accepted.
    mainWindow->show();
    mainWindow->hide();
}

void destroyMainWindow()
{
    if (!mainWindow)
        return;
    for (int i = mainParts.count - 1; i >= 0; --i) {
        mainWindow->remove(mainParts.widgets[i]);
        delete mainParts.widgets[i];
    }
    mainParts.count = 0;
    delete mainWindow;
    mainWindow = nullptr;
    delete logoPicture;
    delete productPicture;
    logoPicture = productPicture = nullptr;
}

void buildResultWindow()
{
    resultWindow = new Fl_Window(250, 270, 400, 150, "Info");
    resultWindow->set_modal();
    resultWindow->color(FL_WHITE);

    resultMessage = new Fl_Box(55, 10, 315, 90, "x");
    resultMessage->color(FL_WHITE);
    resultMessage->labelsize(12);
    resultMessage->align(FL_ALIGN_INSIDE);

    resultPicture = new Fl_Box(10, 35, 50, 50, " ");
    resultPicture->image(errorPicture);

    auto* ok = new Fl_Button(165, 115, 70, 22, "OK");
    ok->labelcolor(FL_WHITE);
    ok->color(accentRed);
    ok->selection_color(pressedRed);
    ok->callback(closeResult);

    resultWindow->end();
}

void buildHelpWindow()
{
    helpWindow = new Fl_Window(200, 180, 500, 350, " Help");
    helpWindow->set_modal();
    helpBuffer = new Fl_Text_Buffer();
    helpBuffer->text("x");

    auto* display = new Fl_Text_Display(5, 5, 490, 300, " ");
    display->buffer(helpBuffer);
    display->textfont(FL_HELVETICA);

    auto* ok = new Fl_Button(215, 315, 70, 22, "OK");
    ok->callback(closeHelp);

    helpWindow->end();
}

void readSafetyText()
{
    safetyText.reset();
    safetyTextLoaded = false;
    const std::string& path = language == 1 ? dataPaths.safetyPathDe : dataPaths.safetyPathEn;
    if (path.empty())   // the working directory did not give usable paths
        return;
    safetyText = loadDisplayText(path);
    safetyTextLoaded = safetyText.has_value();
}

void buildSafetyWindow()
{
    safetyWindow = new Fl_Window(150, 200, 600, 300, "");
    safetyWindow->set_modal();
    safetyBuffer = new Fl_Text_Buffer();
    safetyBuffer->text(displayText(safetyTextLoaded ? *safetyText : kBuiltInSafetyText).c_str());

    auto* display = new Fl_Text_Display(5, 5, 590, 220, "");
    display->buffer(safetyBuffer);
    display->textfont(FL_HELVETICA);

    if (safetyTextLoaded) {
        safetyQuestion = new Fl_Box(220, 240, 160, 22, "");
        // A flat box, so the white question stands on the red of the buttons below it
        // (without a box the white text would vanish on the window's grey).
        safetyQuestion->box(FL_FLAT_BOX);
        safetyQuestion->color(accentRed);
        safetyQuestion->labelsize(11);
        safetyQuestion->labelcolor(FL_WHITE);

        acceptButton = new Fl_Button(220, 270, 70, 22, "");
        styleRedButton(acceptButton);
        acceptButton->callback(acceptSafetyInstructions);

        declineButton = new Fl_Button(310, 270, 70, 22, "");
        styleRedButton(declineButton);
        declineButton->callback(declineSafetyInstructions);
    } else {
        declineButton = new Fl_Button(265, 270, 70, 22, "OK");
        styleRedButton(declineButton);
        declineButton->callback(declineSafetyInstructions);
    }
    safetyWindow->end();
    safetyWindow->show();
}
