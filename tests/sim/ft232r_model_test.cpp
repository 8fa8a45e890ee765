// SPDX-License-Identifier: MIT
// The FT232R model against the cases of FTDI's application note AN232B-04: a short reply
// waits for the latency timer (16 ms and 1 ms), a long one goes in 62-byte packets, the event
// character sends at once unless it is the first byte held, and the host takes one packet
// per 1 ms USB frame.
#include "sim/ft232r_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using Clock = Ft232rModel::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

const Clock::time_point kOrigin{};
constexpr auto kByteAt115200 = std::chrono::nanoseconds(86806);   // ten bits

Clock::time_point at(double ms) {
    return kOrigin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

// Feeds bytes as the line brings them at 115200 baud, the first one's stop bit at firstMs.
void receiveAtLineSpeed(Ft232rModel& chip, double firstMs, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) chip.receive(at(firstMs) + kByteAt115200 * static_cast<int>(i), bytes[i]);
}

std::vector<std::uint8_t> countingBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i + 0x40);
    return bytes;
}

const std::vector<std::uint8_t> kBlockAck = {0x02, 0x02, 0x06, 0x06, 0xF2, 0x03};

TEST(Ft232rModelTest, ShortReplyWaitsForTheTimerThatRunsOnWhileTheLineIsIdle) {
    Ft232rModel chip(16, kOrigin);
    // The timer ran out at 16 ms with nothing held (an empty packet); it runs out next at 32.
    receiveAtLineSpeed(chip, 20.0, kBlockAck);
    EXPECT_EQ(chip.nextDelivery(), at(32));
    EXPECT_TRUE(chip.takeDelivered(at(31.999)).empty());
    const auto packets = chip.takeDelivered(at(32));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].deliveredAt, at(32));
    EXPECT_EQ(packets[0].bytes, kBlockAck);
    EXPECT_EQ(chip.bytesHeld(), 0u);
    EXPECT_FALSE(chip.nextDelivery());
}

TEST(Ft232rModelTest, AtOneMillisecondAReplyGoesInTheNextFrameAndMaySplitAcrossTwo) {
    Ft232rModel chip(1, kOrigin);
    receiveAtLineSpeed(chip, 20.1, kBlockAck);   // last byte at 20.53 ms
    auto packets = chip.takeDelivered(at(25));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].deliveredAt, at(21));
    EXPECT_EQ(packets[0].bytes, kBlockAck);

    // Bytes at 30.80, 30.89, 30.97 go when the timer runs out at 31, the rest at 32.
    receiveAtLineSpeed(chip, 30.8, kBlockAck);
    packets = chip.takeDelivered(at(40));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].deliveredAt, at(31));
    EXPECT_EQ(packets[0].bytes, std::vector<std::uint8_t>(kBlockAck.begin(), kBlockAck.begin() + 3));
    EXPECT_EQ(packets[1].deliveredAt, at(32));
    EXPECT_EQ(packets[1].bytes, std::vector<std::uint8_t>(kBlockAck.begin() + 3, kBlockAck.end()));
}

TEST(Ft232rModelTest, LongReplyGoesIn62BytePacketsAndTheTimerRestartsAfterEach) {
    Ft232rModel chip(16, kOrigin);
    const std::vector<std::uint8_t> reply = countingBytes(100);
    receiveAtLineSpeed(chip, 20.0, reply);   // the 62nd byte at 25.30 ms, the last at 28.59
    const auto packets = chip.takeDelivered(at(100));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].deliveredAt, at(26));   // full: the next frame
    EXPECT_EQ(packets[0].bytes, std::vector<std::uint8_t>(reply.begin(), reply.begin() + 62));
    // The timer counts from the packet sent at 26, not from its run-out at 32.
    EXPECT_EQ(packets[1].deliveredAt, at(42));
    EXPECT_EQ(packets[1].bytes, std::vector<std::uint8_t>(reply.begin() + 62, reply.end()));
}

TEST(Ft232rModelTest, EventCharacterSendsAtOnceUnlessItIsTheFirstByteHeld) {
    Ft232rModel chip(16, kOrigin);
    chip.setEventCharacter(0x03);
    receiveAtLineSpeed(chip, 20.0, kBlockAck);   // ends in 03 at 20.43 ms
    auto packets = chip.takeDelivered(at(100));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].deliveredAt, at(21));
    EXPECT_EQ(packets[0].bytes, kBlockAck);

    // 03 alone in the buffer sends nothing: the timer (from 21) decides, at 37.
    receiveAtLineSpeed(chip, 30.0, {0x03});
    EXPECT_EQ(chip.nextDelivery(), at(37));
    receiveAtLineSpeed(chip, 30.1, {0x02});
    packets = chip.takeDelivered(at(100));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].deliveredAt, at(37));
    EXPECT_EQ(packets[0].bytes, (std::vector<std::uint8_t>{0x03, 0x02}));

    // Disabled again: the same reply waits for the timer.
    chip.setEventCharacter(std::nullopt);
    receiveAtLineSpeed(chip, 40.0, kBlockAck);
    EXPECT_EQ(chip.nextDelivery(), at(53));
}

TEST(Ft232rModelTest, HostTakesOnePacketPerUsbFrame) {
    Ft232rModel chip(16, kOrigin);
    const std::vector<std::uint8_t> burst = countingBytes(130);
    for (std::uint8_t byte : burst) chip.receive(at(20.1), byte);   // faster than any line
    const auto packets = chip.takeDelivered(at(100));
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].deliveredAt, at(21));
    EXPECT_EQ(packets[1].deliveredAt, at(22));
    EXPECT_EQ(packets[1].bytes.size(), 62u);
    EXPECT_EQ(packets[2].deliveredAt, at(22) + milliseconds(16));   // 6 bytes: the timer, from 22
    EXPECT_EQ(packets[2].bytes.size(), 6u);
}

TEST(Ft232rModelTest, NewLatencyEndsTheRunUnderWayAtItsNewLength) {
    Ft232rModel chip(16, kOrigin);
    EXPECT_EQ(chip.latencyMs(), 16);
    chip.setLatency(1);   // as the driver does on the host's low-latency request
    receiveAtLineSpeed(chip, 20.1, kBlockAck);
    EXPECT_EQ(chip.nextDelivery(), at(21));
    chip.setLatency(0);
    EXPECT_EQ(chip.latencyMs(), 1);
    chip.setLatency(1000);
    EXPECT_EQ(chip.latencyMs(), 255);
}

// The update's exchange: a 260-byte frame at 115200 baud after a 5 ms pause, and a 6-byte
// acknowledgement the host waits for. The timer restarts with the packet that carries each
// acknowledgement, so its phase locks onto the exchange and every reply waits the same:
// 3.9 ms at 16 ms (32 - 28.09), 0.9 ms at 1 ms.
TEST(Ft232rModelTest, ExchangeCycleLocksTheTimersPhase) {
    for (const auto& [latencyMs, expectedWaitUs] : {std::pair{16, 3910}, std::pair{1, 910}}) {
        Ft232rModel chip(latencyMs, kOrigin);
        Clock::time_point hostHasReply = at(0.3);
        Clock::duration waited{};
        constexpr int kExchanges = 50;
        for (int i = 0; i < kExchanges; ++i) {
            const Clock::time_point frameSent = hostHasReply + milliseconds(5);
            const Clock::time_point replyStart = frameSent + kByteAt115200 * 260;
            for (std::size_t b = 0; b < kBlockAck.size(); ++b) {
                chip.receive(replyStart + kByteAt115200 * static_cast<int>(b + 1), kBlockAck[b]);
            }
            const Clock::time_point lastByte = replyStart + kByteAt115200 * 6;
            // The host reads until it has all six bytes (at 1 ms they come in two packets).
            while (chip.bytesHeld() > 0) {
                const auto delivery = chip.nextDelivery();
                ASSERT_TRUE(delivery);
                ASSERT_FALSE(chip.takeDelivered(*delivery).empty());
                hostHasReply = *delivery;
            }
            if (i > 0) waited += hostHasReply - lastByte;   // the first one finds the phase
        }
        const auto meanUs = std::chrono::duration_cast<microseconds>(waited / (kExchanges - 1)).count();
        EXPECT_NEAR(meanUs, expectedWaitUs, 5) << "latency " << latencyMs << " ms";
    }
}

}  // namespace
