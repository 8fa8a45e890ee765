// SPDX-License-Identifier: MIT
// The port observer over a real pseudo-terminal, the text of the port trace, and the
// exchange counter's reading of the traffic.
#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"
#include "link/trace.h"
#include "pty_peer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Every event as one short line, in order.
class RecordingObserver final : public PortObserver {
public:
    std::vector<std::string> events;

    void portOpened(std::string_view path) override { events.push_back("open " + std::string(path)); }
    void portOpenFailed(std::string_view path, std::string_view reason) override
    {
        events.push_back("open failed " + std::string(path) + (reason.empty() ? " (no reason)" : ""));
    }
    void portClosed() override { events.push_back("close"); }
    void speedChanged(std::uint32_t baud) override { events.push_back("speed " + std::to_string(baud)); }
    void bytesWritten(std::span<const std::uint8_t> data, bool accepted) override
    {
        events.push_back((accepted ? "write " : "write failed ") + traceBytes(data));
    }
    void bytesRead(std::span<const std::uint8_t> received, std::size_t wanted, std::string_view failure) override
    {
        events.push_back("read " + std::to_string(received.size()) + "/" + std::to_string(wanted) + " " +
                         traceBytes(received) + (failure.empty() ? "" : " failed"));
    }
    void waited(int milliseconds) override { events.push_back("wait " + std::to_string(milliseconds)); }
};

class ObservedPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.ok());
        setPortObserver(&observer);
    }
    void TearDown() override
    {
        portClose();
        setPortObserver(nullptr);
    }
    PtyPeer peer;
    RecordingObserver observer;
};

TEST_F(ObservedPort, EveryOperationIsSeenWithItsBytes)
{
    peer.run({receiveThen(5, {0x02, 0x01, 0x06, 0xF9, 0x03}), receiveThen(1, {0x02, 0x01})});
    ASSERT_TRUE(portOpen(0, peer.slavePath(), kPortByName));
    ASSERT_TRUE(portWrite(std::array<std::uint8_t, 5>{0x01, 0x01, 0x00, 0xFF, 0x03}));
    std::array<std::uint8_t, 5> reply{};
    ASSERT_TRUE(portRead(reply));
    portSetSpeed(kFastBaud);
    ASSERT_TRUE(portWrite(std::array<std::uint8_t, 1>{0x00}));
    std::array<std::uint8_t, 5> shortReply{};
    EXPECT_FALSE(portRead(shortReply));   // two of five bytes come, then the time limit
    waitMs(3);
    portClose();
    portClose();                          // closing a closed port is no event
    peer.finish();

    const std::vector<std::string> expected = {
        "open " + peer.slavePath(),
        "wait " + std::to_string(kPortOpenSettleMs),
        "write 01 01 00 FF 03",
        "read 5/5 02 01 06 F9 03",
        "speed 115200",
        "write 00",
        "read 2/5 02 01 failed",
        "wait 3",
        "close",
    };
    EXPECT_EQ(observer.events, expected);
}

TEST_F(ObservedPort, FailedOpenAndClosedPortAndRemovedObserver)
{
    EXPECT_FALSE(portOpen(0, "/dev/does-not-exist-vf", kPortByName));
    std::array<std::uint8_t, 1> byte{};
    EXPECT_FALSE(portRead(byte));   // on a closed port nothing is read, nothing reported
    EXPECT_FALSE(portWrite(byte));
    ASSERT_EQ(observer.events, std::vector<std::string>{"open failed /dev/does-not-exist-vf"});

    setPortObserver(nullptr);
    ASSERT_TRUE(portOpen(0, peer.slavePath(), kPortByName));
    portClose();
    EXPECT_EQ(observer.events.size(), 1u);
}

std::vector<std::uint8_t> dataBlockFrame(std::uint8_t fill, bool last)
{
    std::array<std::uint8_t, 256> block{};
    block.fill(fill);
    const auto frame = buildDataBlockFrame(block, last);
    return {frame.begin(), frame.end()};
}

TEST(TraceBytes, DataBlocksAreShortenedOtherBytesAreNot)
{
    EXPECT_EQ(traceBytes(std::vector<std::uint8_t>{0x01, 0x0A, 0xFF}), "01 0A FF");
    EXPECT_EQ(traceBytes(std::vector<std::uint8_t>{}), "");
    const auto frame = dataBlockFrame(0x11, true);
    const std::string checksum = traceBytes(std::span<const std::uint8_t>(frame).subspan(258, 1));
    EXPECT_EQ(traceBytes(frame), "02 00 [256 data bytes] " + checksum + " 03");
    // 260 bytes that are not a data block (another start byte) are shown whole.
    std::vector<std::uint8_t> notBlock = frame;
    notBlock[0] = kSoh;
    EXPECT_EQ(traceBytes(notBlock).size(), 260u * 3 - 1);
}

// The trace's lines without their time column.
std::vector<std::string> traceLines(std::FILE* file)
{
    std::rewind(file);
    std::vector<std::string> lines;
    char buffer[2048];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        const auto text = line.find_first_not_of(' ');
        const auto afterTime = line.find(' ', text);
        EXPECT_NE(afterTime, std::string::npos) << line;
        lines.push_back(line.substr(afterTime + 1));
    }
    return lines;
}

TEST(PortTrace, LinesForEveryKindOfEventAndOnlyThePortsWaits)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        PortTrace trace(file);
        trace.waited(10);   // the worker idling before any port: left out
        trace.portOpenFailed("/dev/ttyUSB3", "Permission denied");
        trace.portOpened("/dev/ttyUSB0");
        trace.waited(200);
        trace.bytesWritten(std::vector<std::uint8_t>{0x00}, true);
        trace.bytesWritten(std::vector<std::uint8_t>{0x01, 0x02}, false);
        trace.bytesRead(std::vector<std::uint8_t>{0x06}, 1, "");
        trace.bytesRead(std::vector<std::uint8_t>{}, 5, "");
        trace.bytesRead(std::vector<std::uint8_t>{0x02}, 6, "Input/output error");
        trace.speedChanged(115200);
        trace.portClosed();
        trace.waited(20);   // the pause after closing is shown, the idling after it is not
        trace.waited(10);
    }
    const std::vector<std::string> expected = {
        "open failed /dev/ttyUSB3: Permission denied",
        "open /dev/ttyUSB0",
        "wait 200 ms",
        "write 1: 00",
        "write failed 2: 01 02",
        "read 1: 06",
        "read 0 of 5, timed out",
        "read 1 of 6, Input/output error: 02",
        "speed 115200",
        "close",
        "wait 20 ms",
    };
    EXPECT_EQ(traceLines(file), expected);
    std::fclose(file);
}

TEST(PortTrace, TimesAreMillisecondsThatNeverGoBack)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    PortTrace trace(file);
    for (int i = 0; i < 20; ++i) trace.speedChanged(9600);
    std::rewind(file);
    double previous = -1;
    char buffer[256];
    int lines = 0;
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        double ms = 0;
        ASSERT_EQ(std::sscanf(buffer, "%lf", &ms), 1) << buffer;
        EXPECT_GE(ms, previous);
        EXPECT_NE(std::string(buffer).find('.'), std::string::npos);
        previous = ms;
        ++lines;
    }
    EXPECT_EQ(lines, 20);
    std::fclose(file);
}

const std::vector<std::uint8_t> kBlockAck = {0x02, 0x02, 0x06, 0x06, 0x00, 0x03};
const std::vector<std::uint8_t> kBlockNak = {0x02, 0x02, 0x15, 0x15, 0x00, 0x03};

TEST(ExchangeCounter, CountsAcknowledgedBlocksOfEachPassAndTheBytes)
{
    RecordingObserver next;
    ExchangeCounter counter(&next);
    counter.portOpened("/dev/ttyUSB2");
    const auto programMode = buildCommandFrame(CMD_PROGRAM_MODE, {});
    counter.bytesWritten(programMode, true);
    for (int i = 0; i < 3; ++i) {
        counter.bytesWritten(dataBlockFrame(0x5A, false), true);
        counter.bytesRead(kBlockAck, kBlockAck.size(), "");
    }
    counter.bytesWritten(dataBlockFrame(0x5A, false), true);
    counter.bytesRead(kBlockNak, kBlockNak.size(), "");                       // refused
    counter.bytesWritten(dataBlockFrame(0x5A, false), true);
    counter.bytesRead(std::span<const std::uint8_t>(kBlockAck).first(4), 6, "timed out");   // short
    counter.bytesWritten(dataBlockFrame(0x5A, false), false);                  // not taken
    counter.bytesRead(kBlockAck, kBlockAck.size(), "");
    counter.bytesRead(kBlockAck, kBlockAck.size(), "");                        // no block before it
    EXPECT_EQ(counter.blocksWritten(), 3);
    EXPECT_EQ(counter.blocksVerified(), 0);

    counter.bytesWritten(buildCommandFrame(CMD_VERIFY, {}), true);
    counter.bytesWritten(dataBlockFrame(0x5A, true), true);
    counter.bytesRead(kBlockAck, kBlockAck.size(), "");
    EXPECT_EQ(counter.blocksWritten(), 3);
    EXPECT_EQ(counter.blocksVerified(), 1);

    const std::uint64_t sent = programMode.size() + 6 * 260 + buildCommandFrame(CMD_VERIFY, {}).size();
    EXPECT_EQ(counter.bytesSent(), sent);   // the write that was not taken does not count
    EXPECT_EQ(counter.bytesReceived(), 7u * 6 + 4);
    EXPECT_EQ(counter.lastOpenedPort(), "/dev/ttyUSB2");
    EXPECT_EQ(next.events.size(), 18u);   // every one of the 18 events above was passed on

    // A new identification opens the port again (a check and then the update): the blocks
    // count from there, and the next ones are written ones; the bytes go on adding up.
    counter.portOpened("/dev/ttyUSB2");
    counter.bytesWritten(dataBlockFrame(0x5A, false), true);
    counter.bytesRead(kBlockAck, kBlockAck.size(), "");
    EXPECT_EQ(counter.blocksWritten(), 1);
    EXPECT_EQ(counter.blocksVerified(), 0);
    EXPECT_EQ(counter.bytesSent(), sent + 260);
}

}  // namespace
