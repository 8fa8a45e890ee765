// SPDX-License-Identifier: MIT
// The event channel under its real use: the worker thread and the main thread send events
// at the same time into a pipe, and the reader gets every event as one whole line.
#include "cli/event_channel.h"
#include "cli/update_events.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

TEST(EventChannel, EventsFromTwoThreadsArriveAsWholeLines)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    constexpr int kEventsPerThread = 2000;
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) received.append(buffer, n);
    });
    {
        EventChannel channel;
        std::string error;
        ASSERT_TRUE(channel.open(std::to_string(pipeFds[1]), error)) << error;
        UnitEventLog log(&channel);
        const auto send = [&log](const char* name) {
            for (int block = 0; block < kEventsPerThread; ++block) {
                log.send(Json{{"event", name}, {"block", block}, {"acknowledged", true}});
            }
        };
        std::thread worker(send, event::kBlockWritten);
        send(event::kBlockVerified);
        worker.join();
        const UnitState state = log.state();
        EXPECT_EQ(state.blocksWritten(), kEventsPerThread);
        EXPECT_EQ(state.blocksVerified(), kEventsPerThread);
    }
    ::close(pipeFds[1]);
    reader.join();
    ::close(pipeFds[0]);

    LineReader lines(kMaxEventLineBytes);
    UnitState state;
    int count = 0;
    lines.take(received, [&](std::string_view line) {
        EXPECT_TRUE(state.takeLine(line)) << line;
        ++count;
    });
    EXPECT_EQ(count, 2 * kEventsPerThread);
    EXPECT_EQ(state.blocksWritten(), kEventsPerThread);
    EXPECT_EQ(state.blocksVerified(), kEventsPerThread);
}

TEST(EventChannel, AReaderThatGoesAwayCostsOnlyTheEvents)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ::close(pipeFds[0]);
    EventChannel channel;
    std::string error;
    ASSERT_TRUE(channel.open(std::to_string(pipeFds[1]), error)) << error;
    ::signal(SIGPIPE, SIG_IGN);   // as the program does at start
    channel.send("{\"event\":\"programMode\"}");   // EPIPE: given up, no crash
    channel.send("{\"event\":\"programMode\"}");
    ::close(pipeFds[1]);
}

}  // namespace
