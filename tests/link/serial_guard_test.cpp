// SPDX-License-Identifier: MIT
// The port's guards against traffic that is not the protocol's: it never takes the number of
// a closed standard stream, and once transfers are stopped not one more byte crosses the
// line. Each case runs in a child process (a death test), as it closes the standard streams
// or sets the process-wide stop.
#include "link/serial.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>

namespace {

// A raw pty pair in the child; the master is the far end.
struct RawPty {
    int master = -1;
    std::string slavePath;

    bool open() {
        int slave = -1;
        std::array<char, 128> name{};
        if (::openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) return false;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        ::close(slave);
        slavePath = name.data();
        return true;
    }
    // Bytes waiting at the far end, without waiting for more.
    std::string pending() const {
        std::string bytes;
        pollfd pfd{master, POLLIN, 0};
        while (::poll(&pfd, 1, 50) > 0 && (pfd.revents & POLLIN) != 0) {
    char buffer[256];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }
};

bool isClosed(int fd) {
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// Each child returns 0 when every check held, else the number of the first that failed.
int portOnClosedStandardStreams() {
    RawPty pty;
    if (!pty.open()) return 1;
    ::close(STDIN_FILENO);
    ::close(STDOUT_FILENO);
    ::close(STDERR_FILENO);
    if (!portOpen(0, pty.slavePath, kPortByName)) return 2;
    // The numbers stay free: nothing printed can reach the line.
    if (!isClosed(STDIN_FILENO) || !isClosed(STDOUT_FILENO) || !isClosed(STDERR_FILENO)) return 3;
    const std::array<std::uint8_t, 3> frame{0x01, 0x01, 0xC0};
    if (!portWrite(frame)) return 4;
    if (pty.pending() != std::string("\x01\x01\xC0", 3)) return 5;
    portClose();
    return 0;
}

int trafficAfterTheStop() {
    RawPty pty;
    if (!pty.open()) return 1;
    if (portTransfersStopped()) return 2;
    if (!portOpen(0, pty.slavePath, kPortByName)) return 3;
    const std::array<std::uint8_t, 2> before{0x02, 0x00};
    if (!portWrite(before) || pty.pending() != std::string("\x02\x00", 2)) return 4;

    portStopTransfers();
    if (!portTransfersStopped()) return 5;
    const std::array<std::uint8_t, 2> after{0x17, 0x03};
    if (portWrite(after)) return 6;
    if (!pty.pending().empty()) return 7;   // not one byte more on the line
    // An answer waiting on the line is not taken either, and the buffer stays as it was.
    if (::write(pty.master, "\x02\x01\x06\xF9\x03", 5) != 5) return 8;
    std::array<std::uint8_t, 5> reply{};
    if (portRead(reply) || reply != std::array<std::uint8_t, 5>{}) return 9;
    // The port still closes properly; no new one is opened.
    portClose();
    if (portIsOpen()) return 10;
    if (portOpen(0, pty.slavePath, kPortByName) || portIsOpen()) return 11;
    return 0;
}

}  // namespace

TEST(SerialGuard, PortNeverTakesTheNumberOfAClosedStandardStream) {
    EXPECT_EXIT(std::_Exit(portOnClosedStandardStreams()), ::testing::ExitedWithCode(0), "");
}

TEST(SerialGuard, StoppedTransfersEndTrafficAtOnce) {
    EXPECT_EXIT(std::_Exit(trafficAfterTheStop()), ::testing::ExitedWithCode(0), "");
}
