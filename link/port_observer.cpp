// SPDX-License-Identifier: MIT
// The installed PortObserver, shared by the platform files of the serial port.
#include "link/port_observer.h"

PortObserver* installedPortObserver = nullptr;

void setPortObserver(PortObserver* observer) {
    installedPortObserver = observer;
}
