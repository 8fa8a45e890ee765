// SPDX-License-Identifier: MIT
// Texts on their way to the toolkit: Windows-1252 to UTF-8, control characters of the help
// and safety texts as visible marks, '@' of data texts kept literal.
#include "app/display_text.h"

#include <gtest/gtest.h>

TEST(DisplayText, MarksControlCharactersButKeepsTabAndLineFeed)
{
    EXPECT_EQ(displayText("one\r\ntwo\tthree\n"), "one<cr>\ntwo\tthree\n");
    EXPECT_EQ(displayText(std::string_view("\x00\x01\x1b\x1f\x7f", 5)), "<nul><soh><esc><us><del>");
    EXPECT_EQ(displayText(""), "");
}

TEST(DisplayText, ConvertsWindows1252ToUtf8)
{
    // "Schließen" and "für" with their Windows-1252 bytes; 0x80 is the euro sign.
    EXPECT_EQ(displayText("Schlie\xDF" "en f\xFCr \x80"), "Schlie\xC3\x9F" "en f\xC3\xBCr \xE2\x82\xAC");
    EXPECT_EQ(labelText("f\xFCr   "), "f\xC3\xBCr   ");
}

TEST(LabelText, DoublesTheSymbolMarkOnlyWhenAsked)
{
    EXPECT_EQ(labelText("VX@58 @-> x", true), "VX@@58 @@-> x");
    EXPECT_EQ(labelText("VX@58", false), "VX@58");
}
