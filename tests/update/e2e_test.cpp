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

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/update.h"
#include "update/worker.h"

namespace {

namespace fs = std::filesystem;
using Kind = DisplayEvent::Kind;

const char* const kFirstLine = "varnoflex   VX-58 Pro   for   Lumetra LX";
const char* const kFirstVersion = "Version   2.14";

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

// A unit with 64 blocks (end address 00 3F FF): the range and block count follow the unit.
TEST_F(E2e, SmallerUnit)
{
    const UpdateRun run = runOneUpdate();
    expectSuccess(run, 64);
    EXPECT_EQ(protocolState.endAddress, (std::array<std::uint8_t, 3>{0x00, 0x3F, 0xFF}));
}

// End address below 0xFF: the write pass sends no block and the update goes on to the unit's
// own check and the checksum, which covers the unit's 255 bytes that no block carried.
TEST_F(E2e, UnitWithoutWholeBlocks)
{
    const UpdateRun run = runOneUpdate();
    EXPECT_EQ(protocolState.blockCount, 0);
    EXPECT_EQ(run.results, std::vector<int>{ERROR_CHECKSUM});
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

// The converter's serial counts by its first eight characters; a shorter one never matches.
TEST_F(E2e, LongAndShortConverterSerials)
{
    std::vector<ConverterInfo> converters;
    ASSERT_TRUE(listFtdiConverters(converters));
    ASSERT_EQ(converters.size(), 2u);
    EXPECT_EQ(converters[0].serial, "FTVF2Q7KXA");
    EXPECT_EQ(converters[1].serial, "FTVF8H3");

    const UpdateRun run = runOneUpdate();
    ASSERT_EQ(portList.count(), 1);
    EXPECT_EQ(portList.entry(0).serial, "FTVF2Q7K");
    EXPECT_EQ(portList.entry(0).portName, "/dev/ttyUSB0");
    expectSuccess(run);
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
    const fs::path firmware = fs::current_path() / "VX58PRO_V214.hex";
    fs::rename(firmware, firmware.string() + ".away");
    const UpdateRun refused = runOneUpdate();
    EXPECT_EQ(refused.results, std::vector<int>{ERROR_OPEN_FILE});
    expectDeviceLines(refused, kFirstLine, kFirstVersion);   // the unit was identified
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
    const std::string fileName = "VX58PRO_V214_with_a_name_that_does_not_fit.hex";
    ASSERT_TRUE(fs::create_directory(directory));
    fs::copy_file(fs::current_path() / "VX58PRO_V214.hex", directory / fileName);
    const std::string record = "#VX-58 Pro,Lumetra LX,FTVF2Q7K,2.14," + fileName + "\r\n";
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
    fs::rename(fs::current_path() / "VX58PRO_V214.hex", fs::current_path() / "Blitzger\xC3\xA4t.hex");
    const std::string record = "#VX-58 Pro,Lumetra LX,FTVF2Q7K,2.14,Blitzger\xE4t.hex\r\n";
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
    std::string firmwarePath;
    ASSERT_TRUE(formFirmwarePath(list.entry(index).firmwareFile, firmwarePath));
    const std::optional<DataBuffer> firmware = loadDataFile(firmwarePath);
    ASSERT_TRUE(firmware.has_value());
    loadFirmwareImage(*firmware);

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
