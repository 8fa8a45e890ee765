// SPDX-License-Identifier: MIT
// The port trace and the exchange counter.
#include "link/trace.h"

#include "link/commands.h"
#include "link/frames.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kBlockDataBytes = kDataBlockFrameSize - 4;   // head 2, checksum, end byte
constexpr std::size_t kCommandCodeOffset = 2;

bool isDataBlockFrame(std::span<const std::uint8_t> bytes)
{
    return bytes.size() == kDataBlockFrameSize && bytes[0] == kStx && bytes[1] == kDataBlockLengthByte;
}

bool isCommandFrame(std::span<const std::uint8_t> bytes, std::uint8_t code)
{
    return bytes.size() > kCommandCodeOffset && bytes[0] == kSoh && bytes[kCommandCodeOffset] == code;
}

void appendHex(std::string& text, std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
}

}  // namespace

std::string traceBytes(std::span<const std::uint8_t> bytes)
{
    std::string text;
    if (isDataBlockFrame(bytes)) {
        appendHex(text, bytes.first(2));
        text += " [" + std::to_string(kBlockDataBytes) + " data bytes]";
        appendHex(text, bytes.last(2));
        return text;
    }
    appendHex(text, bytes);
    return text;
}

PortTrace::PortTrace(std::FILE* out) : out_(out), start_(std::chrono::steady_clock::now()) {}

void PortTrace::line(const std::string& text)
{
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start_;
    std::fprintf(out_, "%10.3f %s\n", elapsed.count(), text.c_str());
}

void PortTrace::portOpened(std::string_view path)
{
    line("open " + std::string(path));
    showWaits_ = true;
    portOpen_ = true;
}

void PortTrace::portOpenFailed(std::string_view path, std::string_view reason)
{
    line("open failed " + std::string(path) + ": " + std::string(reason));
}

void PortTrace::portClosed()
{
    line("close");
    std::fflush(out_);
    showWaits_ = true;   // for the one wait that may follow
    portOpen_ = false;
}

void PortTrace::speedChanged(std::uint32_t baud)
{
    line("speed " + std::to_string(baud));
}

void PortTrace::bytesWritten(std::span<const std::uint8_t> data, bool accepted)
{
    line(std::string(accepted ? "write " : "write failed ") + std::to_string(data.size()) + ": " + traceBytes(data));
}

void PortTrace::bytesRead(std::span<const std::uint8_t> received, std::size_t wanted, std::string_view failure)
{
    if (received.size() >= wanted) {
        line("read " + std::to_string(wanted) + ": " + traceBytes(received));
        return;
    }
    std::string text = "read " + std::to_string(received.size()) + " of " + std::to_string(wanted) + ", " +
                       (failure.empty() ? std::string("timed out") : std::string(failure));
    if (!received.empty()) text += ": " + traceBytes(received);
    line(text);
    std::fflush(out_);   // where a unit stops, the trace must be on disk even if the program is killed
}

void PortTrace::waited(int milliseconds)
{
    if (!showWaits_) return;
    line("wait " + std::to_string(milliseconds) + " ms");
    if (!portOpen_) showWaits_ = false;
}

void ExchangeCounter::portOpened(std::string_view path)
{
    lastOpenedPort_.assign(path);
    // The blocks of a connection: a check followed by the update counts the update's.
    blocksWritten_ = 0;
    blocksVerified_ = 0;
    verifyPass_ = false;
    blockAwaitingAck_ = false;
    if (next_ != nullptr) next_->portOpened(path);
}

void ExchangeCounter::portOpenFailed(std::string_view path, std::string_view reason)
{
    if (next_ != nullptr) next_->portOpenFailed(path, reason);
}

void ExchangeCounter::portClosed()
{
    if (next_ != nullptr) next_->portClosed();
}

void ExchangeCounter::speedChanged(std::uint32_t baud)
{
    if (next_ != nullptr) next_->speedChanged(baud);
}

void ExchangeCounter::bytesWritten(std::span<const std::uint8_t> data, bool accepted)
{
    if (accepted) bytesSent_ += data.size();
    if (isCommandFrame(data, CMD_VERIFY)) verifyPass_ = true;
    if (isCommandFrame(data, CMD_PROGRAM_MODE)) verifyPass_ = false;
    blockAwaitingAck_ = accepted && isDataBlockFrame(data);
    if (next_ != nullptr) next_->bytesWritten(data, accepted);
}

void ExchangeCounter::bytesRead(std::span<const std::uint8_t> received, std::size_t wanted, std::string_view failure)
{
    bytesReceived_ += received.size();
    if (blockAwaitingAck_) {
        const bool acknowledged = received.size() == wanted && wanted == kBlockAckSize &&
                                  std::equal(kBlockAckHead.begin(), kBlockAckHead.end(), received.begin());
        if (acknowledged) ++(verifyPass_ ? blocksVerified_ : blocksWritten_);
        blockAwaitingAck_ = false;
    }
    if (next_ != nullptr) next_->bytesRead(received, wanted, failure);
}

void ExchangeCounter::waited(int milliseconds)
{
    if (next_ != nullptr) next_->waited(milliseconds);
}
