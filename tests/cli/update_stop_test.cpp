// SPDX-License-Identifier: MIT
// What Ctrl-C, SIGTERM and SIGHUP do to a running update: the decision between warning and
// stopping (with times given, not waited for), and the signal handlers themselves, which
// count while an update is guarded and end the program otherwise.
#include "cli/cli_texts.h"
#include "update/interrupts.h"
#include "update/stop_decision.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace {

using Action = UpdateStop::Action;
using std::chrono::milliseconds;

const UpdateStop::Clock::time_point t0{std::chrono::hours(1)};

InterruptCounts counts(int interrupts, int terminations = 0, int hangUps = 0) {
    return InterruptCounts{interrupts, terminations, hangUps};
}

}  // namespace

TEST(UpdateStop, FirstInterruptWarnsSecondWithinTheWindowStops) {
    UpdateStop stop;
    EXPECT_EQ(stop.decide(counts(0), t0), Action::None);
    EXPECT_EQ(stop.decide(counts(1), t0), Action::Warn);
    EXPECT_FALSE(stop.stopped());
    EXPECT_EQ(stop.decide(counts(1), t0 + milliseconds(100)), Action::None);   // nothing new
    EXPECT_EQ(stop.decide(counts(2), t0 + kSecondInterruptWindow), Action::Stop);
    EXPECT_EQ(stop.exitStatus(), kExitInterrupted);
    // Once stopped, more signals change nothing.
    EXPECT_EQ(stop.decide(counts(3, 1), t0 + kSecondInterruptWindow), Action::None);
    EXPECT_EQ(stop.exitStatus(), kExitInterrupted);
}

TEST(UpdateStop, InterruptAfterTheWindowWarnsAgain) {
    UpdateStop stop;
    EXPECT_EQ(stop.decide(counts(1), t0), Action::Warn);
    const auto late = t0 + kSecondInterruptWindow + milliseconds(1);
    EXPECT_EQ(stop.decide(counts(2), late), Action::Warn);
    EXPECT_FALSE(stop.stopped());
    // The window now runs from the second warning.
    EXPECT_EQ(stop.decide(counts(3), late + milliseconds(4900)), Action::Stop);
    EXPECT_EQ(stop.exitStatus(), kExitInterrupted);
}

// A check writes nothing: the first Ctrl-C stops it. Once --skip-current's update begins, the
// unit's memory is at stake again and the first one only warns.
TEST(UpdateStop, WithNothingAtStakeTheFirstInterruptStops) {
    UpdateStop check;
    check.setMemoryAtStake(false);
    EXPECT_EQ(check.decide(counts(1), t0), Action::Stop);
    EXPECT_EQ(check.exitStatus(), kExitInterrupted);

    UpdateStop skipCurrent;
    skipCurrent.setMemoryAtStake(false);
    EXPECT_EQ(skipCurrent.decide(counts(0), t0), Action::None);
    skipCurrent.setMemoryAtStake(true);
    EXPECT_EQ(skipCurrent.decide(counts(1), t0), Action::Warn);
    EXPECT_FALSE(skipCurrent.stopped());
}

TEST(UpdateStop, TwoInterruptsBetweenLooksStopAtOnce) {
    UpdateStop stop;
    EXPECT_EQ(stop.decide(counts(2), t0), Action::Stop);
    EXPECT_EQ(stop.exitStatus(), kExitInterrupted);
}

TEST(UpdateStop, TerminationStopsWithoutWarningAndHangUpsChangeNothing) {
    UpdateStop hungUp;
    EXPECT_EQ(hungUp.decide(counts(0, 0, 3), t0), Action::None);
    EXPECT_FALSE(hungUp.stopped());
    EXPECT_EQ(hungUp.exitStatus(), 0);

    UpdateStop terminated;
    EXPECT_EQ(terminated.decide(counts(0, 0, 1), t0), Action::None);
    EXPECT_EQ(terminated.decide(counts(0, 1, 1), t0), Action::Stop);
    EXPECT_EQ(terminated.exitStatus(), kExitTerminated);

    // A termination after a warning stops too, as a termination.
    UpdateStop warnedFirst;
    EXPECT_EQ(warnedFirst.decide(counts(1), t0), Action::Warn);
    EXPECT_EQ(warnedFirst.decide(counts(1, 1), t0 + milliseconds(1)), Action::Stop);
    EXPECT_EQ(warnedFirst.exitStatus(), kExitTerminated);
}

TEST(Interrupts, GuardedSignalsAreCountedNotFatal) {
    EXPECT_EXIT(
        {
            installInterruptHandlers();
            setUpdateGuarded(true);
            std::raise(SIGINT);
            std::raise(SIGINT);
            std::raise(SIGTERM);
            std::raise(SIGHUP);
            std::raise(SIGPIPE);   // ignored for good
            const InterruptCounts seen = interruptCounts();
            std::_Exit(seen.interrupts == 2 && seen.terminations == 1 && seen.hangUps == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Interrupts, UnguardedSignalsEndTheProgramAsWithoutHandlers) {
    EXPECT_EXIT(
        {
            installInterruptHandlers();
            setUpdateGuarded(true);
            setUpdateGuarded(false);
            std::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EXIT(
        {
            installInterruptHandlers();
            std::raise(SIGINT);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}
