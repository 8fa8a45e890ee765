// SPDX-License-Identifier: MIT
// Discovery of the FTDI converters on Linux through libudev: every tty whose USB device is
// 0403:6001, with the USB device's serial number and the tty's device node.
#include "link/discovery.h"

#include <string_view>

#include "files/device_list.h"
#include "link/udev_ftdi.h"

namespace {

// Calls found(serial, deviceNode) for every 0403:6001 converter's tty, in udev's order.
// False when udev cannot be reached or the ttys cannot be enumerated.
template <typename Found>
bool forEachFtdiTty(Found found)
{
    return forEachFtdiDevice("tty", [&](udev_device* tty, udev_device* usbDevice) {
        const char* deviceNode = udev_device_get_devnode(tty);
        if (deviceNode != nullptr) found(udevSysattr(usbDevice, "serial"), std::string_view(deviceNode));
        return true;
    });
}

}  // namespace

bool findFtdiPorts(const DeviceList& devices, PortList& ports)
{
    return forEachFtdiTty([&](std::string_view serial, std::string_view deviceNode) {
        // udev gives the converter's USB serial as it is (the Windows driver's key names append
        // a channel letter, which is why Windows compares 8 characters): a longer serial is
        // another converter, and its unit must not be taken for the entry's.
        if (serial.size() != kConverterSerialLength) {
            return;
        }
        int index = 0;
        if (devices.findBySerial(serial, index)) {
            ports.add(deviceNode, serial);
        }
    });
}

bool listFtdiConverters(std::vector<ConverterInfo>& converters)
{
    return forEachFtdiTty([&](std::string_view serial, std::string_view deviceNode) {
        converters.push_back(ConverterInfo{std::string(serial), std::string(deviceNode)});
    });
}

bool converterPortPresent(std::string_view portName)
{
    // udev enumerates the devices that are there: a port it listed is present.
    return !portName.empty();
}
