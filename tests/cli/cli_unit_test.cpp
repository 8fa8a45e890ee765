// SPDX-License-Identifier: MIT
// The command-line updater's parts that need no unit: the events of an update as the --all
// parent takes them (the state, the memory statement, the report object), the channel's
// lines, the report files that are never half written, the trace file names of --all,
// the options and the check's verdict.
#include "cli/check_report.h"
#include "cli/cli_options.h"
#include "cli/event_channel.h"
#include "cli/report_file.h"
#include "cli/unit_events.h"
#include "cli/unit_report.h"
#include "cli/update_events.h"
#include "link/commands.h"
#include "link/frames.h"
#include "update/result_codes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

UnitState stateOf(const std::vector<std::string>& lines)
{
    UnitState state;
    for (const std::string& line : lines) EXPECT_TRUE(state.takeLine(line)) << line;
    return state;
}

const std::string kIdentified =
    R"({"event":"identified","serial":"FTVF2Q7K","port":"/dev/ttyUSB0",)"
    R"("entry":{"model":"VX-58 Pro","target":"Lumetra LX","version":"2.14","firmwareFile":"VX58PRO_V214.hex"},"blocks":512})";

TEST(UnitEvents, MemoryIsUnchangedOnlyWhenNoEraseProgramModeOrBlockWentOut)
{
    // Identified and blank-checked, then stopped: nothing that writes reached the unit.
    const UnitState checked = stateOf({kIdentified, R"({"event":"blankCheck","blank":true})",
                                       R"({"event":"result","code":null,"exitStatus":143,"stopped":true})"});
    EXPECT_EQ(checked.memory(), MemoryState::Unchanged);

    for (const std::string& touching : {std::string(R"({"event":"eraseSent"})"), std::string(R"({"event":"programMode"})"),
                                        std::string(R"({"event":"blockWritten","block":0,"acknowledged":false})")}) {
        const UnitState state =
            stateOf({kIdentified, touching, R"({"event":"result","code":null,"exitStatus":143,"stopped":true})"});
        EXPECT_EQ(state.memory(), MemoryState::PartlyWritten) << touching;
    }

    // A unit whose program ended without its result after it was identified may have been
    // written: it is never called unchanged.
    EXPECT_EQ(stateOf({kIdentified}).memory(), MemoryState::PartlyWritten);
    EXPECT_EQ(UnitState().memory(), MemoryState::Unchanged);

    // Verified to the end.
    const UnitState finished = stateOf({kIdentified, R"({"event":"programMode"})",
                                        R"({"event":"code","code":22,"name":"OK_DOWNLOADED"})",
                                        R"({"event":"code","code":23,"name":"OK_UPDATE_FINISHED"})",
                                        R"({"event":"result","code":23,"exitStatus":0})"});
    EXPECT_EQ(finished.memory(), MemoryState::WrittenAndVerified);
    // A failed verify pass leaves it written but not verified.
    const UnitState unverified = stateOf({kIdentified, R"({"event":"programMode"})", R"({"event":"verifyMode"})",
                                          R"({"event":"result","code":16,"exitStatus":16})"});
    EXPECT_EQ(unverified.memory(), MemoryState::PartlyWritten);
}

TEST(UnitEvents, ProgressCountsAcknowledgedBlocksOfEachPass)
{
    UnitState state = stateOf({kIdentified, R"({"event":"programMode"})"});
    EXPECT_TRUE(state.identified());
    EXPECT_EQ(state.blockCount(), 512);
    EXPECT_EQ(state.entry()->firmwareFile, "VX58PRO_V214.hex");
    for (int block = 0; block < 100; ++block) {
        state.takeLine(R"({"event":"blockWritten","block":)" + std::to_string(block) + R"(,"acknowledged":true})");
    }
    state.takeLine(R"({"event":"blockWritten","block":100,"acknowledged":false})");
    EXPECT_EQ(state.blocksWritten(), 100);
    EXPECT_FALSE(state.verifyPass());
    state.takeLine(R"({"event":"verifyMode"})");
    state.takeLine(R"({"event":"blockVerified","block":0,"acknowledged":true})");
    EXPECT_TRUE(state.verifyPass());
    EXPECT_EQ(state.blocksVerified(), 1);
    // The result's counts are the child's own, and they win.
    state.takeLine(R"({"event":"result","code":16,"name":"ERROR_VERIFY","exitStatus":16,"blocksWritten":512,)"
                   R"("blocksVerified":3,"bytesSent":1000,"bytesReceived":20,"lastError":"Input/output error"})");
    EXPECT_EQ(state.blocksWritten(), 512);
    EXPECT_EQ(state.blocksVerified(), 3);
    EXPECT_EQ(state.finalCode(), 16);
    EXPECT_EQ(state.exitStatus(), 16);
    EXPECT_EQ(state.lastError(), "Input/output error");
}

TEST(UnitEvents, WhatIsNotAKnownEventIsLeftOut)
{
    UnitState state;
    for (const char* line : {"", "not json", "[1,2]", "{}", R"({"event":5})", R"({"event":"launched"})",
                             R"({"event":"code","code":300})", R"({"event":"code","code":"12"})",
                             R"({"event":"blockWritten","block":-1})", R"({"event":"identified","serial":"X"})",
                             R"({"event":"result","exitStatus":-4})", R"({"event":"result","exitStatus":1e400})",
                             "{\"event\":\"code\",\"code\":12}{",
                             // Two objects, a string left open, brackets that do not pair up.
                             R"({"event":"code","code":12}{"event":"code","code":13})",
                             R"({"event":"code","code":12,"name":"ERROR}")", R"({"event":"code","code":12,"x":"\"})",
                             R"({"event":"code","code":12,"x":[}])", R"({"event":"code","code":12}]})"}) {
        EXPECT_FALSE(state.takeLine(line)) << line;
    }
    EXPECT_FALSE(state.takeLine(std::string(kMaxEventLineBytes + 1, ' ')));
    EXPECT_TRUE(state.storedCodes().empty());
    EXPECT_FALSE(state.identified());
    EXPECT_FALSE(state.resultKnown());
    // Brackets, quotes and backslashes within strings are text.
    EXPECT_TRUE(state.takeLine(R"({"event":"portError","port":"COM\"}{7","error":"a \\\" b}]\\"})"));
    EXPECT_EQ(state.lastError(), R"(a \" b}]\)");
    // Members this program does not know are fine.
    EXPECT_TRUE(state.takeLine(R"({"event":"code","code":9,"name":"ERROR_ERASE_ALREADY_BLANK","later":[1]})"));
    EXPECT_EQ(state.storedCodes(), std::vector<std::uint8_t>{9});
}

TEST(UnitEvents, TextsFromEventsCannotDriveATerminal)
{
    const UnitState state = stateOf({R"({"event":"identified","serial":"FT\u001b[2J","port":"COM\u009b7","blocks":16,)"
                                     R"("entry":{"model":"VX\r\nfinished","target":"","version":"","firmwareFile":""}})"});
    EXPECT_EQ(state.serial(), "FT<esc>[2J");
    EXPECT_EQ(state.port(), "COM\xEF\xBF\xBD" "7");
    EXPECT_EQ(state.entry()->model, "VX<cr><nl>finished");
}

TEST(UnitEvents, ReportObjectOfAUnit)
{
    const UnitState state = stateOf({kIdentified, R"({"event":"eraseSent"})", R"({"event":"programMode"})",
                                     R"({"event":"code","code":12,"name":"ERROR_WRITE_BLOCK"})",
                                     R"({"event":"result","code":12,"name":"ERROR_WRITE_BLOCK","exitStatus":12,)"
                                     R"("blocksWritten":100,"blocksVerified":0,"bytesSent":26317,"bytesReceived":676})"});
    using namespace std::chrono;
    UnitReportExtras extras;
    extras.times = RunTimes{system_clock::time_point{milliseconds(1000)}, system_clock::time_point{milliseconds(31250)},
                            milliseconds(30250)};
    const Json unit = unitReportObject(state, extras);
    EXPECT_EQ(unit["serial"], "FTVF2Q7K");
    EXPECT_EQ(unit["entry"]["model"], "VX-58 Pro");
    EXPECT_EQ(unit["stored"], Json::array({Json{{"code", 12}, {"name", "ERROR_WRITE_BLOCK"}}}));
    EXPECT_EQ(unit["result"]["name"], "ERROR_WRITE_BLOCK");
    EXPECT_EQ(unit["exitStatus"], 12);
    EXPECT_EQ(unit["start"], "1970-01-01T00:00:01.000Z");
    EXPECT_EQ(unit["durationSeconds"], 30.25);
    EXPECT_EQ(unit["blocksWritten"], 100);
    EXPECT_EQ(unit["bytesSent"], 26317);
    EXPECT_EQ(unit["memory"], "partly written");
    EXPECT_EQ(unit["memoryPartlyWritten"], true);
    EXPECT_EQ(unit["unfinished"], false);
    EXPECT_TRUE(unit["lastError"].is_null());

    // A converter another one shares its serial with: never started, nothing known but itself.
    UnitReportExtras duplicate;
    duplicate.serial = "FTVF2Q7K";
    duplicate.port = "/dev/ttyUSB1";
    duplicate.exitStatus = 75;
    duplicate.duplicateSerial = true;
    const Json other = unitReportObject(UnitState(), duplicate);
    EXPECT_EQ(other["port"], "/dev/ttyUSB1");
    EXPECT_TRUE(other["entry"].is_null() && other["result"].is_null() && other["start"].is_null());
    EXPECT_EQ(other["memory"], "unchanged");
    EXPECT_EQ(other["duplicateSerial"], true);

    const Json document = reportDocument(Json::array({unit, other}), true);
    EXPECT_EQ(document["program"], "varnoflex-cli");
    EXPECT_EQ(document["interrupted"], true);
    EXPECT_EQ(document["units"].size(), 2u);
    EXPECT_TRUE(document["notConnected"].is_array());
    // Member order is the documented one.
    EXPECT_EQ(jsonDocumentText(document).find("\"program\""), 4u);
}

TEST(UnitEvents, TimesAreUtcWithMillisecondsAndTheLengthIsTheSteadyClocks)
{
    using namespace std::chrono;
    EXPECT_EQ(isoTime(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(isoTime(system_clock::time_point{milliseconds(1700000000123)}), "2023-11-14T22:13:20.123Z");
    EXPECT_EQ(isoTime(system_clock::time_point{milliseconds(951782399999)}), "2000-02-28T23:59:59.999Z");
    const RunClock clock;
    const RunTimes times = clock.times();
    EXPECT_GE(times.length.count(), 0);
    EXPECT_EQ(times.end - times.start, duration_cast<system_clock::duration>(times.length));
}

// The lines the reader gives for bytes, copied.
std::vector<std::string> linesFrom(LineReader& reader, std::string_view bytes)
{
    std::vector<std::string> lines;
    reader.take(bytes, [&lines](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

TEST(EventChannel, LinesAreTakenWholeAndOverlongOnesDropped)
{
    LineReader reader(16);
    EXPECT_TRUE(linesFrom(reader, "{\"a\"").empty());
    EXPECT_EQ(linesFrom(reader, ":1}\n{\"b\":2}\n{"), (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}"}));
    EXPECT_EQ(linesFrom(reader, "}\n"), std::vector<std::string>{"{}"});
    // Too long, in pieces: dropped up to its end, the next line is taken again.
    EXPECT_TRUE(linesFrom(reader, "0123456789").empty());
    EXPECT_TRUE(linesFrom(reader, "0123456789").empty());
    EXPECT_EQ(linesFrom(reader, "0123456789\nshort\n"), std::vector<std::string>{"short"});
    EXPECT_EQ(linesFrom(reader, "\n"), std::vector<std::string>{""});
    // The limit itself is allowed, whole or in pieces; one byte more is not, whole or in
    // pieces, nor when only the line's last piece makes it too long.
    EXPECT_EQ(linesFrom(reader, "0123456789abcdef\n"), std::vector<std::string>{"0123456789abcdef"});
    EXPECT_TRUE(linesFrom(reader, "01234567").empty());
    EXPECT_EQ(linesFrom(reader, "89abcdef\n"), std::vector<std::string>{"0123456789abcdef"});
    EXPECT_EQ(linesFrom(reader, "0123456789abcdefg\nnext\n"), std::vector<std::string>{"next"});
    EXPECT_TRUE(linesFrom(reader, "01234567").empty());
    EXPECT_EQ(linesFrom(reader, "89abcdefg\nnext\n"), std::vector<std::string>{"next"});
    // A line kept from before does not leak into the next one.
    EXPECT_TRUE(linesFrom(reader, "{\"c\"").empty());
    EXPECT_EQ(linesFrom(reader, ":3}\n\n{\"d\":4}\n"), (std::vector<std::string>{"{\"c\":3}", "", "{\"d\":4}"}));

    std::uint64_t number = 0;
    EXPECT_TRUE(parseHandleNumber("17", number));
    EXPECT_EQ(number, 17u);
    for (const char* bad : {"", "-1", "+3", " 3", "3a", "1234567890123456789"}) EXPECT_FALSE(parseHandleNumber(bad, number)) << bad;
}

TEST(EventChannel, StandardStreamsAndClosedDescriptorsAreRefused)
{
    for (const char* number : {"0", "1", "2", "987654", "x"}) {
        EventChannel channel;
        std::string error;
        EXPECT_FALSE(channel.open(number, error)) << number;
        EXPECT_NE(error.find("--event-fd"), std::string::npos);
    }
}

// Feeds the observer the frames of a short update and collects what it sends.
class EventsOf {
public:
    UnitEventLog log;
    UpdateEventObserver observer{log, nullptr};

    void write(const std::vector<std::uint8_t>& frame, bool accepted = true) { observer.bytesWritten(frame, accepted); }
    void read(const std::vector<std::uint8_t>& bytes, std::size_t wanted) { observer.bytesRead(bytes, wanted, ""); }
};

std::vector<std::uint8_t> command(std::uint8_t code)
{
    return buildCommandFrame(code, {});
}

std::vector<std::uint8_t> dataBlock(bool last = false)
{
    const std::array<std::uint8_t, 256> block{};
    const auto frame = buildDataBlockFrame(block, last);
    return {frame.begin(), frame.end()};
}

const std::vector<std::uint8_t> kAck(kAckFrame.begin(), kAckFrame.end());
const std::vector<std::uint8_t> kBlockAck = {0x02, 0x02, 0x06, 0x06, 0xF2, 0x03};
const std::vector<std::uint8_t> kRefused = {0x02, 0x02, 0x06, 0x15, 0xE3, 0x03};

TEST(UpdateEventObserver, FramesOnThePortBecomeEvents)
{
    EventsOf events;
    events.write(command(CMD_BLANK_CHECK));
    events.read({0x02, 0x01, 0x15, 0xEA, 0x03}, 5);   // not blank
    EXPECT_EQ(events.log.state().memory(), MemoryState::Unchanged);
    events.write(command(CMD_ERASE));
    EXPECT_EQ(events.log.state().memory(), MemoryState::PartlyWritten);
    events.write(command(CMD_PROGRAM_MODE));
    events.read(kAck, 5);
    events.write(dataBlock());
    events.read(kBlockAck, 6);
    events.write(dataBlock());
    events.read(kRefused, 6);
    UnitState state = events.log.state();
    EXPECT_EQ(state.blocksWritten(), 1);
    EXPECT_FALSE(state.verifyPass());
    events.write(command(CMD_VERIFY));
    events.read(kAck, 5);
    events.write(dataBlock(true));
    events.read(kBlockAck, 6);
    state = events.log.state();
    EXPECT_TRUE(state.verifyPass());
    EXPECT_EQ(state.blocksVerified(), 1);
    EXPECT_EQ(state.blocksWritten(), 1);

    // A failure with a reason reaches the state as the port's last error; a time-out does not.
    events.observer.bytesRead({}, 6, "");
    EXPECT_TRUE(events.log.state().lastError().empty());
    events.observer.portOpenFailed("/dev/ttyUSB0", "Device or resource busy");
    EXPECT_EQ(events.log.state().lastError(), "Device or resource busy");
}

TEST(UpdateEventObserver, AWriteThePortDidNotTakeStillCountsAsSent)
{
    EventsOf events;
    events.write(dataBlock(), false);
    events.read({}, 6);
    EXPECT_EQ(events.log.state().memory(), MemoryState::PartlyWritten);
    EXPECT_EQ(events.log.state().blocksWritten(), 0);
}

class ReportFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() /
                 ("vf-report-file-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::vector<std::string> namesInFolder() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string contentOf(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path folder;
};

TEST_F(ReportFileTest, TheOldFileStaysUntilTheNewOneIsWhole)
{
    const fs::path target = folder / "report.json";
    std::ofstream(target) << "old";
    ReportFile file;
    std::string error;
    ASSERT_TRUE(file.create(target.string(), error)) << error;
    ASSERT_TRUE(file.write("new report\n"));
    EXPECT_EQ(contentOf(target), "old");
    EXPECT_EQ(namesInFolder().size(), 2u);   // the old one and the new one beside it
    ASSERT_TRUE(file.commit(error)) << error;
    EXPECT_EQ(contentOf(target), "new report\n");
    EXPECT_EQ(namesInFolder(), std::vector<std::string>{"report.json"});
}

TEST_F(ReportFileTest, AFileThatIsNotCommittedLeavesNothing)
{
    {
        ReportFile file;
        std::string error;
        ASSERT_TRUE(file.create((folder / "trace.txt").string(), error));
        file.write("half");
    }
    EXPECT_TRUE(namesInFolder().empty());
}

TEST_F(ReportFileTest, APlaceThatCannotTakeItIsRefusedAtOnce)
{
    ReportFile file;
    std::string error;
    EXPECT_FALSE(file.create((folder / "missing" / "report.json").string(), error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(file.create(folder.string(), error));
    EXPECT_FALSE(error.empty());
}

TEST_F(ReportFileTest, ADeviceIsWrittenDirectlyAndAFullOneFails)
{
    ReportFile full;
    std::string error;
    ASSERT_TRUE(full.create("/dev/full", error)) << error;
    full.write(std::string(100000, 'x'));
    EXPECT_FALSE(full.commit(error));
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;

    ReportFile null;
    ASSERT_TRUE(null.create("/dev/null", error)) << error;
    null.write("nothing\n");
    EXPECT_TRUE(null.commit(error)) << error;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(ReportFileTest, ASymbolicLinkStaysAndItsFileIsReplaced)
{
    std::ofstream(folder / "real.json") << "old";
    fs::create_symlink("real.json", folder / "link.json");
    ReportFile file;
    std::string error;
    ASSERT_TRUE(file.create((folder / "link.json").string(), error)) << error;
    file.write("new");
    ASSERT_TRUE(file.commit(error)) << error;
    EXPECT_TRUE(fs::is_symlink(folder / "link.json"));
    EXPECT_EQ(contentOf(folder / "real.json"), "new");
}

// A refused firmware file: its problem's kind and where it is, null where it concerns none;
// an event that does not say which file and what kind is left out.
TEST(UnitReport, FirmwareProblem)
{
    UnitState state;
    EXPECT_TRUE(unitReportObject(state, UnitReportExtras{})["firmwareProblem"].is_null());
    EXPECT_FALSE(state.takeLine(R"({"event":"firmwareRefused","kind":"checksumMismatch"})"));
    EXPECT_FALSE(state.firmwareRefusal());

    ASSERT_TRUE(state.takeLine(R"({"event":"firmwareRefused","file":"VX58PRO_V214.hex","kind":"checksumMismatch",)"
                               R"("record":12,"line":14,"address":65568,"text":"line 14, record 12: checksum"})"));
    const Json problem = unitReportObject(state, UnitReportExtras{})["firmwareProblem"];
    EXPECT_EQ(problem, (Json{{"kind", "checksumMismatch"}, {"record", 12}, {"line", 14}, {"address", 0x10020}}));
    EXPECT_EQ(state.firmwareRefusal()->text, "line 14, record 12: checksum");

    ASSERT_TRUE(state.takeLine(R"({"event":"firmwareRefused","file":"a.hex","kind":"noDataRecord",)"
                               R"("record":null,"line":0,"address":-1})"));
    const Json empty = unitReportObject(state, UnitReportExtras{})["firmwareProblem"];
    EXPECT_EQ(empty["kind"], "noDataRecord");
    for (const char* member : {"record", "line", "address"}) EXPECT_TRUE(empty[member].is_null()) << member;
}

// The verdict of every way a check can end, as a person reads it; the ways the testbed's
// unit cannot easily be made to end (the checksum or the verify command unanswered) too.
TEST(CheckReport, VerdictLines)
{
    CheckResult result;
    result.firmwareVersion = "2.14";
    result.firmwareFile = "VX58PRO_V214.hex";
    result.blockCount = 512;
    result.imageChecksum = 0xE732;
    result.deviceChecksum = 0xE732;
    result.verdict = CheckVerdict::Holds;
    EXPECT_EQ(checkVerdictText(result, kLanguageEnglish, false), "holds firmware 2.14 (VX58PRO_V214.hex)");
    EXPECT_EQ(checkVerdictText(result, kLanguageEnglish, true),
              "holds firmware 2.14 (VX58PRO_V214.hex); current, left alone");
    EXPECT_EQ(checkVerdictText(result, kLanguageGerman, true),
              "enthält Firmware 2.14 (VX58PRO_V214.hex); aktuell, nicht verändert");

    result.verdict = CheckVerdict::Differs;
    result.refusedBlock = 300;
    EXPECT_EQ(checkVerdictText(result, kLanguageEnglish, true),
              "differs from firmware 2.14 (VX58PRO_V214.hex): the unit refused block 300 (checksums equal, 0xE732); "
              "updating");
    result.refusedBlock = -1;
    result.deviceChecksum = 0x0800;
    EXPECT_EQ(checkVerdictText(result, kLanguageGerman, false),
              "weicht ab von Firmware 2.14 (VX58PRO_V214.hex): Prüfsumme 0x0800 im Gerät, 0xE732 der Datei");

    result.verdict = CheckVerdict::Failed;
    result.deviceChecksum.reset();
    result.failure = CheckFailure::ChecksumUnanswered;
    EXPECT_EQ(checkVerdictText(result, kLanguageEnglish, true),
              "check failed: no answer to the checksum command; not updated");
    result.failure = CheckFailure::VerifyNotAcknowledged;
    EXPECT_EQ(checkVerdictText(result, kLanguageEnglish, false), "check failed: the verify command was not acknowledged");
    result.failure = CheckFailure::BlockUnanswered;
    result.unansweredBlock = 7;
    EXPECT_EQ(checkVerdictText(result, kLanguageGerman, false),
              "Prüfung fehlgeschlagen: keine Antwort auf Block 7 des Vergleichs");

    // A device list field's control bytes reach the terminal as marks.
    result.firmwareVersion = "2.14\x1b[2J";
    EXPECT_EQ(checkVerdictText(result, kLanguageEnglish, false).find('\x1b'), std::string::npos);
}

TEST(CheckReport, ReportMembersAndBackAgain)
{
    EXPECT_TRUE(checkReport(std::nullopt).is_null());
    CheckResult result;
    result.verdict = CheckVerdict::Failed;
    result.failure = CheckFailure::ChecksumUnanswered;
    result.blockCount = 128;
    result.imageChecksum = 0x1234;
    const Json failed = checkReport(result);
    EXPECT_EQ(failed["verdict"], "failed");
    EXPECT_EQ(failed["failure"], "checksumUnanswered");
    EXPECT_TRUE(failed["deviceChecksum"].is_null());
    EXPECT_EQ(failed["imageChecksum"], 0x1234);
    EXPECT_TRUE(failed["refusedBlock"].is_null());

    // What the --all parent reads back is what the child compared.
    result.verdict = CheckVerdict::Differs;
    result.failure = CheckFailure::None;
    result.deviceChecksum = 0x1234;
    result.refusedBlock = 100;
    result.blocksVerified = 100;
    const std::optional<CheckResult> back = checkResultFrom(checkReport(result));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->verdict, CheckVerdict::Differs);
    EXPECT_EQ(back->deviceChecksum, 0x1234);
    EXPECT_EQ(back->refusedBlock, 100);
    EXPECT_EQ(back->unansweredBlock, -1);
    EXPECT_EQ(back->blocksVerified, 100);
    EXPECT_EQ(back->blockCount, 128);

    // A difference without the unit's checksum, a verdict it does not know, figures out of
    // range: not a check.
    Json bad = checkReport(result);
    bad["deviceChecksum"] = nullptr;
    EXPECT_FALSE(checkResultFrom(bad));
    bad = checkReport(result);
    bad["verdict"] = "maybe";
    EXPECT_FALSE(checkResultFrom(bad));
    bad = checkReport(result);
    bad["imageChecksum"] = 0x10000;
    EXPECT_FALSE(checkResultFrom(bad));
    bad = checkReport(result);
    bad["blocksVerified"] = "all";
    EXPECT_FALSE(checkResultFrom(bad));
}

// A check's events: its verify pass compares and writes nothing; the verdict and whether the
// unit was left alone reach the report; an update that follows counts its own verify pass.
TEST(UnitEvents, ACheckLeavesTheMemoryUnchanged)
{
    CheckResult holds;
    holds.verdict = CheckVerdict::Holds;
    holds.blockCount = 2;
    holds.imageChecksum = 0xBEEF;
    holds.deviceChecksum = 0xBEEF;
    holds.blocksVerified = 2;
    const auto checkEvent = [](const CheckResult& result, bool skipCurrent) {
        Json event = {{"event", event::kCheck}};
        event.update(checkReport(result));
        event["skipCurrent"] = skipCurrent;
        return event;
    };
    const Json identified = {{"event", event::kIdentified}, {"serial", "FTVF2Q7K"}, {"port", "/dev/ttyUSB0"},
                             {"entry", {{"model", "VX-58 Pro"}, {"target", "Lumetra LX"}, {"version", "2.14"},
                                        {"firmwareFile", "VX58PRO_V214.hex"}}},
                             {"blocks", 2}};
    const Json verified0 = {{"event", event::kBlockVerified}, {"block", 0}, {"acknowledged", true}};
    const Json verified1 = {{"event", event::kBlockVerified}, {"block", 1}, {"acknowledged", true}};

    UnitState left;
    for (const Json& each : {identified, Json{{"event", event::kCheckStarted}}, Json{{"event", event::kChecksum}},
                             Json{{"event", event::kVerifyMode}}, verified0}) {
        ASSERT_TRUE(left.take(each)) << each.dump();
    }
    EXPECT_TRUE(left.checking());
    EXPECT_EQ(left.blocksVerified(), 1);
    ASSERT_TRUE(left.take(verified1));
    ASSERT_TRUE(left.take(checkEvent(holds, true)));
    EXPECT_FALSE(left.checking());
    EXPECT_TRUE(left.checkIsOutcome());
    EXPECT_TRUE(left.leftAlone());
    ASSERT_TRUE(left.take(Json{{"event", event::kResult}, {"exitStatus", 0}}));
    EXPECT_EQ(left.memory(), MemoryState::Unchanged);
    const Json report = unitReportObject(left, {});
    EXPECT_EQ(report["check"]["verdict"], "holds");
    EXPECT_EQ(report["check"]["blocksVerified"], 2);
    EXPECT_TRUE(report["leftAlone"].get<bool>());
    EXPECT_EQ(report["memory"], "unchanged");

    // --check: the same verdict is not "left alone" (nothing would have been updated).
    UnitState checked;
    ASSERT_TRUE(checked.take(identified));
    ASSERT_TRUE(checked.take(checkEvent(holds, false)));
    EXPECT_TRUE(checked.checkIsOutcome());
    EXPECT_FALSE(checked.leftAlone());

    // --skip-current with a unit that differs: the update follows and is the outcome.
    CheckResult differs = holds;
    differs.verdict = CheckVerdict::Differs;
    differs.deviceChecksum = 0x8000;
    differs.blocksVerified = 0;
    UnitState updated;
    ASSERT_TRUE(updated.take(identified));
    ASSERT_TRUE(updated.take(Json{{"event", event::kCheckStarted}}));
    ASSERT_TRUE(updated.take(checkEvent(differs, true)));
    EXPECT_FALSE(updated.checkIsOutcome());
    EXPECT_FALSE(updated.leftAlone());
    ASSERT_TRUE(updated.take(identified));
    ASSERT_TRUE(updated.take(Json{{"event", event::kEraseSent}}));
    ASSERT_TRUE(updated.take(Json{{"event", event::kVerifyMode}}));
    ASSERT_TRUE(updated.take(verified0));
    EXPECT_EQ(updated.blocksVerified(), 1);
    EXPECT_EQ(updated.memory(), MemoryState::PartlyWritten);
}

TEST(UnitReport, TraceFileOfEachUnitCarriesItsSerial)
{
    EXPECT_EQ(traceFileForUnit("trace.txt", "FTVF2Q7K"), "trace-FTVF2Q7K.txt");
    EXPECT_EQ(traceFileForUnit("trace", "FTVF2Q7K"), "trace-FTVF2Q7K");
    EXPECT_EQ(traceFileForUnit("logs.d/trace", "FTVF2Q7K"), "logs.d/trace-FTVF2Q7K");
    EXPECT_EQ(traceFileForUnit("logs/.trace", "FTVF2Q7K"), "logs/.trace-FTVF2Q7K");
    EXPECT_EQ(traceFileForUnit("C:\\bench\\run.1.log", "FTVF2Q7K"), "C:\\bench\\run.1-FTVF2Q7K.log");
}

bool parses(std::vector<std::string> arguments, CliOptions& options, std::string& error)
{
    return parseCliOptions(arguments, options, error);
}

TEST(CliOptions, SerialAllJsonTraceAndTheChildInterface)
{
    CliOptions options;
    std::string error;
    ASSERT_TRUE(parses({"--serial", "FTVF2Q7K", "--json=-", "--trace", "t.txt", "--event-fd", "5"}, options, error))
        << error;
    EXPECT_EQ(options.serial, "FTVF2Q7K");
    EXPECT_EQ(options.jsonFile, "-");
    EXPECT_EQ(options.traceFile, "t.txt");
    EXPECT_EQ(options.eventFd, "5");
    EXPECT_FALSE(options.all);

    for (const char* serial : {"FTVF2Q7", "FTVF2Q7KX", "FTVF-Q7K", "FTVF Q7K", ""}) {
        CliOptions bad;
        EXPECT_FALSE(parses({"--serial", serial}, bad, error)) << serial;
        EXPECT_NE(error.find("--serial"), std::string::npos);
    }
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--all", "--serial", "FTVF2Q7K"}, {"--trace", "-"}, {"--json"},
          {"--event-fd", "x"}, {"--event-fd", "-3"}, {"--stop-event="}, {"--all", "--event-fd", "4"}}) {
        CliOptions rejected;
        EXPECT_FALSE(parses(bad, rejected, error)) << bad.front();
    }
    CliOptions all;
    ASSERT_TRUE(parses({"--all", "--json", "r.json"}, all, error));
    EXPECT_TRUE(all.all);
}

TEST(CliOptions, CheckAndSkipCurrent)
{
    std::string error;
    CliOptions check;
    ASSERT_TRUE(parses({"--check", "--serial", "FTVF2Q7K"}, check, error)) << error;
    EXPECT_TRUE(check.check);
    EXPECT_FALSE(check.skipCurrent);
    CliOptions skip;
    ASSERT_TRUE(parses({"--skip-current"}, skip, error)) << error;
    EXPECT_TRUE(skip.skipCurrent);
    CliOptions both;
    EXPECT_FALSE(parses({"--check", "--skip-current"}, both, error));
    CliOptions withValue;
    EXPECT_FALSE(parses({"--check=yes"}, withValue, error));
    CliOptions allChecked;
    ASSERT_TRUE(parses({"--all", "--check"}, allChecked, error)) << error;
    EXPECT_TRUE(allChecked.all && allChecked.check);
    CliOptions allSkipping;
    ASSERT_TRUE(parses({"--all", "--skip-current"}, allSkipping, error)) << error;
    EXPECT_TRUE(allSkipping.all && allSkipping.skipCurrent);
}

}  // namespace
