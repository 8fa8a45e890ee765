// SPDX-License-Identifier: MIT
// Whole updates of the unmodified update control against the simulated unit, behind FTDI
// converters that vf-testbed presents through udev. Each case runs alone under vf-testbed
// (run_e2e.sh picks it with --gtest_filter and gives the testbed the converters and faults
// the case expects) in a directory holding a copy of the sample data.
//
// Memory.EqualsFirmwareImage is the second step of a case: run_e2e.sh runs it after the
// testbed has written the unit's memory, naming the memory file and the converter serial
// whose device list entry names the firmware in VF_E2E_MEMORY and VF_E2E_SERIAL.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "files/data_file.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/firmware_image.h"
#include "link/commands.h"
#include "link/discovery.h"
#include "link/serial.h"
#include "recording_display.h"
#include "update/check.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/update.h"
#include "update/worker.h"

namespace {

namespace fs = std::filesystem;
using Kind = DisplayEvent::Kind;

const char* const kFirstLine = "varnoflex   VX-58 Pro   for   Lumetra LX";
const char* const kFirstVersion = "Version   2.14";
const char* const kSecondLine = "varnoflex   VX-36 Compact   for   Korin KM";
const char* const kSecondVersion = "Version   1.07";

std::vector<std::uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void appendToDeviceList(std::string_view record)
{
    std::optional<DataBuffer> text = loadDataFile(dataPaths.deviceListPath);
    ASSERT_TRUE(text.has_value());
    text->insert(text->end(), record.begin(), record.end());
    ASSERT_TRUE(saveDataFile(dataPaths.deviceListPath, *text));
}

// One update as the worker runs it, seen through a recording display of its own.
struct UpdateRun {
    std::vector<DisplayEvent> events;
    std::vector<int> results;

    int finalCode() const { return results.empty() ? -1 : results.back(); }
    std::vector<DisplayEvent> of(Kind kind) const
    {
        std::vector<DisplayEvent> selected;
        for (const DisplayEvent& event : events) {
            if (event.kind == kind) {
                selected.push_back(event);
            }
        }
        return selected;
    }
};

UpdateRun runOneUpdate()
{
    RecordingDisplay display;
    InstalledDisplay installed(display);
    runUpdate();
    return UpdateRun{display.events(), display.results()};
}

// What every update shows on the bar, whatever its end: maximum = block count first, then a
// head start of a fortieth, never past the maximum, and an empty bar at the end.
void expectProgressFrame(const UpdateRun& run, int blockCount)
{
    const auto maxima = run.of(Kind::Maximum);
    const auto values = run.of(Kind::Value);
    ASSERT_EQ(maxima.size(), 1u);
    EXPECT_EQ(maxima[0].number, blockCount);
    ASSERT_GE(values.size(), 2u);
    EXPECT_DOUBLE_EQ(values.front().number, blockCount / 40.0);
    EXPECT_EQ(values.back().number, 0);
    for (const DisplayEvent& value : values) {
        EXPECT_GE(value.number, 0);
        EXPECT_LE(value.number, blockCount);
    }
}

// The bar of a complete update, value by value: from the head start one block at a time,
// capped at the maximum, back to 0, the verify pass from 0 to the maximum, and 0.
void expectFullProgress(const UpdateRun& run, int blockCount)
{
    std::vector<double> expected{blockCount / 40.0};
    double value = blockCount / 40.0;
    for (int block = 0; block < blockCount; ++block) {
        value = std::min(value + 1.0, static_cast<double>(blockCount));
        expected.push_back(value);
    }
    expected.push_back(0.0);
    for (int block = 1; block <= blockCount; ++block) {
        expected.push_back(block);
    }
    expected.push_back(0.0);
    std::vector<double> actual;
    for (const DisplayEvent& event : run.of(Kind::Value)) {
        actual.push_back(event.number);
    }
    EXPECT_EQ(actual, expected);
}

void expectSuccess(const UpdateRun& run, int blockCount = kImageBlockCount)
{
    EXPECT_EQ(run.finalCode(), OK_UPDATE_FINISHED);
    EXPECT_EQ(resultCode.load(), OK_UPDATE_FINISHED);
    ASSERT_GE(run.results.size(), 2u);
    EXPECT_EQ(run.results[run.results.size() - 2], OK_DOWNLOADED);
    expectProgressFrame(run, blockCount);
    expectFullProgress(run, blockCount);
    EXPECT_FALSE(portIsOpen());
}

void expectDeviceLines(const UpdateRun& run, const std::string& deviceLine, const std::string& versionLine)
{
    const auto lines = run.of(Kind::Lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].deviceLine, deviceLine);
    EXPECT_EQ(lines[0].versionLine, versionLine);
}

class E2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(initDataPaths(fs::current_path().string()));
        ASSERT_TRUE(fs::exists(dataPaths.deviceListPath)) << "run in a copy of the sample data";
        initSharedState();
        resultCode.store(0);
        resetProtocolState();
        setMessageLanguage(kLanguageEnglish);
    }
    void TearDown() override
    {
        stopWorker();
        portClose();
    }
};

// ---- complete updates ----

TEST_F(E2e, FullUpdateThroughTheWorker)
{
    RecordingDisplay display;
    InstalledDisplay installed(display);
    safetyAccepted.store(1);
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return !d.eventsOf(Kind::Lines).empty(); }));
    startRequested.store(1);
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return d.count(Kind::Buttons, 1) == 1; },
                                std::chrono::seconds(60)));
    stopWorker();

    const auto lines = display.eventsOf(Kind::Lines);
    ASSERT_EQ(lines.size(), 2u);   // the first display, then the identified unit
    for (const DisplayEvent& line : lines) {
        EXPECT_EQ(line.deviceLine, kFirstLine);
        EXPECT_EQ(line.versionLine, kFirstVersion);
    }
    EXPECT_EQ(display.results(), (std::vector<int>{OK_DOWNLOADED, OK_UPDATE_FINISHED}));
    const auto events = display.events();
    EXPECT_EQ(events.back().kind, Kind::Buttons);
    EXPECT_EQ(events.back().busyAtCall, 0);
    EXPECT_EQ(busy.load(), 0);
}

TEST_F(E2e, TwoUpdatesInOneRun)
{
    const UpdateRun first = runOneUpdate();
    expectSuccess(first);
    expectDeviceLines(first, kFirstLine, kFirstVersion);
    const UpdateRun second = runOneUpdate();
    expectSuccess(second);
    EXPECT_EQ(second.results, (std::vector<int>{OK_DOWNLOADED, OK_UPDATE_FINISHED}));
}

// A unit with 256 blocks (end address 00 FF FF) and a firmware below 64 KiB: the range and
// block count follow the unit.
TEST_F(E2e, SmallerUnit)
{
    const UpdateRun run = runOneUpdate();
    expectSuccess(run, 256);
    EXPECT_EQ(protocolState.endAddress, (std::array<std::uint8_t, 3>{0x00, 0xFF, 0xFF}));
}

// End address below 0xFF: no whole block to write. Such a unit would be erased and left
// without firmware; it is not taken, and nothing is sent to it after the information reply
// (run_e2e.sh checks the unit's record and memory).
TEST_F(E2e, UnitWithoutWholeBlocks)
{
    const UpdateRun run = runOneUpdate();
    EXPECT_EQ(protocolState.blockCount, 0);
    EXPECT_EQ(run.results, std::vector<int>{NO_DEVICE_DETECTED});
    EXPECT_TRUE(run.of(Kind::Lines).empty());
    EXPECT_FALSE(portIsOpen());
    const auto maxima = run.of(Kind::Maximum);
    ASSERT_EQ(maxima.size(), 1u);
    EXPECT_EQ(maxima[0].number, 0);
    for (const DisplayEvent& value : run.of(Kind::Value)) {
        EXPECT_EQ(value.number, 0);
    }
}

// ---- discovery ----

// The converter of the third device list entry is the only one present.
TEST_F(E2e, OnlyTheThirdEntrysConverterIsPresent)
{
    const UpdateRun run = runOneUpdate();
    expectSuccess(run);
    expectDeviceLines(run, "varnoflex   VX-44 Macro Ring   for   Lumetra LX", "Version   3.02");
    ASSERT_NE(selectedEntry, nullptr);
    EXPECT_EQ(selectedEntry->firmwareFile, "VX44MR_V302.hex");
    ASSERT_EQ(portList.count(), 1);
    EXPECT_EQ(portList.entry(0).serial, "FTVF5M9R");
    EXPECT_EQ(portList.entry(0).portName, "/dev/ttyUSB0");
}

// Another product id (6015) is not an FT232R converter; the second converter is listed but
// its line is never answered.
TEST_F(E2e, OtherProductIdIsSkipped)
{
    std::vector<ConverterInfo> converters;
    ASSERT_TRUE(listFtdiConverters(converters));
    ASSERT_EQ(converters.size(), 1u);
    EXPECT_EQ(converters[0].serial, "FTVF8H3N");
    EXPECT_EQ(converters[0].portName, "/dev/ttyUSB1");

    const UpdateRun run = runOneUpdate();
    EXPECT_EQ(run.results, std::vector<int>{NO_DEVICE_DETECTED});
    ASSERT_EQ(portList.count(), 1);
    EXPECT_EQ(portList.entry(0).serial, "FTVF8H3N");
    EXPECT_TRUE(run.of(Kind::Lines).empty());
    expectProgressFrame(run, kImageBlockCount);
    EXPECT_FALSE(portIsOpen());
}

TEST_F(E2e, SerialNotListed)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_NO_DRIVER_ENTRY});
    EXPECT_TRUE(refused.of(Kind::Lines).empty());
    expectProgressFrame(refused, kImageBlockCount);

    // Once the list names the converter, the same unit is updated.
    appendToDeviceList("#VX-90 Test,Test Rig,FTVF0TST,9.99,VX58PRO_V214.hex\r\n");
    const UpdateRun run = runOneUpdate();
    expectSuccess(run);
    expectDeviceLines(run, "varnoflex   VX-90 Test   for   Test Rig", "Version   9.99");
}

// Two converters report the same serial: both are listed in udev's order, the first is used.
TEST_F(E2e, TwoConvertersWithTheSameSerial)
{
    const UpdateRun run = runOneUpdate();
    ASSERT_EQ(portList.count(), 2);
    EXPECT_EQ(portList.entry(0).portName, "/dev/ttyUSB0");
    EXPECT_EQ(portList.entry(1).portName, "/dev/ttyUSB1");
    EXPECT_EQ(portList.entry(0).serial, "FTVF2Q7K");
    EXPECT_EQ(portList.entry(1).serial, "FTVF2Q7K");
    expectSuccess(run);
}

// A converter matches an entry only by its whole serial: "FTVF2Q7K99" is another converter
// than the list's "FTVF2Q7K", and "FTVF8H3" is not "FTVF8H3N". Neither port is opened
// (run_e2e.sh checks that the unit behind the first received nothing).
TEST_F(E2e, LongAndShortConverterSerials)
{
    std::vector<ConverterInfo> converters;
    ASSERT_TRUE(listFtdiConverters(converters));
    ASSERT_EQ(converters.size(), 2u);
    EXPECT_EQ(converters[0].serial, "FTVF2Q7K99");
    EXPECT_EQ(converters[1].serial, "FTVF8H3");

    const UpdateRun run = runOneUpdate();
    EXPECT_EQ(run.results, std::vector<int>{ERROR_NO_DRIVER_ENTRY});
    EXPECT_EQ(portList.count(), 0);
    EXPECT_FALSE(portIsOpen());
}

// A listed converter whose node cannot be opened is skipped without a wait for an answer.
TEST_F(E2e, ConverterNodeCannotBeOpened)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{NO_DEVICE_DETECTED});
    ASSERT_EQ(portList.count(), 1);
    EXPECT_EQ(portList.entry(0).serial, "FTVF2Q7K");
    EXPECT_FALSE(portIsOpen());

    // The dead converter's entry comes first and is skipped; the next listed one answers.
    appendToDeviceList("#VX-90 Test,Test Rig,FTVF0TST,9.99,VX58PRO_V214.hex\r\n");
    const UpdateRun run = runOneUpdate();
    expectSuccess(run);
    expectDeviceLines(run, "varnoflex   VX-90 Test   for   Test Rig", "Version   9.99");
}

// ---- exits of the identification ----

TEST_F(E2e, DeviceListMissing)
{
    const fs::path list = dataPaths.deviceListPath;
    fs::rename(list, list.string() + ".away");
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_OPEN_FILE_LIST});
    EXPECT_TRUE(refused.of(Kind::Lines).empty());
    expectProgressFrame(refused, kImageBlockCount);

    fs::rename(list.string() + ".away", list);
    expectSuccess(runOneUpdate());
}

TEST_F(E2e, UnitRefusesTheConnection)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{NO_DEVICE_DETECTED});
    EXPECT_TRUE(refused.of(Kind::Lines).empty());
    EXPECT_FALSE(portIsOpen());
    expectSuccess(runOneUpdate(), 128);
}

TEST_F(E2e, UnitRefusesTheSecondSpeedCommand)
{
    EXPECT_EQ(runOneUpdate().results, std::vector<int>{NO_DEVICE_DETECTED});
    expectSuccess(runOneUpdate(), 128);
}

// An information reply longer than the reply buffer ends the attempt.
TEST_F(E2e, OverlongInformationReply)
{
    EXPECT_EQ(runOneUpdate().results, std::vector<int>{NO_DEVICE_DETECTED});
    expectSuccess(runOneUpdate(), 128);
}

// An information reply too short to carry the end address is not an answer.
TEST_F(E2e, InformationReplyWithoutEndAddress)
{
    EXPECT_EQ(runOneUpdate().results, std::vector<int>{NO_DEVICE_DETECTED});
    expectSuccess(runOneUpdate(), 128);
}

// A unit reporting more blocks than the firmware image holds is not taken.
TEST_F(E2e, RangeLargerThanTheImage)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{NO_DEVICE_DETECTED});
    EXPECT_TRUE(refused.of(Kind::Lines).empty());
    EXPECT_FALSE(portIsOpen());
    EXPECT_EQ(protocolState.blockCount, 1024);   // the reported range stays in the state
    expectProgressFrame(refused, 1024);
}

// ---- exits of the update ----

TEST_F(E2e, FirmwareFileMissing)
{
    const fs::path firmware = fs::current_path() / "VX36C_V107.hex";
    fs::rename(firmware, firmware.string() + ".away");
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_OPEN_FILE});
    expectDeviceLines(refused, kSecondLine, kSecondVersion);   // the unit was identified
    expectProgressFrame(refused, 128);
    EXPECT_FALSE(portIsOpen());

    fs::rename(firmware.string() + ".away", firmware);
    expectSuccess(runOneUpdate(), 128);
}

// A firmware path longer than the path buffer is refused like a missing file, even though
// the file itself exists.
TEST_F(E2e, FirmwarePathTooLong)
{
    const std::string directoryName(200, 'd');
    const fs::path directory = fs::current_path() / directoryName;
    const std::string fileName = "VX36C_V107_with_a_name_that_does_not_fit_the_path_buffer.hex";
    ASSERT_TRUE(fs::create_directory(directory));
    fs::copy_file(fs::current_path() / "VX36C_V107.hex", directory / fileName);
    const std::string record = "#VX-36 Compact,Korin KM,FTVF8H3N,1.07," + fileName + "\r\n";
    ASSERT_TRUE(saveDataFile((directory / "devicelist.ovk").string(),
                             {reinterpret_cast<const std::uint8_t*>(record.data()), record.size()}));
    ASSERT_TRUE(initDataPaths(directory.string()));
    ASSERT_GT(dataPaths.workDir.size() + fileName.size(), 255u);

    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_OPEN_FILE});
    EXPECT_FALSE(portIsOpen());

    ASSERT_TRUE(initDataPaths(fs::current_path().string()));
    expectSuccess(runOneUpdate(), 128);
}

// The device list names the firmware in Windows-1252 ("Blitzger\xE4t.hex"); unpacked on a
// Linux file system the file's name is UTF-8. The update finds the file all the same.
TEST_F(E2e, FirmwareNamedInWindows1252)
{
    fs::rename(fs::current_path() / "VX36C_V107.hex", fs::current_path() / "Blitzger\xC3\xA4t.hex");
    const std::string record = "#VX-36 Compact,Korin KM,FTVF8H3N,1.07,Blitzger\xE4t.hex\r\n";
    ASSERT_TRUE(saveDataFile(dataPaths.deviceListPath,
                             {reinterpret_cast<const std::uint8_t*>(record.data()), record.size()}));
    const UpdateRun run = runOneUpdate();
    EXPECT_EQ(run.results, (std::vector<int>{OK_DOWNLOADED, OK_UPDATE_FINISHED}));
    expectSuccess(run, 128);
}

// The second blank check passes: code 9 on the way, no erase, and the update goes on.
TEST_F(E2e, SecondBlankCheckPasses)
{
    const UpdateRun run = runOneUpdate();
    EXPECT_EQ(run.results, (std::vector<int>{ERROR_ERASE_ALREADY_BLANK, OK_DOWNLOADED, OK_UPDATE_FINISHED}));
    expectSuccess(run, 128);
}

// Memory holding older firmware is erased before the update, without a message.
TEST_F(E2e, OlderFirmwareIsErased)
{
    const UpdateRun run = runOneUpdate();
    EXPECT_EQ(run.results, (std::vector<int>{OK_DOWNLOADED, OK_UPDATE_FINISHED}));
    expectSuccess(run, 128);
}

// The unit keeps refusing the erase: every update ends with code 10.
TEST_F(E2e, EraseRefused)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_ERASE_BEFORE_PROGRAM});
    expectProgressFrame(refused, 128);
    EXPECT_FALSE(portIsOpen());
    expectSuccess(runOneUpdate(), 128);
}

TEST_F(E2e, ProgramModeRefused)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_SET_MODE});
    expectProgressFrame(refused, 128);
    EXPECT_FALSE(portIsOpen());
    expectSuccess(runOneUpdate(), 128);
}

TEST_F(E2e, WriteBlockRefused)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_WRITE_BLOCK});
    expectProgressFrame(refused, 128);
    // Blocks 0 to 39 were acknowledged: 40 advances from the head start of 3.2.
    const auto values = refused.of(Kind::Value);
    ASSERT_GE(values.size(), 2u);
    EXPECT_DOUBLE_EQ(values[values.size() - 2].number, 3.2 + 40);
    EXPECT_FALSE(portIsOpen());
    expectSuccess(runOneUpdate(), 128);
}

TEST_F(E2e, NoAcknowledgementAfterTheLastBlock)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_INTERNAL_VERIFY});
    expectProgressFrame(refused, 128);
    EXPECT_FALSE(portIsOpen());
    expectSuccess(runOneUpdate(), 128);
}

TEST_F(E2e, ChecksumDiffers)
{
    EXPECT_EQ(runOneUpdate().results, std::vector<int>{ERROR_CHECKSUM});
    EXPECT_FALSE(portIsOpen());
    expectSuccess(runOneUpdate(), 128);
}

TEST_F(E2e, VerifyCommandRefused)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, (std::vector<int>{OK_DOWNLOADED, ERROR_VERIFY_COMMAND}));
    expectProgressFrame(refused, 128);
    EXPECT_FALSE(portIsOpen());
    expectSuccess(runOneUpdate(), 128);
}

// A block refused in the verify pass leaves the port open until the next identification.
TEST_F(E2e, VerifyBlockRefused)
{
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, (std::vector<int>{OK_DOWNLOADED, ERROR_VERIFY}));
    expectProgressFrame(refused, 128);
    EXPECT_TRUE(portIsOpen());
    expectSuccess(runOneUpdate(), 128);
}

// The cable is pulled in the middle of the write pass: code 12, and the next update finds
// the converter gone.
TEST_F(E2e, CablePulledDuringTheWritePass)
{
    const UpdateRun broken = runOneUpdate();
    EXPECT_EQ(broken.results, std::vector<int>{ERROR_WRITE_BLOCK});
    expectProgressFrame(broken, kImageBlockCount);
    EXPECT_FALSE(portIsOpen());

    const UpdateRun next = runOneUpdate();
    EXPECT_EQ(next.results, std::vector<int>{ERROR_NO_DRIVER_ENTRY});
}

// ---- the whole-file check of the firmware ----
//
// Each case changes the firmware file of the unit's entry in its copy of the sample data.
// A refused file ends the update with ERROR_READ_FILE after the identification; run_e2e.sh
// checks that the unit (holding older firmware) received nothing more and kept its memory.
// A file that is still usable must give the sample firmware's image in the unit.

const char* const kFirmware = "VX58PRO_V214.hex";        // the first entry's, 128 KiB
const char* const kSmallFirmware = "VX36C_V107.hex";     // the second entry's, 32 KiB

std::string storedText(const std::string& name)
{
    const std::optional<DataBuffer> text = loadDataFile((fs::current_path() / name).string());
    EXPECT_TRUE(text.has_value()) << name;
    return text ? std::string(text->begin(), text->end()) : std::string();
}

void storeText(const std::string& name, const std::string& text)
{
    ASSERT_TRUE(saveDataFile((fs::current_path() / name).string(),
                             {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

// Where the first record at or after the middle of text begins.
std::size_t middleRecord(const std::string& text)
{
    return text.find(':', text.size() / 2);
}

// The update identified the unit, refused its firmware file for kind and sent nothing more.
void expectRefused(const UpdateRun& run, FirmwareProblemKind kind, int blockCount = kImageBlockCount)
{
    EXPECT_EQ(run.results, std::vector<int>{ERROR_READ_FILE});
    EXPECT_EQ(resultCode.load(), ERROR_READ_FILE);
    const auto refused = run.of(Kind::FirmwareRefused);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].firmwareFile, kFirmware);
    EXPECT_EQ(firmwareProblemName(refused[0].problem.kind), firmwareProblemName(kind));
    expectDeviceLines(run, kFirstLine, kFirstVersion);
    expectProgressFrame(run, blockCount);
    EXPECT_EQ(run.of(Kind::Value).size(), 2u);   // the head start and the empty bar: no block
    EXPECT_FALSE(portIsOpen());
}

// One record with a correct checksum.
std::string hexRecord(unsigned type, unsigned address, std::span<const std::uint8_t> data)
{
    char digits[3];
    unsigned sum = 0;
    std::string text = ":";
    const auto add = [&](unsigned byte) {
        std::snprintf(digits, sizeof digits, "%02X", byte & 0xFFu);
        text += digits;
        sum += byte;
    };
    add(static_cast<unsigned>(data.size()));
    add(address >> 8);
    add(address & 0xFF);
    add(type);
    for (const std::uint8_t byte : data) add(byte);
    add(0x100 - (sum & 0xFF));
    return text + "\r\n";
}

// The image of the sample firmware name, all 131,100 bytes.
std::vector<std::uint8_t> sampleImage(const std::string& name)
{
    const std::string text = storedText(name);
    EXPECT_FALSE(loadFirmwareImage({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}).problem.found());
    return {firmwareImage.begin(), firmwareImage.end()};
}

// A HEX text of image bytes [0, end) in records of recordBytes bytes, with an extended
// segment address record wherever segmentOf(address) changes; records of only 0xFF are left
// out when skipErased.
std::string hexText(const std::vector<std::uint8_t>& image, std::size_t end, std::size_t recordBytes,
                    unsigned (*segmentOf)(std::size_t), bool skipErased)
{
    std::string text;
    unsigned segment = 0;
    for (std::size_t address = 0; address < end; address += recordBytes) {
        const std::span<const std::uint8_t> data(image.data() + address, std::min(recordBytes, end - address));
        if (skipErased && std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0xFF; })) continue;
        if (segmentOf(address) != segment) {
            segment = segmentOf(address);
            const std::uint8_t value[] = {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)};
            text += hexRecord(0x02, 0, value);
        }
        text += hexRecord(0x00, static_cast<unsigned>(address - segment * 16), data);
    }
    return text + ":00000001FF\r\n";
}

constexpr std::size_t kFirmwareEnd = 0x1A400;   // the first entry's data ends below this

// An interrupted download or copy: the file ends inside a record.
TEST_F(E2e, FirmwareCutInARecord)
{
    const std::string text = storedText(kFirmware);
    storeText(kFirmware, text.substr(0, middleRecord(text) + 25));
    const UpdateRun run = runOneUpdate();
    expectRefused(run, FirmwareProblemKind::RecordCutShort);
}

// Cut at a record's end: every record is whole, the end-of-file record is missing.
TEST_F(E2e, FirmwareCutAfterARecord)
{
    const std::string text = storedText(kFirmware);
    storeText(kFirmware, text.substr(0, middleRecord(text)));
    expectRefused(runOneUpdate(), FirmwareProblemKind::NoEndOfFileRecord);
}

// One bit of a data byte flipped, the record's checksum as it was.
TEST_F(E2e, FirmwareWithAFlippedBit)
{
    std::string text = storedText(kFirmware);
    const std::size_t mark = middleRecord(text);
    ASSERT_EQ(text.substr(mark + 7, 2), "00");   // a data record
    char& digit = text[mark + 9 + 2 * 10 + 1];    // the low digit of data byte 10
    std::uint8_t value = 0;
    ASSERT_TRUE(parseHexPair('0', digit, value));
    digit = "0123456789ABCDEF"[value ^ 0x01];
    storeText(kFirmware, text);
    const UpdateRun run = runOneUpdate();
    expectRefused(run, FirmwareProblemKind::ChecksumMismatch);
    const FirmwareProblem problem = run.of(Kind::FirmwareRefused).at(0).problem;
    EXPECT_EQ(problem.line, 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(mark), '\n'));
    EXPECT_EQ(problem.record, problem.line);   // one record a line
}

// A tool that writes lower-case hexadecimal digits: one is enough.
TEST_F(E2e, FirmwareWithALowerCaseDigit)
{
    std::string text = storedText(kFirmware);
    const std::size_t mark = middleRecord(text);
    const std::size_t letter = text.find_first_of("ABCDEF", mark + 9);
    ASSERT_LT(letter, text.find('\r', mark));
    text[letter] = static_cast<char>(text[letter] - 'A' + 'a');
    storeText(kFirmware, text);
    expectRefused(runOneUpdate(), FirmwareProblemKind::InvalidCharacter);
}

TEST_F(E2e, FirmwareEmpty)
{
    storeText(kFirmware, "");
    expectRefused(runOneUpdate(), FirmwareProblemKind::NoDataRecord);
}

// Anything but a HEX file under the firmware's name.
TEST_F(E2e, FirmwareOfGarbage)
{
    std::string garbage(4096, '\0');
    std::uint32_t state = 12345;
    for (char& c : garbage) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    garbage[0] = 'P';
    storeText(kFirmware, garbage);
    expectRefused(runOneUpdate(), FirmwareProblemKind::TextOutsideRecord);
}

// The 128 KiB firmware and a unit of 64 KiB: the upper half would never be written.
TEST_F(E2e, FirmwareLargerThanTheUnit)
{
    const UpdateRun run = runOneUpdate();
    expectRefused(run, FirmwareProblemKind::DataBeyondRange, 256);
    EXPECT_EQ(run.of(Kind::FirmwareRefused).at(0).problem.address, 0x10000);
}

TEST_F(E2e, FirmwareWithALinearAddress)
{
    storeText(kFirmware, ":020000040001F9\r\n" + storedText(kFirmware));
    expectRefused(runOneUpdate(), FirmwareProblemKind::LinearAddress);
}

// The same firmware for a 64 KiB unit, with 0xFF padding where the 128 KiB one has data:
// updated, the unit holding the sample image's first 64 KiB.
TEST_F(E2e, FirmwarePaddedBeyondTheUnit)
{
    std::vector<std::uint8_t> image = sampleImage(kFirmware);
    std::fill(image.begin() + 0x10000, image.begin() + kFirmwareEnd, 0xFF);
    storeText(kFirmware, hexText(image, kFirmwareEnd, 32, [](std::size_t a) { return a < 0x10000 ? 0u : 0x1000u; },
                                 false));
    expectSuccess(runOneUpdate(), 256);
}

// Segment records whose base is not a multiple of 64 KiB, and a record that crosses 64 KiB:
// the same image as the sample's.
TEST_F(E2e, FirmwareWithSegmentsAcross64KiB)
{
    const std::vector<std::uint8_t> image = sampleImage(kFirmware);
    const std::string text =
        hexText(image, kFirmwareEnd, 24, [](std::size_t a) { return a < 0xF000 ? 0u : 0x0F00u; }, true);
    ASSERT_NE(text.find(":180FF000"), std::string::npos);   // 0x0F000 + 0x0FF0 crosses 0x10000
    storeText(kFirmware, text);
    expectSuccess(runOneUpdate());
}

// Files put one after another: data after an end-of-file record still counts, and one such
// record anywhere is enough.
TEST_F(E2e, RecordsAfterTheEndOfFileRecord)
{
    std::string text = storedText(kSmallFirmware);
    const std::string endOfFile = ":00000001FF\r\n";
    ASSERT_TRUE(text.ends_with(endOfFile));
    text.erase(text.size() - endOfFile.size());
    text.insert(middleRecord(text), endOfFile);
    storeText(kSmallFirmware, text);
    expectSuccess(runOneUpdate(), 128);
}

// Many tools write an extended linear address of 0 first: it changes nothing.
TEST_F(E2e, FirmwareWithALinearAddressOfZero)
{
    storeText(kSmallFirmware, ":020000040000FA\r\n" + storedText(kSmallFirmware));
    expectSuccess(runOneUpdate(), 128);
}

// ---- the check: does the unit hold its entry's firmware? ----

struct CheckRun {
    std::optional<CheckResult> result;
    UpdateRun seen;
};

CheckRun runOneCheck()
{
    RecordingDisplay display;
    InstalledDisplay installed(display);
    CheckRun run;
    run.result = runCheck();
    run.seen = UpdateRun{display.events(), display.results()};
    return run;
}

// What every check that compared shows: the bar over the unit's blocks from 0, the start
// and the end of the comparison told once each, the end carrying the returned result, no
// result code stored, and the port closed.
void expectCompared(const CheckRun& run, int blockCount)
{
    ASSERT_TRUE(run.result.has_value());
    EXPECT_TRUE(run.seen.results.empty());
    ASSERT_EQ(run.seen.of(Kind::CheckStarted).size(), 1u);
    const auto ended = run.seen.of(Kind::CheckEnded);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].check.verdict, run.result->verdict);
    EXPECT_EQ(ended[0].check.blocksVerified, run.result->blocksVerified);
    EXPECT_EQ(run.result->blockCount, blockCount);
    EXPECT_EQ(run.result->firmwareFile, "VX36C_V107.hex");
    EXPECT_EQ(run.result->firmwareVersion, "1.07");
    const auto maxima = run.seen.of(Kind::Maximum);
    ASSERT_EQ(maxima.size(), 1u);
    EXPECT_EQ(maxima[0].number, blockCount);
    std::vector<double> expected{0.0};
    for (int block = 1; block <= run.result->blocksVerified; ++block) expected.push_back(block);
    expected.push_back(0.0);
    std::vector<double> values;
    for (const DisplayEvent& value : run.seen.of(Kind::Value)) values.push_back(value.number);
    EXPECT_EQ(values, expected);
    EXPECT_FALSE(portIsOpen());
}

// The unit the update has just written holds its firmware: equal checksums (the unit's
// over its whole range, the image's over its blocks) and every block acknowledged, again
// and again. run_e2e.sh compares the memory with the image afterwards.
TEST_F(E2e, CheckOfAnUpdatedUnit)
{
    expectSuccess(runOneUpdate(), 128);
    for (int round = 0; round < 2; ++round) {
        const CheckRun run = runOneCheck();
        expectCompared(run, 128);
        EXPECT_EQ(run.result->verdict, CheckVerdict::Holds);
        EXPECT_EQ(run.result->failure, CheckFailure::None);
        EXPECT_EQ(run.result->deviceChecksum, run.result->imageChecksum);
        EXPECT_EQ(run.result->imageChecksum, imageCheckValue(128));
        EXPECT_EQ(run.result->blocksVerified, 128);
        EXPECT_EQ(run.result->refusedBlock, -1);
    }
}

// Older firmware: the checksums differ and the check ends there, without the verify pass
// (run_e2e.sh: memory unchanged, no blank check, erase, program mode or write block).
TEST_F(E2e, CheckOfOlderFirmware)
{
    const CheckRun run = runOneCheck();
    expectCompared(run, 128);
    EXPECT_EQ(run.result->verdict, CheckVerdict::Differs);
    ASSERT_TRUE(run.result->deviceChecksum.has_value());
    EXPECT_NE(*run.result->deviceChecksum, run.result->imageChecksum);
    EXPECT_EQ(run.result->blocksVerified, 0);
    expectDeviceLines(run.seen, kSecondLine, kSecondVersion);
}

// No unit answers: the identification's code is stored, as by the update, and nothing is
// compared.
TEST_F(E2e, CheckWithoutAnAnsweringUnit)
{
    const CheckRun run = runOneCheck();
    EXPECT_FALSE(run.result.has_value());
    EXPECT_EQ(run.seen.results, std::vector<int>{NO_DEVICE_DETECTED});
    EXPECT_TRUE(run.seen.of(Kind::CheckStarted).empty());
    EXPECT_TRUE(run.seen.of(Kind::CheckEnded).empty());
    EXPECT_FALSE(portIsOpen());
}

// The update where it is needed, through the worker as a front end asks for it: the unit
// with older firmware differs and is updated; the second time it holds the firmware and
// no code is stored, which every update stores.
TEST_F(E2e, UpdateUnlessCurrentThroughTheWorker)
{
    RecordingDisplay display;
    InstalledDisplay installed(display);
    setStartAction(StartAction::UpdateUnlessCurrent);
    safetyAccepted.store(1);
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return !d.eventsOf(Kind::Lines).empty(); }));
    for (int round = 1; round <= 2; ++round) {
        startRequested.store(1);
        ASSERT_TRUE(display.waitFor([round](const RecordingDisplay& d) { return d.count(Kind::Buttons, 1) == round; },
                                    std::chrono::seconds(60)));
    }
    stopWorker();
    setStartAction(StartAction::Update);

    const auto ended = display.eventsOf(Kind::CheckEnded);
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[0].check.verdict, CheckVerdict::Differs);
    EXPECT_EQ(ended[1].check.verdict, CheckVerdict::Holds);
    EXPECT_EQ(ended[1].check.blocksVerified, 128);
    EXPECT_EQ(display.results(), (std::vector<int>{OK_DOWNLOADED, OK_UPDATE_FINISHED}));
    // The update came between the two checks.
    const auto events = display.events();
    const auto firstEnd = std::find_if(events.begin(), events.end(), [](const DisplayEvent& e) { return e.kind == Kind::CheckEnded; });
    const auto finished = std::find_if(events.begin(), events.end(), [](const DisplayEvent& e) {
        return e.kind == Kind::Result && e.number == static_cast<double>(OK_UPDATE_FINISHED);
    });
    EXPECT_LT(firstEnd, finished);
    EXPECT_EQ(busy.load(), 0);
}

// ---- second step: the unit's memory against the firmware image ----

TEST(Memory, EqualsFirmwareImage)
{
    const char* memoryFile = std::getenv("VF_E2E_MEMORY");
    const char* serial = std::getenv("VF_E2E_SERIAL");
    if (memoryFile == nullptr || serial == nullptr) {
        GTEST_SKIP() << "only as the second step of an end-to-end case";
    }
    ASSERT_TRUE(initDataPaths(fs::current_path().string()));
    DeviceList list;
    ASSERT_TRUE(loadDeviceList(list, dataPaths.deviceListPath));
    int index = 0;
    ASSERT_TRUE(list.findBySerial(serial, index));
    // The sample data set's firmware file, not the case's copy, which the case may have
    // rewritten: a rewritten file must still give the sample's image. A case that only renamed
    // the file (the name in the list differs from the sample's) reads its own copy.
    const char* sampleDir = std::getenv("VF_E2E_SAMPLE_DIR");
    ASSERT_NE(sampleDir, nullptr);
    std::string firmwarePath = (fs::path(sampleDir) / list.entry(index).firmwareFile).string();
    if (!fs::exists(firmwarePath)) {
        ASSERT_TRUE(formFirmwarePath(list.entry(index).firmwareFile, firmwarePath));
    }
    const std::optional<DataBuffer> firmware = loadDataFile(firmwarePath);
    ASSERT_TRUE(firmware.has_value());
    ASSERT_FALSE(loadFirmwareImage(*firmware).problem.found());

    const std::vector<std::uint8_t> memory = readFile(memoryFile);
    ASSERT_FALSE(memory.empty());
    ASSERT_EQ(memory.size() % kBlockSizeBytes, 0u);
    ASSERT_LE(memory.size(), static_cast<std::size_t>(kImageBlockCount) * kBlockSizeBytes);
    std::size_t differences = 0;
    std::size_t firstDifference = memory.size();
    for (std::size_t i = 0; i < memory.size(); ++i) {
        if (memory[i] != firmwareImage[i]) {
            firstDifference = std::min(firstDifference, i);
            ++differences;
        }
    }
    EXPECT_EQ(differences, 0u) << "first at byte " << firstDifference;
    // The image is not trivially blank: the check compares real firmware.
    EXPECT_LT(std::count(memory.begin(), memory.end(), 0xFF), static_cast<long>(memory.size()));
}

}  // namespace
