// SPDX-License-Identifier: MIT
// Observers of the serial port for support and reports: PortTrace writes every operation
// on the port as one line of text, ExchangeCounter counts the traffic and the data blocks
// the unit acknowledged. Both are PortObservers (link/serial.h) and are off unless a front
// end installs them.
#pragma once

#include "link/serial.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

// One line per event, each starting with the milliseconds since the trace began (monotonic
// clock, three decimals):
//   open /dev/ttyUSB0 | open failed PATH: REASON | close | speed 115200 | wait 5 ms
//   write 5: 01 01 00 FF 03          (a data block: write 260: 02 00 [256 data bytes] CS END)
//   read 5: 02 01 06 F9 03           (short: read 0 of 5, timed out  /  read 2 of 6, REASON: ..)
//   write failed 5: ...              (the platform did not take all of it)
class PortTrace final : public PortObserver {
public:
    // Writes to out, which must stay open while the trace is installed.
    explicit PortTrace(std::FILE* out);

    void portOpened(std::string_view path) override;
    void portOpenFailed(std::string_view path, std::string_view reason) override;
    void portClosed() override;
    void speedChanged(std::uint32_t baud) override;
    void bytesWritten(std::span<const std::uint8_t> data, bool accepted) override;
    void bytesRead(std::span<const std::uint8_t> received, std::size_t wanted, std::string_view failure) override;
    void waited(int milliseconds) override;

private:
    void line(const std::string& text);

    std::FILE* out_;
    std::chrono::steady_clock::time_point start_;
    // Waits are shown while the port is open and once after it closed (the pause after a
    // failed identification); the worker's idle pauses in between are left out.
    bool showWaits_ = false;
    bool portOpen_ = false;
};

// The bytes as upper-case hex pairs separated by spaces; a data block frame (02 00 and 256
// data bytes) as its head, "[256 data bytes]", its checksum and end byte.
std::string traceBytes(std::span<const std::uint8_t> bytes);

// Counts what crossed the line and the data blocks the unit acknowledged, written and
// verified apart (the verify command starts the verify pass). The bytes are those of the
// whole run; the blocks those of the last connection (opening the port starts them over).
// Passes every event on to next, when there is one, so that a trace can be kept as well.
class ExchangeCounter final : public PortObserver {
public:
    explicit ExchangeCounter(PortObserver* next = nullptr) : next_(next) {}

    void portOpened(std::string_view path) override;
    void portOpenFailed(std::string_view path, std::string_view reason) override;
    void portClosed() override;
    void speedChanged(std::uint32_t baud) override;
    void bytesWritten(std::span<const std::uint8_t> data, bool accepted) override;
    void bytesRead(std::span<const std::uint8_t> received, std::size_t wanted, std::string_view failure) override;
    void waited(int milliseconds) override;

    std::uint64_t bytesSent() const { return bytesSent_; }
    std::uint64_t bytesReceived() const { return bytesReceived_; }
    int blocksWritten() const { return blocksWritten_; }
    int blocksVerified() const { return blocksVerified_; }
    // The last port that opened; empty when none did.
    const std::string& lastOpenedPort() const { return lastOpenedPort_; }

private:
    PortObserver* next_;
    std::uint64_t bytesSent_ = 0;
    std::uint64_t bytesReceived_ = 0;
    int blocksWritten_ = 0;
    int blocksVerified_ = 0;
    bool verifyPass_ = false;
    bool blockAwaitingAck_ = false;
    std::string lastOpenedPort_;
};
