// SPDX-License-Identifier: MIT
// The pairing of the host's and the unit's times of the block frames, on made-up time lines
// whose every share is known.
#include "bench/frame_breakdown.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr long long kUs = 1000;   // the files count nanoseconds
constexpr long long kFrameWireNs = 22569444;   // 260 bytes at 115200 baud
constexpr long long kReplyWireNs = 520833;     // 6 bytes
constexpr long long kPauseNs = 5000 * kUs;

class FrameBreakdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vf-breakdown-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Frames k = 0..count-1, each with the same known shares (in us): the pty hands the frame
    // over after handOut, the unit takes it up late by takenLate and hands its reply's last
    // byte over late by replyLate, the pty hands that to the host after handIn, the host
    // begins its pause after turn and writes the next frame pauseOver after the pause's end.
    void writeTimeLines(int count, long long handOut, long long takenLate, long long replyLate, long long handIn,
                        long long turn, long long pauseOver) {
        std::ofstream host(dir_ / "host.txt");
        std::ofstream unit(dir_ / "unit.txt");
        host << "wait 5 100\nwrite 9 200\nread 5 300\n";   // a command frame first: not a block
        unit << "frame 9 210 220 5 230 290\n";
        long long write = 1000000;
        for (int k = 0; k < count; ++k) {
            host << "write 260 " << write << '\n';
            const long long start = write + handOut * kUs;
            const long long wireEnd = start + kFrameWireNs;
            const long long last = wireEnd + kReplyWireNs + replyLate * kUs;   // takenLate is a part of it
            unit << "frame 260 " << start << ' ' << wireEnd + takenLate * kUs << " 6 " << wireEnd << ' ' << last << '\n';
            const long long read = last + handIn * kUs;
            host << "read 6 " << read << '\n';
            const long long pause = read + turn * kUs;
            host << "wait 5 " << pause << '\n';
            write = pause + kPauseNs + pauseOver * kUs;
        }
        host << "write 9 " << write << '\n';   // after the last block: a command, no pause share
    }

    fs::path dir_;
};

TEST_F(FrameBreakdownTest, EveryShareOfEveryFrameIsFound) {
    writeTimeLines(4, 70, 30, 40, 90, 3, 60);
    bench::FrameBreakdown breakdown;
    std::string error;
    ASSERT_TRUE(bench::readFrameBreakdown(dir_ / "host.txt", dir_ / "unit.txt", breakdown, error)) << error;
    EXPECT_EQ(breakdown.frames, 4);
    const std::vector<double> expected = {70, 30, 40, 90, 3, 60};
    ASSERT_EQ(breakdown.shares.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const bench::Share& share = breakdown.shares[i];
        // The pause shares stop at the last block: no block frame follows it.
        ASSERT_EQ(share.micros.size(), i >= 4 ? 3u : 4u) << share.what;
        for (double micros : share.micros) EXPECT_NEAR(micros, expected[i], 0.01) << share.what;
    }
    // The shares that are added up do not overlap: together they are each frame's time beyond
    // its floor (write to next write, less the frame's and the reply's wire time and the pause).
    double added = 0;
    for (const bench::Share& share : breakdown.shares) {
        if (!share.part) added += share.micros.front();
    }
    EXPECT_NEAR(added, 70 + 40 + 90 + 3 + 60, 0.01);
    EXPECT_NEAR(breakdown.seconds("pty"), 4 * (70 + 90) / 1e6, 1e-8);
    EXPECT_NEAR(breakdown.seconds("unit"), 4 * 40 / 1e6, 1e-8);   // the take-up is a part of the reply's lateness
    EXPECT_NEAR(breakdown.seconds("host"), 3 * (3 + 60) / 1e6, 1e-8);
}

TEST_F(FrameBreakdownTest, TimeLinesThatDoNotPairUpAreRefused) {
    writeTimeLines(3, 70, 50, 40, 90, 3, 60);
    std::ofstream(dir_ / "unit.txt", std::ios::app) << "frame 260 1 2 6 3 4\n";   // a block the host never wrote
    bench::FrameBreakdown breakdown;
    std::string error;
    EXPECT_FALSE(bench::readFrameBreakdown(dir_ / "host.txt", dir_ / "unit.txt", breakdown, error));
    EXPECT_NE(error.find("the host wrote 3 block frames, the unit took up 4"), std::string::npos) << error;

    EXPECT_FALSE(bench::readFrameBreakdown(dir_ / "host.txt", dir_ / "missing.txt", breakdown, error));
    EXPECT_NE(error.find("no times"), std::string::npos) << error;
}

}  // namespace
