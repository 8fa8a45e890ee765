// SPDX-License-Identifier: MIT
// The event channel: the option's number and whole lines written.
#include "cli/event_channel.h"

bool parseHandleNumber(std::string_view text, std::uint64_t& number)
{
    if (text.empty() || text.size() > 18) return false;
    number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

bool EventChannel::open(std::string_view number, std::string& error)
{
    std::uint64_t value = 0;
    if (!parseHandleNumber(number, value)) {
        error = "--event-fd takes a number, not \"" + std::string(number) + "\"";
        return false;
    }
    std::intptr_t handle = -1;
    if (!takeInheritedHandle(value, handle, error)) {
        error = "--event-fd " + std::string(number) + ": " + error;
        return false;
    }
    handle_ = handle;
    return true;
}

void EventChannel::send(const std::string& line)
{
    std::lock_guard lock(mutex_);
    if (handle_ < 0 || broken_) return;
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const std::size_t n = writeToHandle(handle_, text.data() + written, text.size() - written);
        if (n == 0) {
            broken_ = true;
            return;
        }
        written += n;
    }
}

bool LineReader::keep(std::string_view piece)
{
    if (dropping_) return false;
    if (partial_.size() + piece.size() > maxLineBytes_) {
        dropping_ = true;
        partial_.clear();
        return false;
    }
    partial_.append(piece);
    return true;
}
