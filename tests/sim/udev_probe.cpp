// SPDX-License-Identifier: MIT
// udev-probe: lists the USB-serial converters that libudev shows (subsystem tty with a
// usb_device parent), one line each: devnode, vendor, product, serial, and whether the node
// opens and answers the modem-line ioctls. Run under vf-testbed by the testbed's tests.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char* orNone(const char* text) { return text ? text : "-"; }

// "open ok modem ok", or why not.
void probeNode(const char* node, char* result, std::size_t size) {
    const int fd = open(node, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::snprintf(result, size, "open failed (%s)", std::strerror(errno));
        return;
    }
    const int dtr = TIOCM_DTR;
    int lines = 0;
    termios settings{};
    const bool modemOk = ioctl(fd, TIOCMBIC, &dtr) == 0 && ioctl(fd, TIOCMGET, &lines) == 0 &&
                         !(lines & TIOCM_DTR) && ioctl(fd, TIOCEXCL) == 0;
    const bool termiosOk = tcgetattr(fd, &settings) == 0;
    std::snprintf(result, size, "open ok modem %s termios %s", modemOk ? "ok" : "failed", termiosOk ? "ok" : "failed");
    close(fd);
}

}  // namespace

int main() {
    udev* context = udev_new();
    if (!context) return 1;
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_scan_devices(enumerate);
    int found = 0;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!device) continue;
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        if (usb) {
            const char* node = udev_device_get_devnode(device);
            char probe[128] = "no node";
            if (node) probeNode(node, probe, sizeof probe);
            std::printf("%s %s:%s %s %s\n", orNone(node), orNone(udev_device_get_sysattr_value(usb, "idVendor")),
                        orNone(udev_device_get_sysattr_value(usb, "idProduct")),
                        orNone(udev_device_get_sysattr_value(usb, "serial")), probe);
            ++found;
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    std::printf("converters %d\n", found);
    return 0;
}
