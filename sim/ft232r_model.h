// SPDX-License-Identifier: MIT
// The receive side of an FTDI FT232R USB-serial converter, as FTDI's application note
// AN232B-04 ("Data throughput, latency and handshaking") describes it: when the bytes that
// arrive from the line reach the PC. The simulated converter puts it between the simulated
// unit's replies and the host, so that the benchmarks see what a real cable does to the
// update's short replies.
//
// The chip holds the bytes it receives and hands them to the PC in a USB packet of at most
// 62 data bytes (64 with its two status bytes):
//   - when 62 bytes are held;
//   - when the event character arrives, if it is enabled and is not the first byte held;
//   - when its latency timer runs out. The timer counts from the last packet sent, and a
//     packet goes when it runs out even with nothing in it (the two status bytes alone), so
//     that the timer starts again.
// The PC polls the chip once per 1 ms USB frame and takes at most one packet per frame.
//
// The model is a pure function of the times it is given: bytes with their arrival times go
// in, packets with the times the host takes them come out. It leaves out what a real bus
// adds: other traffic on the bus, the host controller's own scheduling, other devices.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class Ft232rModel {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kPacketDataBytes = 62;
    static constexpr Clock::duration kUsbFrame = std::chrono::milliseconds(1);
    static constexpr int kDefaultLatencyMs = 16;   // the chip's and the drivers' default
    static constexpr int kMinLatencyMs = 1;
    static constexpr int kMaxLatencyMs = 255;

    struct Packet {
        Clock::time_point deliveredAt;     // the USB frame in which the host takes it
        std::vector<std::uint8_t> bytes;   // never empty: packets without data are not handed out
    };

    // USB frames begin at frameOrigin + n ms; the latency timer starts there, as if a packet
    // had just been sent. latencyMs is clamped to 1..255.
    Ft232rModel(int latencyMs, Clock::time_point frameOrigin);

    // A new latency timer value (the driver's request); the timer run under way ends at its
    // new length.
    void setLatency(int latencyMs);
    int latencyMs() const { return static_cast<int>(latency_ / std::chrono::milliseconds(1)); }

    // The event character: a packet goes as soon as it arrives (not as the first byte held).
    // Disabled by default, as the FTDI drivers leave it unless a program sets it.
    void setEventCharacter(std::optional<std::uint8_t> eventCharacter);

    // A byte has arrived from the line (its stop bit received) at arrival. Arrivals are taken
    // in order; one earlier than the last packet already made is counted as arriving then.
    void receive(Clock::time_point arrival, std::uint8_t byte);

    // When the host takes the next packet with data, if any data is held or on its way.
    std::optional<Clock::time_point> nextDelivery() const;

    // The packets with data that the host has taken by now, in order.
    std::vector<Packet> takeDelivered(Clock::time_point now);

    // Bytes received and not yet taken by the host.
    std::size_t bytesHeld() const;

private:
    // Runs the timer up to time t: whenever it runs out before t (at t too when inclusive),
    // the bytes held go in a packet, or an empty packet restarts the timer.
    void runTimer(Clock::time_point t, bool inclusive);
    // Puts the bytes held into a packet that is ready at readyAt.
    void sendHeld(Clock::time_point readyAt);
    Clock::time_point frameAtOrAfter(Clock::time_point t) const;

    Clock::duration latency_;
    Clock::time_point frameOrigin_;
    Clock::time_point lastSent_;          // the frame of the last packet made (maybe ahead of now)
    Clock::time_point lastArrival_;
    std::optional<std::uint8_t> eventCharacter_;
    std::vector<std::uint8_t> held_;      // the chip's receive buffer
    std::deque<Packet> packets_;          // made, not yet taken by the host
};
