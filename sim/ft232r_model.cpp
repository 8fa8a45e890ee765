// SPDX-License-Identifier: MIT
// The FT232R's receive buffer, latency timer and USB frames (see ft232r_model.h).
#include "sim/ft232r_model.h"

#include <algorithm>

namespace {

Ft232rModel::Clock::duration latencyOf(int latencyMs) {
    return std::chrono::milliseconds(std::clamp(latencyMs, Ft232rModel::kMinLatencyMs, Ft232rModel::kMaxLatencyMs));
}

}  // namespace

Ft232rModel::Ft232rModel(int latencyMs, Clock::time_point frameOrigin)
    : latency_(latencyOf(latencyMs)), frameOrigin_(frameOrigin), lastSent_(frameOrigin), lastArrival_(frameOrigin) {}

void Ft232rModel::setLatency(int latencyMs) { latency_ = latencyOf(latencyMs); }

void Ft232rModel::setEventCharacter(std::optional<std::uint8_t> eventCharacter) { eventCharacter_ = eventCharacter; }

Ft232rModel::Clock::time_point Ft232rModel::frameAtOrAfter(Clock::time_point t) const {
    if (t <= frameOrigin_) return frameOrigin_;
    const auto frames = (t - frameOrigin_ + kUsbFrame - Clock::duration(1)) / kUsbFrame;
    return frameOrigin_ + frames * kUsbFrame;
}

void Ft232rModel::sendHeld(Clock::time_point readyAt) {
    Clock::time_point at = frameAtOrAfter(readyAt);
    if (at <= lastSent_) at = lastSent_ + kUsbFrame;   // one packet per frame
    if (!held_.empty()) {
        packets_.push_back(Packet{at, std::move(held_)});
        held_.clear();
    }
    lastSent_ = at;
}

void Ft232rModel::runTimer(Clock::time_point t, bool inclusive) {
    for (;;) {
        const Clock::time_point runsOut = lastSent_ + latency_;
        if (runsOut > t || (!inclusive && runsOut == t)) return;
        if (!held_.empty()) {
            sendHeld(runsOut);
            continue;
        }
        // Nothing held: empty packets restart the timer at every run-out up to t.
        auto runs = (t - lastSent_) / latency_;
        if (!inclusive && lastSent_ + runs * latency_ == t) --runs;
        lastSent_ = frameAtOrAfter(lastSent_ + runs * latency_);
    }
}

void Ft232rModel::receive(Clock::time_point arrival, std::uint8_t byte) {
    arrival = std::max(arrival, lastArrival_);
    lastArrival_ = arrival;
    // A packet the timer makes at the very time a byte arrives still takes that byte.
    runTimer(arrival, /*inclusive=*/false);
    held_.push_back(byte);
    const bool eventCharacter = eventCharacter_ && byte == *eventCharacter_ && held_.size() > 1;
    if (held_.size() == kPacketDataBytes || eventCharacter) sendHeld(arrival);
}

std::optional<Ft232rModel::Clock::time_point> Ft232rModel::nextDelivery() const {
    if (!packets_.empty()) return packets_.front().deliveredAt;
    if (!held_.empty()) return frameAtOrAfter(lastSent_ + latency_);
    return std::nullopt;
}

std::vector<Ft232rModel::Packet> Ft232rModel::takeDelivered(Clock::time_point now) {
    // Only the packet that takes the bytes held is made here; the empty ones after it are
    // left to the next arrival, whose time (not now) decides which of them it misses.
    if (!held_.empty() && lastSent_ + latency_ <= now) sendHeld(lastSent_ + latency_);
    std::vector<Packet> delivered;
    while (!packets_.empty() && packets_.front().deliveredAt <= now) {
        delivered.push_back(std::move(packets_.front()));
        packets_.pop_front();
    }
    return delivered;
}

std::size_t Ft232rModel::bytesHeld() const {
    std::size_t count = held_.size();
    for (const Packet& packet : packets_) count += packet.bytes.size();
    return count;
}
