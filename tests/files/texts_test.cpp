// SPDX-License-Identifier: MIT
// Texts for display and the Windows-1252 conversion.
#include "files/texts.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(LoadDisplayText, DropsTheLastByteAndCutsAtZero)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    EXPECT_EQ(loadDisplayText(dir.writeEncoded("lf.ovk", "line one\nline two\n")), "line one\nline two");
    EXPECT_EQ(loadDisplayText(dir.writeEncoded("char.ovk", "no line end!")), "no line end");
    EXPECT_EQ(loadDisplayText(dir.writeEncoded("crlf.ovk", "a\r\nb\r\n")), "a\r\nb\r");
    EXPECT_EQ(loadDisplayText(dir.writeEncoded("zero.ovk", "shown\0hidden\n"s)), "shown");
    EXPECT_EQ(loadDisplayText(dir.writeEncoded("one.ovk", "x")), "");
    EXPECT_EQ(loadDisplayText(dir.writeRaw("empty.ovk", "")), "");
    EXPECT_FALSE(loadDisplayText(dir.file("missing.ovk")));
}

TEST(MarkControlCharacters, NamesEveryControlByteButTabAndLineFeed)
{
    EXPECT_EQ(markControlCharacters("one\r\ntwo\tthree\n"), "one<cr>\ntwo\tthree\n");
    EXPECT_EQ(markControlCharacters(std::string_view("\x00\x01\x1b[2J\x1f\x7f", 8)), "<nul><soh><esc>[2J<us><del>");
    EXPECT_EQ(markControlCharacters("Schlie\xDF" "en"), "Schlie\xDF" "en");   // letters above 0x7F stay
}

TEST(MarkControlCharacters, InOneLineEveryControlByteIsNamed)
{
    // A device list field with an escape sequence, a bell and a line break of its own.
    EXPECT_EQ(markControlCharactersInLine("VX\x1b]0;title\x07\r\nOK\tx\x7f"),
              "VX<esc>]0;title<bel><cr><nl>OK<ht>x<del>");
    EXPECT_EQ(markControlCharactersInLine(std::string_view("\x00\x1f", 2)), "<nul><us>");
    EXPECT_EQ(markControlCharactersInLine("f\xFCr 2.14"), "f\xFCr 2.14");   // text is left as it is
}

TEST(Cp1252, GermanLettersBothWays)
{
    const std::string cp1252 = "\xC4\xD6\xDC\xE4\xF6\xFC\xDF";   // ÄÖÜäöüß
    const std::string utf8 = "ÄÖÜäöüß";
    EXPECT_EQ(cp1252ToUtf8(cp1252), utf8);
    std::string back;
    ASSERT_TRUE(utf8ToCp1252(utf8, back));
    EXPECT_EQ(back, cp1252);
    EXPECT_EQ(cp1252ToUtf8("Ger\xE4t f\xFCr"), "Gerät für");
}

TEST(Cp1252, TheRange80To9F)
{
    EXPECT_EQ(cp1252ToUtf8("\x80\x85\x8A\x93\x94\x96\x99\x9F"), "€…Š“”–™Ÿ");
    // The five bytes without a character.
    EXPECT_EQ(cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
    std::string out;
    ASSERT_TRUE(utf8ToCp1252("€ – ™", out));
    EXPECT_EQ(out, "\x80 \x96 \x99");
}

// File names differ from texts only in the five bytes without a character: they become the
// control characters of the same value, as Windows reads them (checked against Windows' own
// table by the Windows tests), so that no two names become the same.
TEST(Cp1252, FileNames)
{
    EXPECT_EQ(cp1252FileNameToUtf8("Blitzger\xE4t.hex"), "Blitzger\u00E4t.hex");
    EXPECT_EQ(cp1252FileNameToUtf8("VX58PRO_V214.hex"), "VX58PRO_V214.hex");
    EXPECT_EQ(cp1252FileNameToUtf8("\x80\x96\x92\x9F\xFF"), "\u20AC\u2013\u2019\u0178\u00FF");
    EXPECT_EQ(cp1252FileNameToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    EXPECT_EQ(cp1252FileNameToUtf8(""), "");
}

TEST(Cp1252, EveryByteRoundTripsExceptTheUnassignedOnes)
{
    for (int value = 0; value < 256; ++value) {
        const std::string byte(1, static_cast<char>(value));
        std::string back;
        const bool unassigned = value == 0x81 || value == 0x8D || value == 0x8F || value == 0x90 || value == 0x9D;
        EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(byte), back), !unassigned) << value;
        if (!unassigned) {
            EXPECT_EQ(back, byte) << value;
        }
    }
}

TEST(Cp1252, RefusesWhatItCannotConvert)
{
    std::string out = "unchanged";
    std::size_t offset = 0;
    EXPECT_FALSE(utf8ToCp1252("ab\u2192", out, offset));   // an arrow has no byte
    EXPECT_EQ(offset, 2u);
    EXPECT_FALSE(utf8ToCp1252("\x81", out));                 // U+0081 has none either
    EXPECT_FALSE(utf8ToCp1252("a\xC3", out, offset));          // truncated sequence
    EXPECT_EQ(offset, 1u);
    EXPECT_FALSE(utf8ToCp1252("\xC3\x28", out));               // bad continuation
    EXPECT_FALSE(utf8ToCp1252("\xC1\xBF", out));               // overlong
    EXPECT_FALSE(utf8ToCp1252("\xED\xA0\x80", out));           // surrogate
    EXPECT_FALSE(utf8ToCp1252("\xF4\x90\x80\x80", out));       // beyond U+10FFFF
    EXPECT_FALSE(utf8ToCp1252("\xFF", out));
    EXPECT_EQ(out, "unchanged");
}
