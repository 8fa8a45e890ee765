// SPDX-License-Identifier: MIT
// The list of converter ports that the discovery found: each entry a port name and the
// converter's serial, kept in the order found, and the process-wide list the update uses.
#include "link/discovery.h"

#include <new>

PortList portList;

bool PortList::add(std::string_view portName, std::string_view serial) {
    // When memory for the larger list cannot be had, the list stays as it was and the
    // caller learns it from the result (push_back leaves the vector unchanged).
    try {
        entries_.push_back(PortEntry{std::string(portName), std::string(serial)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void PortList::clear() {
    entries_.clear();
}

bool PortList::find(std::string_view serial, int& index) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].serial == serial) {
            index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}
