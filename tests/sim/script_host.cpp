// SPDX-License-Identifier: MIT
// script-host: a minimal, correct host of the boot-loader protocol for the testbed's tests.
// It runs under vf-testbed's preload, opens the converter's node with libc calls, identifies
// the unit and runs one full update of a fixed pattern.
//   script-host update [NODE]   exit 0 and "update ok" when the update completed
//   script-host hangup [NODE]   runs the update until the line fails, then tells how it
//                               failed and whether udev still lists the converter
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kReadLimitMs = 2000;
int line = -1;
std::string failure;

std::uint8_t checksum(const std::vector<std::uint8_t>& bytes, std::size_t from) {
    unsigned sum = 0;
    for (std::size_t i = from; i < bytes.size(); ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::vector<std::uint8_t> command(std::uint8_t code, std::vector<std::uint8_t> payload = {}) {
    std::vector<std::uint8_t> frame = {0x01, static_cast<std::uint8_t>(payload.size() + 1), code};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(checksum(frame, 1));
    frame.push_back(0x03);
    return frame;
}

bool send(const std::vector<std::uint8_t>& bytes) {
    usleep(5000);
    if (write(line, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        failure = std::string("write failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

std::vector<std::uint8_t> receive(std::size_t count) {
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < count) {
        pollfd in{line, POLLIN, 0};
        const int ready = poll(&in, 1, kReadLimitMs);
        if (ready <= 0) {
            failure = "read timed out";
            break;
        }
        std::uint8_t buffer[300];
        const ssize_t got = read(line, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (got <= 0) {
            failure = got == 0 ? "line hung up" : std::string("read failed: ") + std::strerror(errno);
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

bool acknowledged() {
    return receive(5) == std::vector<std::uint8_t>{0x02, 0x01, 0x06, 0xF9, 0x03};
}

void setSpeed(speed_t speed) {
    termios settings{};
    tcgetattr(line, &settings);
    cfsetspeed(&settings, speed);
    tcsetattr(line, TCSANOW, &settings);
}

bool openLine(const char* node) {
    line = open(node, O_RDWR | O_NOCTTY);
    if (line < 0) {
        failure = std::string("open failed: ") + std::strerror(errno);
        return false;
    }
    termios settings{};
    tcgetattr(line, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    cfsetspeed(&settings, B9600);
    tcsetattr(line, TCSANOW, &settings);
    const int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    ioctl(line, TIOCMBIC, &dtr);
    ioctl(line, TIOCMBIS, &rts);
    return true;
}

std::vector<std::uint8_t> range(std::uint8_t code, std::uint32_t end) {
    return command(code, {0, 0, 0, static_cast<std::uint8_t>(end >> 16), static_cast<std::uint8_t>(end >> 8),
                          static_cast<std::uint8_t>(end)});
}

bool sendBlock(const std::vector<std::uint8_t>& image, int block, bool last) {
    std::vector<std::uint8_t> frame = {0x02, 0x00};
    frame.insert(frame.end(), image.begin() + block * 256, image.begin() + block * 256 + 256);
    frame.push_back(checksum(frame, 1));
    frame.push_back(last ? 0x03 : 0x17);
    if (!send(frame)) return false;
    const auto reply = receive(6);
    return reply.size() == 6 && reply[0] == 0x02 && reply[1] == 0x02 && reply[2] == 0x06 && reply[3] == 0x06;
}

bool runUpdate(const char* node) {
    const std::vector<std::uint8_t> speed = {0x02, 0x00, 0x00, 0x05};
    if (!openLine(node)) return false;
    usleep(200000);
    send({0x00});
    send({0x00});
    if (!send(command(0x00)) || !acknowledged()) return false;
    send(command(0x90, speed));
    receive(1);
    setSpeed(B115200);
    usleep(100000);
    if (!send(command(0x90, speed)) || !acknowledged()) return false;
    if (!send(command(0xC0)) || !acknowledged()) return false;
    auto head = receive(2);
    if (head.size() != 2 || head[1] > 98) return false;
    const auto info = receive(head[1] + 2u);
    if (info.size() < 7) return false;
    const std::uint32_t end = (info[6] & 0x7Fu) << 14 | (info[5] & 0x7Fu) << 7 | (info[4] & 0x7Fu);
    const int blocks = static_cast<int>((end + 1) >> 8);
    if (!send(command(0xC5)) || !acknowledged()) return false;
    head = receive(2);
    if (head.size() != 2) return false;
    receive(head[1] + 2u);

    std::vector<std::uint8_t> image(static_cast<std::size_t>(blocks) * 256, 0xFF);
    for (std::size_t i = 0; i < image.size() / 3; ++i) image[i] = static_cast<std::uint8_t>(i * 13 + (i >> 8));

    send(range(0x32, end));
    auto blank = receive(5);
    if (blank.size() != 5 || blank[2] != 0x06) {
        send(range(0x32, end));
        blank = receive(5);
        if (blank.size() != 5 || blank[2] != 0x06) {
            usleep(50000);
            if (!send(range(0x20, end)) || !acknowledged()) return false;
        }
    }
    if (!send(range(0x40, end)) || !acknowledged()) return false;
    unsigned sum = 0;
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < 256; ++i) sum += image[b * 256 + i];
        if (!sendBlock(image, b, b == blocks - 1)) return false;
    }
    if (!acknowledged()) return false;
    send(range(0xB0, end));
    if (!acknowledged()) return false;
    const auto value = receive(6);
    const unsigned expected = (0x10000 - (sum & 0xFFFF)) & 0xFFFF;
    if (value.size() != 6 || value[2] != (expected >> 8) || value[3] != (expected & 0xFF)) {
        failure = "checksum differs";
        return false;
    }
    usleep(50000);
    send(range(0x13, end));
    if (!acknowledged()) return false;
    for (int b = 0; b < blocks; ++b) {
        if (!sendBlock(image, b, b == blocks - 1)) return false;
    }
    close(line);
    line = -1;
    return true;
}

int convertersListed() {
    udev* context = udev_new();
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_scan_devices(enumerate);
    int count = 0;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (device && udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) ++count;
        if (device) udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    return count;
}

// Counts the "remove" events of tty devices that arrive within a short while.
int removeEvents(udev_monitor* monitor) {
    int count = 0;
    for (;;) {
        pollfd in{udev_monitor_get_fd(monitor), POLLIN, 0};
        if (poll(&in, 1, 1000) <= 0) break;
        udev_device* device = udev_monitor_receive_device(monitor);
        if (!device) continue;
        const char* action = udev_device_get_action(device);
        if (action && std::strcmp(action, "remove") == 0) ++count;
        udev_device_unref(device);
        if (count > 0) break;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "update";
    const char* node = argc > 2 ? argv[2] : "/dev/ttyUSB0";
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    if (mode == "hangup") {
        context = udev_new();
        monitor = udev_monitor_new_from_netlink(context, "udev");
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr);
        udev_monitor_enable_receiving(monitor);
    }
    const bool ok = runUpdate(node);
    if (mode == "hangup") {
        std::printf("update %s (%s)\n", ok ? "ok" : "failed", failure.c_str());
        std::printf("converters listed %d\n", convertersListed());
        std::printf("tty remove events %d\n", removeEvents(monitor));
        udev_monitor_unref(monitor);
        udev_unref(context);
        const int again = open(node, O_RDWR | O_NOCTTY);
        std::printf("reopen %s\n", again < 0 ? "failed" : "ok");
        if (again >= 0) close(again);
        return ok ? 1 : 0;
    }
    std::printf("update %s%s%s\n", ok ? "ok" : "failed", ok ? "" : ": ", failure.c_str());
    return ok ? 0 : 1;
}
