// SPDX-License-Identifier: MIT
// What a converter's latency timer costs an update (see latency_timer.h).
#include "link/latency_timer.h"

#include "link/frames.h"
#include "link/serial.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kBitsPerByte = 10.0;        // start bit, 8 data bits, stop bit
constexpr int kBlockAckBytes = 6;
constexpr int kPassesPerUpdate = 2;          // the write pass and the verify pass

// How long the reply of an exchange of cycleMs waits for a timer of latencyMs that started
// with the previous reply's packet.
double replyWaitMs(double cycleMs, int latencyMs)
{
    return std::ceil(cycleMs / latencyMs) * latencyMs - cycleMs;
}

}  // namespace

double latencyTimerCostSeconds(int latencyMs, int blockCount)
{
    latencyMs = std::clamp(latencyMs, kLatencyTimerMinMs, kLatencyTimerMaxMs);
    const double wireMs = (kDataBlockFrameSize + kBlockAckBytes) * kBitsPerByte * 1000.0 / kFastBaud;
    const double cycleMs = kFramePauseMs + wireMs;
    const double extraMs = replyWaitMs(cycleMs, latencyMs) - replyWaitMs(cycleMs, kLatencyTimerMinMs);
    return std::max(extraMs, 0.0) * kPassesPerUpdate * std::max(blockCount, 0) / 1000.0;
}
