// SPDX-License-Identifier: MIT
// The device list file: records, field limits, terminators and the lookup by serial.
#include "files/device_list.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

bool parse(DeviceList& list, const std::string& text)
{
    return parseDeviceList(list, bytesOf(text));
}

void expectEntry(const DeviceList& list, int index, const std::string& model, const std::string& target,
                 const std::string& serial, const std::string& version, const std::string& file)
{
    ASSERT_LT(index, list.entryCount());
    const DeviceListEntry& e = list.entry(index);
    EXPECT_EQ(e.modelName, model);
    EXPECT_EQ(e.targetName, target);
    EXPECT_EQ(e.converterSerial, serial);
    EXPECT_EQ(e.firmwareVersion, version);
    EXPECT_EQ(e.firmwareFile, file);
}

}  // namespace

TEST(DeviceList, RemarksAndRecordsInFileOrder)
{
    DeviceList list;
    ASSERT_TRUE(parse(list, "Device list\r\nno records on this line\r\n\r\n"
                            "#VX-58 Pro,Lumetra LX,FTVF2Q7K,2.14,vx58.hex\r\n"
                            "#VX-36,Korin KM,FTVF8H3N,1.07,vx36.hex\r\n"));
    ASSERT_EQ(list.entryCount(), 2);
    expectEntry(list, 0, "VX-58 Pro", "Lumetra LX", "FTVF2Q7K", "2.14", "vx58.hex");
    expectEntry(list, 1, "VX-36", "Korin KM", "FTVF8H3N", "1.07", "vx36.hex");
}

TEST(DeviceList, EmptyTextOrNoMarkerGivesAnEmptyList)
{
    DeviceList list;
    list.add("old", "old", "OLD00000", "0", "old.hex");
    EXPECT_TRUE(parse(list, ""));
    EXPECT_EQ(list.entryCount(), 0);
    EXPECT_TRUE(parse(list, "just a remark, with commas, and spaces\n"));
    EXPECT_EQ(list.entryCount(), 0);
}

TEST(DeviceList, LastFieldTerminatorsAndTheRestOfTheLine)
{
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"CR LF", "#m,t,S,v,f.hex\r\n"},
        {"LF", "#m,t,S,v,f.hex\n"},
        {"space and remark", "#m,t,S,v,f.hex  latest, with fixes\n"},
        {"comma and fields", "#m,t,S,v,f.hex,extra,fields,here\n"},
        {"CR only", "#m,t,S,v,f.hex\r"},
    };
    for (const Case& c : cases) {
        DeviceList list;
        EXPECT_TRUE(parse(list, c.text)) << c.name;
        EXPECT_EQ(list.entryCount(), 1) << c.name;
        expectEntry(list, 0, "m", "t", "S", "v", "f.hex");
    }
    // A "#" in the rest of the line starts the next record.
    DeviceList list;
    EXPECT_TRUE(parse(list, "#m,t,S,v,f.hex see #a,b,c,d,e\n"));
    ASSERT_EQ(list.entryCount(), 2);
    expectEntry(list, 1, "a", "b", "c", "d", "e");
}

TEST(DeviceList, FieldsOneToFourKeepLineEndsSpacesAndHashes)
{
    DeviceList list;
    ASSERT_TRUE(parse(list, "remark with # inside\n,t,S,v,f\n"));
    ASSERT_EQ(list.entryCount(), 1);
    expectEntry(list, 0, " inside\n", "t", "S", "v", "f");

    // The commas of a record may lie on later lines.
    ASSERT_TRUE(parse(list, "#model\r\n,tar get\n,#SER,\nv,file\n"));
    ASSERT_EQ(list.entryCount(), 1);
    expectEntry(list, 0, "model\r\n", "tar get\n", "#SER", "\nv", "file");
}

TEST(DeviceList, EmptyFields)
{
    DeviceList list;
    ASSERT_TRUE(parse(list, "#,,,,\n"));
    ASSERT_EQ(list.entryCount(), 1);
    expectEntry(list, 0, "", "", "", "", "");
}

TEST(DeviceList, FieldLengthLimits)
{
    const std::string b98(98, 'x');
    const std::string b99(99, 'x');
    const std::string b100(100, 'x');
    for (int field = 0; field < 4; ++field) {
        std::string fields[5] = {"m", "t", "S", "v", "f"};
        fields[field] = b98;
        const std::string head = "#" + fields[0] + "," + fields[1] + "," + fields[2] + "," + fields[3] + ",f\n";
        DeviceList list;
        EXPECT_TRUE(parse(list, head)) << "field " << field + 1 << " with 98 bytes";
        ASSERT_EQ(list.entryCount(), 1);
        fields[field] = b99;
        const std::string longer = "#" + fields[0] + "," + fields[1] + "," + fields[2] + "," + fields[3] + ",f\n";
        EXPECT_FALSE(parse(list, longer)) << "field " << field + 1 << " with 99 bytes";
        EXPECT_EQ(list.entryCount(), 0);
    }
    DeviceList list;
    EXPECT_TRUE(parse(list, "#m,t,S,v," + b99 + "\r\n"));
    ASSERT_EQ(list.entryCount(), 1);
    EXPECT_EQ(list.entry(0).firmwareFile, b99);
    EXPECT_FALSE(parse(list, "#m,t,S,v," + b100 + "\r\n"));
    // A field too long fails even when the text goes on for long after it.
    EXPECT_FALSE(parse(list, std::string(1, '#') + std::string(5000, 'y')));
}

TEST(DeviceList, TextEndingInsideARecordFails)
{
    DeviceList list;
    EXPECT_FALSE(parse(list, "#m,t,S,v,f.hex"));   // no terminator after field 5
    for (const char* text : {"#m,", "#m,t,", "#m,t,S,", "#m,t,S,v,", "#m", "#"}) {
        EXPECT_FALSE(parse(list, text)) << text;
        EXPECT_EQ(list.entryCount(), 0);
    }
    EXPECT_TRUE(parse(list, "#m,t,S,v,f.hex "));   // a space is a terminator as well
}

TEST(DeviceList, FailingRecordKeepsTheEarlierEntries)
{
    DeviceList list;
    DeviceListProblem problem;
    EXPECT_FALSE(parseDeviceList(list, bytesOf(std::string("#a,b,S1,1,a.hex\n#c,d,S2,2,c.hex\n#") + std::string(120, 'z') + ",x\n"),
                                 problem));
    ASSERT_EQ(list.entryCount(), 2);
    expectEntry(list, 1, "c", "d", "S2", "2", "c.hex");
    EXPECT_EQ(problem.kind, DeviceListProblem::Kind::FieldTooLong);
    EXPECT_EQ(problem.record, 3);
    EXPECT_EQ(problem.field, 1);

    EXPECT_FALSE(parseDeviceList(list, bytesOf("#a,b,S1,1,a.hex\n#c,d,S2,2"), problem));
    EXPECT_EQ(list.entryCount(), 1);
    EXPECT_EQ(problem.kind, DeviceListProblem::Kind::EndsInsideRecord);
    EXPECT_EQ(problem.record, 2);
    EXPECT_EQ(problem.field, 4);
    EXPECT_NE(describeDeviceListProblem(problem).find("record 2"), std::string::npos);
}

TEST(DeviceList, ZeroByteCutsTheFieldString)
{
    DeviceList list;
    ASSERT_TRUE(parse(list, "#VX\0junk,t,FTVF\0\0\0\0,v,f\0.hex\n"s));
    ASSERT_EQ(list.entryCount(), 1);
    expectEntry(list, 0, "VX", "t", "FTVF", "v", "f");
}

TEST(DeviceList, FindBySerial)
{
    DeviceList list;
    list.add("first", "t", "FTVF2Q7K", "1", "a.hex");
    list.add("other", "t", "FTVF8H3N", "1", "b.hex");
    list.add("second", "t", "FTVF2Q7K", "2", "c.hex");
    int index = -7;
    EXPECT_TRUE(list.findBySerial("FTVF2Q7K", index));
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(list.findBySerial("FTVF8H3N", index));
    EXPECT_EQ(index, 1);
    index = -7;
    EXPECT_FALSE(list.findBySerial("ftvf2q7k", index));
    EXPECT_FALSE(list.findBySerial("FTVF2Q7", index));
    EXPECT_FALSE(list.findBySerial("FTVF2Q7KX", index));
    EXPECT_EQ(index, -7);
    list.clear();
    EXPECT_FALSE(list.findBySerial("FTVF2Q7K", index));
    EXPECT_EQ(index, -7);
}

TEST(LoadDeviceList, FromAStoredFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    DeviceList list;
    list.add("stale", "t", "S", "v", "f");
    EXPECT_FALSE(loadDeviceList(list, dir.file("devicelist.ovk")));
    EXPECT_EQ(list.entryCount(), 0);

    const std::string path = dir.writeEncoded("devicelist.ovk", "List\r\n#VX-58 Pro,Lumetra LX,FTVF2Q7K,2.14,vx.hex\r\n");
    ASSERT_TRUE(loadDeviceList(list, path));
    ASSERT_EQ(list.entryCount(), 1);
    expectEntry(list, 0, "VX-58 Pro", "Lumetra LX", "FTVF2Q7K", "2.14", "vx.hex");

    // The same bytes without the storage encoding hold no "#" (0x23 is stored as 0x32).
    dir.writeRaw("plain.ovk", "#VX-36,Korin KM,FTVF8H3N,1.07,vx.hex\r\n");
    EXPECT_TRUE(loadDeviceList(list, dir.file("plain.ovk")));
    EXPECT_EQ(list.entryCount(), 0);
}
