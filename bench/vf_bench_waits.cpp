// vf-bench-waits: the host's own share of every frame, without the simulated unit or a
// second process: how late the serial layer's pause before a frame (waitMs) ends, and how
// long after a reply's last byte has reached the line a read of it returns. The reply is
// written into a pty by a thread that paces its six bytes at 115200 baud, as a block
// acknowledgement comes.
//
//   vf-bench-waits [--frames N]
//
// Prints mean, median, 90th percentile and highest of both, in microseconds.
#include <pty.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "link/frames.h"
#include "link/serial.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultFrames = 1000;
constexpr unsigned long kWriterTimerSlackNs = 1;
constexpr auto kByteWireTime = std::chrono::nanoseconds(86806);   // 10 bits at 115200 baud
constexpr auto kReaderSettle = std::chrono::milliseconds(1);      // the read is waiting by then

void sleepUntil(Clock::time_point when) {
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const timespec until{static_cast<time_t>(seconds.count()), static_cast<long>((sinceEpoch - seconds).count())};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

void printFigures(const char* what, std::vector<double> micros) {
    if (micros.empty()) return;
    std::sort(micros.begin(), micros.end());
    const double mean = std::accumulate(micros.begin(), micros.end(), 0.0) / static_cast<double>(micros.size());
    std::printf("%s (%zu): mean %.1f us, median %.1f us, 90th percentile %.1f us, highest %.1f us\n", what,
                micros.size(), mean, micros[micros.size() / 2], micros[micros.size() * 9 / 10], micros.back());
}

double microsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    int frames = kDefaultFrames;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: vf-bench-waits [--frames N]\n");
            return 2;
        }
    }

    std::vector<double> pauseLate;
    for (int i = 0; i < frames; ++i) {
        const auto before = Clock::now();
        waitMs(kFramePauseMs);
        pauseLate.push_back(microsBetween(before + std::chrono::milliseconds(kFramePauseMs), Clock::now()));
    }
    printFigures("pause of 5 ms, late by", pauseLate);

    int master = -1, slave = -1;
    std::array<char, 128> slaveName{};
    if (openpty(&master, &slave, slaveName.data(), nullptr, nullptr) != 0) {
        std::perror("vf-bench-waits: openpty");
        return 2;
    }
    termios settings{};
    tcgetattr(master, &settings);
    cfmakeraw(&settings);
    tcsetattr(master, TCSANOW, &settings);
    if (!portOpen(0, slaveName.data(), kPortByName)) {
        std::fprintf(stderr, "vf-bench-waits: cannot open %s\n", slaveName.data());
        return 2;
    }

    // The writer plays the unit: on each request it lets the read start waiting, then hands
    // the six bytes to the line one wire time apart and notes when the last one went.
    std::atomic<int> requested{0};
    std::atomic<int> answered{0};
    std::vector<Clock::time_point> lastByteAt(static_cast<std::size_t>(frames));
    std::thread writer([&] {
        prctl(PR_SET_TIMERSLACK, kWriterTimerSlackNs, 0, 0, 0);
        const std::array<std::uint8_t, kBlockAckSize> reply{0x02, 0x02, 0x06, 0x06, 0xF2, 0x03};
        for (int i = 0; i < frames; ++i) {
            requested.wait(i);
            const auto start = Clock::now() + kReaderSettle;
            for (std::size_t b = 0; b < reply.size(); ++b) {
                sleepUntil(start + kByteWireTime * static_cast<int>(b + 1));
                if (write(master, &reply[b], 1) != 1) std::perror("vf-bench-waits: write");
            }
            lastByteAt[static_cast<std::size_t>(i)] = Clock::now();
            answered.store(i + 1);
        }
    });

    std::vector<double> readLate;
    int failed = 0;
    for (int i = 0; i < frames; ++i) {
        requested.store(i + 1);
        requested.notify_one();
        const bool ok = readBlockAck();
        const auto returned = Clock::now();
        while (answered.load() < i + 1) std::this_thread::yield();
        if (ok) {
            readLate.push_back(microsBetween(lastByteAt[static_cast<std::size_t>(i)], returned));
        } else {
            ++failed;
        }
    }
    writer.join();
    portClose();
    close(master);
    close(slave);
    printFigures("read of a paced 6-byte reply, returned after its last byte by", readLate);
    if (failed > 0) std::printf("failed reads: %d\n", failed);
    return failed == 0 ? 0 : 1;
}
