// SPDX-License-Identifier: MIT
// The result timer: four times a second it looks for a stored result code and shows the
// code's message with the error or OK picture in the "Info" window, with a beep.
#include "app/app.h"

#include "app/display_text.h"
#include "update/result_codes.h"
#include "update/shared_state.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Pixmap.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>

#include <cstdint>

void pollResult(void*)
{
    // Changes of the worker that have not reached the screen yet go there now at the latest.
    applyPendingDisplay();

    // Taken and cleared in one step, so a code stored at this moment is not lost.
    const std::uint8_t code = resultCode.exchange(RESULT_NONE);
    if (code != RESULT_NONE) {
        resultPicture->image(usesOkPicture(code) ? okPicture : errorPicture);
        const char* message = currentMessage(code);   // none before the first language switch
        resultMessage->copy_label(labelText(message ? message : "").c_str());
        resultWindow->redraw();
        resultWindow->show();
        fl_beep(FL_BEEP_MESSAGE);
    }
    Fl::repeat_timeout(kPollPeriodS, pollResult);
}
