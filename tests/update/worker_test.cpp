// SPDX-License-Identifier: MIT
// The worker loop without a device: the order of its visible changes and flag writes, the
// refusal of a second Start while busy, and the first display of the device list.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "files/data_file.h"
#include "files/data_paths.h"
#include "link/commands.h"
#include "recording_display.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/worker.h"

namespace {

using Kind = DisplayEvent::Kind;

// What the Start button's action does on the GUI thread.
void pressStart()
{
    if (busy.load() == 0) {
        startRequested.store(1);
    }
}

void writeEncoded(const std::filesystem::path& path, std::string_view text)
{
    ASSERT_TRUE(saveDataFile(path.string(),
                             {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

bool buttonsBackCount(const RecordingDisplay& display, int n)
{
    return display.count(Kind::Buttons, 1) >= n;
}

// Every test runs in a directory of its own, which holds no device list unless the test
// writes one: an update then ends at once with code 4.
class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(scratch.path().empty());
        ASSERT_TRUE(initDataPaths(scratch.path().string()));
        initSharedState();
        resultCode.store(0);
        resetProtocolState();
    }
    void TearDown() override
    {
        stopWorker();
        initSharedState();
        resultCode.store(0);
    }

    // Lets the idle loop pass a good number of times.
    static void letWorkerIdle() { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }

    ScratchDir scratch;
    RecordingDisplay display;
    InstalledDisplay installed{display};
};

TEST_F(WorkerTest, UpdateChangesDisplayAndFlagsInOrder)
{
    pressStart();
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return buttonsBackCount(d, 1); }));
    stopWorker();

    const std::vector<DisplayEvent> events = display.events();
    ASSERT_EQ(events.size(), 7u);
    // Buttons off only after busy is 1 and the request was taken.
    EXPECT_EQ(events[0].kind, Kind::Buttons);
    EXPECT_EQ(events[0].number, 0);
    EXPECT_EQ(events[0].busyAtCall, 1);
    EXPECT_EQ(events[0].startRequestedAtCall, 0);
    // The update itself: bar set up with the start-up block count, then reset, then code 4.
    EXPECT_EQ(events[1].kind, Kind::Maximum);
    EXPECT_EQ(events[1].number, 512);
    EXPECT_EQ(events[2].kind, Kind::Value);
    EXPECT_DOUBLE_EQ(events[2].number, 12.8);
    EXPECT_EQ(events[3].kind, Kind::Value);
    EXPECT_EQ(events[3].number, 0);
    EXPECT_EQ(events[4].kind, Kind::Result);
    EXPECT_EQ(events[4].number, ERROR_OPEN_FILE_LIST);
    // The worker's own reset of the bar while still busy, then the buttons with busy 0.
    EXPECT_EQ(events[5].kind, Kind::Value);
    EXPECT_EQ(events[5].number, 0);
    EXPECT_EQ(events[5].busyAtCall, 1);
    EXPECT_EQ(events[6].kind, Kind::Buttons);
    EXPECT_EQ(events[6].number, 1);
    EXPECT_EQ(events[6].busyAtCall, 0);

    EXPECT_EQ(resultCode.load(), ERROR_OPEN_FILE_LIST);
    EXPECT_EQ(busy.load(), 0);
    EXPECT_EQ(startRequested.load(), 0);
}

TEST_F(WorkerTest, StartPressedWhileBusyIsRefused)
{
    int refusedPresses = 0;
    display.onEvent = [&](const DisplayEvent& event) {
        if (event.busyAtCall == 1) {
            pressStart();
            ++refusedPresses;
        }
    };
    pressStart();
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return buttonsBackCount(d, 1); }));
    letWorkerIdle();
    stopWorker();

    EXPECT_GE(refusedPresses, 5);
    EXPECT_EQ(display.count(Kind::Buttons, 0), 1);   // one update, none queued behind it
    EXPECT_EQ(startRequested.load(), 0);
}

TEST_F(WorkerTest, StartPressedTwiceBeforeTheWorkerTakesItRunsOneUpdate)
{
    pressStart();
    pressStart();
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return buttonsBackCount(d, 1); }));
    letWorkerIdle();
    stopWorker();

    EXPECT_EQ(display.count(Kind::Buttons, 0), 1);
    EXPECT_EQ(display.results(), std::vector<int>{ERROR_OPEN_FILE_LIST});
}

TEST_F(WorkerTest, PressOnReactivatedButtonIsAccepted)
{
    bool pressed = false;
    display.onEvent = [&](const DisplayEvent& event) {
        if (event.kind == Kind::Buttons && event.number == 1 && !pressed) {
            pressed = true;
            pressStart();
        }
    };
    pressStart();
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return buttonsBackCount(d, 2); }));
    letWorkerIdle();
    stopWorker();

    EXPECT_EQ(display.count(Kind::Buttons, 0), 2);
    EXPECT_EQ(display.count(Kind::Buttons, 1), 2);
}

TEST_F(WorkerTest, UpdateIsServedBeforeTheFirstDisplayOfTheSamePass)
{
    pressStart();
    safetyAccepted.store(1);
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return d.results().size() == 2; }));
    stopWorker();

    const std::vector<DisplayEvent> events = display.events();
    ASSERT_FALSE(events.empty());
    // Update first (its code 4 while busy), then the first display's code 4 after the buttons.
    EXPECT_EQ(events.front().kind, Kind::Buttons);
    EXPECT_EQ(events.back().kind, Kind::Result);
    EXPECT_EQ(events.back().busyAtCall, 0);
    EXPECT_EQ(events[events.size() - 2].kind, Kind::Buttons);
    EXPECT_EQ(display.results(), (std::vector<int>{ERROR_OPEN_FILE_LIST, ERROR_OPEN_FILE_LIST}));
    EXPECT_EQ(identifyDone.load(), 1);
}

TEST_F(WorkerTest, FirstDisplayShowsTheFirstEntryOnce)
{
    writeEncoded(scratch.path() / "devicelist.ovk",
                 "remark line\r\n#VX-58 Pro,Lumetra LX,FTVF2Q7K,2.14,VX58PRO_V214.hex\r\n"
                 "#VX-36 Compact,Korin KM,FTVF8H3N,1.07,VX36C_V107.hex\r\n");
    setMessageLanguage(kLanguageEnglish);
    safetyAccepted.store(1);
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return !d.eventsOf(Kind::Lines).empty(); }));
    letWorkerIdle();
    stopWorker();

    const std::vector<DisplayEvent> lines = display.eventsOf(Kind::Lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].deviceLine, "varnoflex   VX-58 Pro   for   Lumetra LX");
    EXPECT_EQ(lines[0].versionLine, "Version   2.14");
    EXPECT_EQ(deviceLineText, lines[0].deviceLine);
    EXPECT_EQ(versionLineText, lines[0].versionLine);
    EXPECT_TRUE(display.results().empty());
    EXPECT_EQ(identifyDone.load(), 1);
}

TEST_F(WorkerTest, FirstDisplayWithoutDeviceListStoresCode4AndShowsNoLines)
{
    safetyAccepted.store(1);
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay& d) { return !d.results().empty(); }));
    letWorkerIdle();
    stopWorker();

    EXPECT_EQ(display.results(), std::vector<int>{ERROR_OPEN_FILE_LIST});   // served once
    EXPECT_TRUE(display.eventsOf(Kind::Lines).empty());
    EXPECT_EQ(resultCode.load(), ERROR_OPEN_FILE_LIST);
}

TEST_F(WorkerTest, FirstDisplayOfAListWithoutEntriesShowsNothing)
{
    writeEncoded(scratch.path() / "devicelist.ovk", "only remarks here\r\nno record at all\r\n");
    safetyAccepted.store(1);
    ASSERT_TRUE(startWorker());
    ASSERT_TRUE(display.waitFor([](const RecordingDisplay&) { return identifyDone.load() == 1; }));
    stopWorker();   // waits for the first display to end

    EXPECT_TRUE(display.events().empty());
    EXPECT_EQ(resultCode.load(), 0);
}

TEST_F(WorkerTest, StopWorkerEndsAnIdleWorkerAndMayBeRepeated)
{
    stopWorker();   // never started: nothing to wait for
    initSharedState();
    ASSERT_TRUE(startWorker());
    stopWorker();
    stopWorker();
    EXPECT_NE(quitRequested.load(), 0);
    EXPECT_TRUE(display.events().empty());
}

}  // namespace
