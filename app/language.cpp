// SPDX-License-Identifier: MIT
// The language switch: puts the German or the English set of every widget text in place,
// together with the update control's messages and the device line's connecting word.
#include "app/app.h"

#include "app/display_text.h"
#include "update/result_codes.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>

namespace {

// One place of the interface with its German and English text (Windows-1252).
struct LanguageRow {
    const char* german;
    const char* english;
    const char* pick(int lang) const { return lang == kLanguageGerman ? german : english; }
};

constexpr LanguageRow kStartLabel{"Start", "Start"};
constexpr LanguageRow kStartTooltip{"Startet die automatische Aktualisierung.",
                                    "Starts automatic download."};
constexpr LanguageRow kExitLabel{"Schlie\xDF" "en", "Exit"};
constexpr LanguageRow kExitTooltip{"Schlie\xDF" "t die Updatesoftware.", "Closes the update software."};
constexpr LanguageRow kHelpLabel{"Hilfe", "Help"};
constexpr LanguageRow kHelpTooltip{"Zeigt Hilfeinformationen an.", "Shows some help infos."};
constexpr LanguageRow kHelpTitle{"Hilfe", "Help"};
constexpr LanguageRow kSafetyTitle{" Sicherheitshinweise", " Safety Instructions"};
constexpr LanguageRow kSafetyQuestion{"Akzeptiert ?", "Accept ?"};
constexpr LanguageRow kAcceptLabel{"ja", "yes"};
constexpr LanguageRow kDeclineLabel{"nein", "no"};

void setLabel(Fl_Widget* widget, const LanguageRow& row, int lang)
{
    if (widget) {
        widget->copy_label(labelText(row.pick(lang)).c_str());
        widget->redraw();
    }
}

void setTooltip(Fl_Widget* widget, const LanguageRow& row, int lang)
{
    if (widget)
        widget->copy_tooltip(labelText(row.pick(lang)).c_str());
}

void setTitle(Fl_Window* window, const LanguageRow& row, int lang)
{
    if (window)
        window->copy_label(labelText(row.pick(lang)).c_str());
}

}  // namespace

void setLanguage(int lang)
{
    language = lang;
    setLabel(startButton, kStartLabel, lang);
    setTooltip(startButton, kStartTooltip, lang);
    setLabel(exitButton, kExitLabel, lang);
    setTooltip(exitButton, kExitTooltip, lang);
    setLabel(helpButton, kHelpLabel, lang);
    setTooltip(helpButton, kHelpTooltip, lang);
    // The connecting word of the device line and every result message switch together.
    setMessageLanguage(lang);
    setTitle(helpWindow, kHelpTitle, lang);
    setTitle(safetyWindow, kSafetyTitle, lang);
    setLabel(safetyQuestion, kSafetyQuestion, lang);
    setLabel(acceptButton, kAcceptLabel, lang);
    setLabel(declineButton, kDeclineLabel, lang);
}
