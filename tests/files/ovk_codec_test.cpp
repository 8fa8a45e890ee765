// SPDX-License-Identifier: MIT
// The ovk-codec tool, run as a program on real files.
#include "files/data_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct CodecRun {
    int status = -1;
    std::string output;
};

// Runs ovk-codec with arguments (a shell command line) and collects its standard output
// and standard error.
CodecRun runCodec(const TempDir& dir, const std::string& arguments)
{
    const std::string outputFile = dir.file("codec-output.txt");
    const std::string command = std::string("\"") + VF_OVK_CODEC + "\" " + arguments + " > \"" + outputFile + "\" 2>&1";
    CodecRun run;
    const int status = std::system(command.c_str());
#ifdef _WIN32
    run.status = status;
#else
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    run.output = dir.readRaw("codec-output.txt");
    return run;
}

}  // namespace

TEST(OvkCodec, EncodeFromUtf8AndDecodeToUtf8)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string utf8 = "Blitzgerät für Größe\n";
    dir.writeRaw("in.txt", utf8);
    const std::string q = "\"";
    ASSERT_EQ(runCodec(dir, "encode --from-utf8 " + q + dir.file("in.txt") + q + " " + q + dir.file("t.ovk") + q).status, 0);
    const auto stored = loadDataFile(dir.file("t.ovk"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(std::string(stored->begin(), stored->end()), "Blitzger\xE4t f\xFCr Gr\xF6\xDF" "e\n");

    ASSERT_EQ(runCodec(dir, "decode --to-utf8 " + q + dir.file("t.ovk") + q + " " + q + dir.file("out.txt") + q).status, 0);
    EXPECT_EQ(dir.readRaw("out.txt"), utf8);

    // Without the conversion the bytes go through unchanged, also through stdin and stdout.
    ASSERT_EQ(runCodec(dir, "decode - " + q + dir.file("raw.txt") + q + " < " + q + dir.file("t.ovk") + q).status, 0);
    EXPECT_EQ(dir.readRaw("raw.txt"), "Blitzger\xE4t f\xFCr Gr\xF6\xDF" "e\n");
}

TEST(OvkCodec, ClearErrors)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    dir.writeRaw("arrow.txt", "a \u2192 b\n");
    CodecRun run = runCodec(dir, "encode --from-utf8 \"" + dir.file("arrow.txt") + "\" \"" + dir.file("x.ovk") + "\"");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("byte 2"), std::string::npos) << run.output;

    run = runCodec(dir, "encode \"" + dir.file("missing.txt") + "\" \"" + dir.file("x.ovk") + "\"");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("cannot read"), std::string::npos) << run.output;

    EXPECT_EQ(runCodec(dir, "frobnicate a b").status, 2);
    EXPECT_EQ(runCodec(dir, "encode onlyone").status, 2);
    EXPECT_EQ(runCodec(dir, "decode --from-utf8 a b").status, 2);
    run = runCodec(dir, "--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("check-devicelist"), std::string::npos);
}

TEST(OvkCodec, CheckDeviceList)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    dir.writeEncoded("fw.hex", ":020000021000EC\r\n:0400100001020304E2\r\n:00000001FF\r\n");
    dir.writeEncoded("good.ovk", "#VX-58 Pro,Lumetra LX,FTVF2Q7K,2.14,fw.hex\r\n#Other,T,SHORT,1,none.hex\r\n");
    CodecRun run = runCodec(dir, "check-devicelist \"" + dir.file("good.ovk") + "\"");
    // The list loads, but a firmware file it names cannot be read: the data set is not usable.
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("2 entries"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"FTVF2Q7K\""), std::string::npos);
    EXPECT_NE(run.output.find("1 data records, highest address 0x10013"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("can never match"), std::string::npos);   // SHORT is not 8 characters
    EXPECT_NE(run.output.find("cannot be read"), std::string::npos);    // none.hex
    dir.writeEncoded("one.ovk", "#VX-58 Pro,Lumetra LX,FTVF2Q7K,2.14,fw.hex\r\n");
    EXPECT_EQ(runCodec(dir, "check-devicelist \"" + dir.file("one.ovk") + "\"").status, 0);

    dir.writeEncoded("bad.ovk", "#a,b,FTVF2Q7K,1,fw.hex\n#c,d,FTVF8H3N,2,fw.hex");
    run = runCodec(dir, "check-devicelist \"" + dir.file("bad.ovk") + "\"");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("record 2"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("field 5"), std::string::npos) << run.output;
}

// The updater's whole-file check for every firmware file a list names: each problem with the
// line, record and address where it is, against the unit's end address when one is given.
TEST(OvkCodec, CheckDeviceListReportsFirmwareProblems)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    dir.writeEncoded("big.hex", ":020000021000EC\r\n:0400100001020304E2\r\n:00000001FF\r\n");
    dir.writeEncoded("cut.hex", ":0400000001020304F2\r\n");
    dir.writeEncoded("linear.hex", ":020000040001F9\r\n:0400000001020304F2\r\n:00000001FF\r\n");
    dir.writeEncoded("sum.hex", ":0400000001020304F2\r\n:0400100001020305E2\r\n:00000001FF\r\n");
    dir.writeEncoded("list.ovk", "#A,a,FTVF0001,1,big.hex\r\n#B,b,FTVF0002,1,cut.hex\r\n"
                                 "#C,c,FTVF0003,1,linear.hex\r\n#D,d,FTVF0004,1,sum.hex\r\n");
    const std::string list = "\"" + dir.file("list.ovk") + "\"";

    CodecRun run = runCodec(dir, "check-devicelist " + list);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("ERROR_READ_FILE): after line 1: no end-of-file record: the file is cut short"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("ERROR_READ_FILE): line 1, record 1, address 0x10000: an extended linear address record"),
              std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ERROR_READ_FILE): line 2, record 2, address 0x00010: the record's checksum does not match"),
              std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("data beyond"), std::string::npos) << run.output;   // big.hex fits 512 blocks

    // A 64 KiB unit: big.hex reaches beyond it.
    run = runCodec(dir, "check-devicelist --end-address FFFF " + list);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("end address 0x0FFFF (256 blocks)"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ERROR_READ_FILE): line 2, record 2, address 0x10010: data beyond the end of the unit's memory"),
              std::string::npos) << run.output;

    run = runCodec(dir, "check-firmware --end-address=0x1FFFF \"" + dir.file("big.hex") + "\"");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("1 data records, highest address 0x10013"), std::string::npos) << run.output;
    run = runCodec(dir, "check-firmware \"" + dir.file("sum.hex") + "\"");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("ERROR_READ_FILE"), std::string::npos) << run.output;

    // End addresses the updater would refuse, and the option where it does not apply.
    for (const char* bad : {"FE", "20100", "XYZ", "", "1234567"}) {
        EXPECT_EQ(runCodec(dir, std::string("check-firmware --end-address=") + bad + " x.hex").status, 2) << bad;
    }
    EXPECT_EQ(runCodec(dir, "decode --end-address FFFF a b").status, 2);
}
