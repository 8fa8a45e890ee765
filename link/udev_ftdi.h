// SPDX-License-Identifier: MIT
// The FTDI FT232R converters udev knows of (Linux): the devices of a subsystem whose USB
// device is 0403:6001, each with that USB device. Shared by the discovery (their ttys) and
// the latency timer (their usb-serial ports), so both see the same converters.
#pragma once

#include <libudev.h>

#include <functional>
#include <string_view>

// The value of a sysfs attribute of device; empty when it has none.
std::string_view udevSysattr(udev_device* device, const char* name);

// Calls found(device, usbDevice) for every device of subsystem ("tty", "usb-serial") whose
// USB device is an FTDI 0403:6001, in udev's order, until found returns false. Both
// pointers live only during the call. False when udev cannot be reached or the devices
// cannot be enumerated.
bool forEachFtdiDevice(const char* subsystem, const std::function<bool(udev_device*, udev_device*)>& found);
