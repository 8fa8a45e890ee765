// SPDX-License-Identifier: MIT
// libFuzzer target for the handling of what the device sends: the decoding of information
// and extra replies of any length and content, readReplyFrame on arbitrary bytes arriving
// over a pseudo-terminal, and the refusal of data block indexes outside the image.
// Every read is given enough bytes to complete, so no input waits out the read limit.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "files/firmware_image.h"
#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"

namespace {

constexpr std::size_t kMaxLineBytes = 1024;   // stays well inside the tty's input buffer
int master = -1;

void check(bool condition) {
    if (!condition) std::abort();
}

void writeAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(master, data, size);
        check(n > 0);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void readAllFromMaster(std::size_t size) {
    std::uint8_t buffer[512];
    while (size > 0) {
        pollfd pfd{master, POLLIN, 0};
        check(::poll(&pfd, 1, 2000) == 1);
        const ssize_t n = ::read(master, buffer, std::min(size, sizeof buffer));
        check(n > 0);
        size -= static_cast<std::size_t>(n);
    }
}

void fuzzDecoding(const std::uint8_t* data, std::size_t size) {
    ReplyFrame reply;
    reply.length = size > 0 ? data[0] : 0;   // any length, also beyond the buffer's 98
    if (size > 1) std::copy_n(data + 1, std::min(size - 1, reply.bytes.size()), reply.bytes.begin());

    resetProtocolState();
    beginIdentification();
    const std::uint32_t endAddress = decodeEndAddress(reply);
    check(endAddress <= 0x1FFFFF);
    applyInfoReply(reply);
    const auto& end = protocolState.endAddress;
    check(((std::uint32_t{end[0]} << 16) | (std::uint32_t{end[1]} << 8) | end[2]) == endAddress);
    check(protocolState.blockCount == static_cast<std::int32_t>((endAddress + 1) >> 8));
    const auto* zero = std::find(protocolState.deviceName.begin(), protocolState.deviceName.end(), 0);
    check(zero - protocolState.deviceName.begin() <= 41);
    for (auto it = protocolState.deviceName.begin(); it != zero; ++it) check(*it < 0x80);

    applyExtraReply(reply);
    const std::size_t copied = reply.length > kExtraDataSize ? kExtraDataSize - 1 : reply.length;
    check(std::equal(reply.bytes.begin(), reply.bytes.begin() + copied, protocolState.extraData.begin()));
    check(std::all_of(protocolState.extraData.begin() + copied, protocolState.extraData.end(),
                      [](std::uint8_t b) { return b == 0xFF; }));
}

void fuzzReplyFrame(const std::uint8_t* data, std::size_t size) {
    size = std::min(size, kMaxLineBytes);
    if (size < 2) return;
    std::vector<std::uint8_t> line(data, data + size);
    const std::size_t announced = line[1];
    const bool fits = announced <= kMaxReplyDataLength;
    // Complete a frame that the input cuts short, so the read never waits out its limit.
    if (fits && line.size() < announced + 4) line.resize(announced + 4, 0x00);
    writeAll(line.data(), line.size());

    ReplyFrame reply;
    const bool ok = readReplyFrame(reply);
    std::size_t consumed = 2;
    if (fits) {
        check(ok);
        check(reply.length == announced);
        check(std::equal(line.begin() + 2, line.begin() + 4 + static_cast<std::ptrdiff_t>(announced), reply.bytes.begin()));
        consumed += announced + 2;
    } else {
        check(!ok);
        check(reply.length == 0);
    }
    // Whatever the frame left is still in the line, in order.
    std::vector<std::uint8_t> rest(line.size() - consumed);
    check(portRead(rest));
    check(std::equal(rest.begin(), rest.end(), line.begin() + static_cast<std::ptrdiff_t>(consumed)));
}

void fuzzBlockIndex(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return;
    std::int32_t blockCount = 0;
    std::int32_t blockIndex = 0;
    std::memcpy(&blockCount, data, 4);
    std::memcpy(&blockIndex, data + 4, 4);
    protocolState.blockCount = blockCount;
    const bool inside = blockIndex >= 0 && blockIndex < std::min(blockCount, kImageBlockCount);
    if (inside) {
        static const std::uint8_t blockAck[] = {0x02, 0x02, 0x06, 0x06, 0xF2, 0x03};
        writeAll(blockAck, sizeof blockAck);
        check(sendDataBlock(blockIndex));
        readAllFromMaster(kDataBlockFrameSize);
    } else {
        check(!sendDataBlock(blockIndex));
        pollfd pfd{master, POLLIN, 0};
        check(::poll(&pfd, 1, 0) == 0);   // nothing was sent
    }
    resetProtocolState();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int slave = -1;
    char path[128] = {};
    if (::openpty(&master, &slave, path, nullptr, nullptr) != 0) std::abort();
    if (!portOpen(0, path, kPortByName)) std::abort();
    ::close(slave);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    switch (data[0] % 3) {
    case 0: fuzzDecoding(data + 1, size - 1); break;
    case 1: fuzzReplyFrame(data + 1, size - 1); break;
    case 2: fuzzBlockIndex(data + 1, size - 1); break;
    }
    return 0;
}
