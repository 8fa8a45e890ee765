// SPDX-License-Identifier: MIT
// Prints what the registry walk finds in the current Wine prefix, for wine-tests.sh to
// compare with a case's expected output:
//   vf-registry-probe SERIAL...          device list of these serials; findFtdiPorts and
//                                        listFtdiConverters
//   vf-registry-probe --read-port-name KEYPATH SERIAL   readPortName under HKEY_LOCAL_MACHINE
#include "files/device_list.h"
#include "link/discovery_win32.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void printPorts(const PortList& ports)
{
    for (int i = 0; i < ports.count(); ++i) {
        std::printf("port %s %s\n", ports.entry(i).portName.c_str(), ports.entry(i).serial.c_str());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--read-port-name") == 0) {
        PortList ports;
        const bool read = readPortName(HKEY_LOCAL_MACHINE, argv[2], argv[3], ports);
        std::printf("readPortName %s\n", read ? "true" : "false");
        printPorts(ports);
        return 0;
    }

    DeviceList devices;
    for (int i = 1; i < argc; ++i) {
        devices.add("Model", "Target", argv[i], "1.00", "firmware.hex");
    }
    PortList ports;
    const bool found = findFtdiPorts(devices, ports);
    std::printf("findFtdiPorts %s\n", found ? "true" : "false");
    printPorts(ports);

    std::vector<ConverterInfo> converters;
    const bool listed = listFtdiConverters(converters);
    std::printf("listFtdiConverters %s\n", listed ? "true" : "false");
    for (const ConverterInfo& converter : converters) {
        std::printf("converter %s %s\n", converter.serial.empty() ? "-" : converter.serial.c_str(),
                    converter.portName.empty() ? "-" : converter.portName.c_str());
    }
    return 0;
}
