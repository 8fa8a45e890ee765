// SPDX-License-Identifier: MIT
// vf-bench-waits: the host's own share of every frame, without the simulated unit or a
// second process: how late the serial layer's pause before a frame (waitMs) ends and the
// processor time it takes, and how long after a reply's last byte has reached the line a
// read of it returns. The reply is
// written into a pty by a thread that paces its six bytes at 115200 baud, as a block
// acknowledgement comes; and how long the write of a data block frame into the pty takes.
//
//   vf-bench-waits [--frames N]
//
// Prints mean, median, 90th percentile and highest of both, in microseconds.
#include <poll.h>
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
constexpr int kDrainPollMs = 50;

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

// Processor time the calling thread has used, user and system.
double threadCpuMicros() {
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) * 1e6 + static_cast<double>(used.tv_nsec) / 1e3;
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
    const double cpuBefore = threadCpuMicros();
    for (int i = 0; i < frames; ++i) {
        const auto before = Clock::now();
        waitMs(kFramePauseMs);
        pauseLate.push_back(microsBetween(before + std::chrono::milliseconds(kFramePauseMs), Clock::now()));
    }
    const double pauseCpu = (threadCpuMicros() - cpuBefore) / static_cast<double>(frames);
    printFigures("pause of 5 ms, late by", pauseLate);
    std::printf("pause of 5 ms, processor time: %.1f us each (%.2f %% of the pause)\n", pauseCpu,
                pauseCpu / (kFramePauseMs * 10.0));

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

    // The frame's write: a data block frame handed to the pty after a pause, with the unit's
    // side drained by another thread as the unit would. The system call does the pty's work
    // of passing the bytes on, so this is the kernel's share inside the host's write.
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        std::array<std::uint8_t, 4096> buffer{};
        while (draining.load()) {
            pollfd in{master, POLLIN, 0};
            if (poll(&in, 1, kDrainPollMs) > 0 && read(master, buffer.data(), buffer.size()) < 0) break;
        }
    });
    const std::array<std::uint8_t, 256> block{};   // one block of data
    const auto frame = buildDataBlockFrame(block, false);
    std::vector<double> writeTook;
    for (int i = 0; i < frames; ++i) {
        waitMs(kFramePauseMs);
        const auto before = Clock::now();
        if (portWrite(frame)) {
            writeTook.push_back(microsBetween(before, Clock::now()));
        } else {
            ++failed;
        }
    }
    draining.store(false);
    drain.join();

    portClose();
    close(master);
    close(slave);
    printFigures("read of a paced 6-byte reply, returned after its last byte by", readLate);
    printFigures("write of a 260-byte data block frame into the pty, took", writeTook);
    if (failed > 0) std::printf("failed reads or writes: %d\n", failed);
    return failed == 0 ? 0 : 1;
}
