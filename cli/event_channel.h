// SPDX-License-Identifier: MIT
// The channel of --event-fd: the run's events, one JSON object a line, written to a
// descriptor (Windows: a handle) that the starting process opened and let this one inherit
// (the --all parent gives each child the write end of a pipe of its own).
// event_channel_posix.cpp and event_channel_win32.cpp hold the two platforms' calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class EventChannel {
public:
    EventChannel() = default;
    EventChannel(const EventChannel&) = delete;
    EventChannel& operator=(const EventChannel&) = delete;

    // Takes the descriptor (handle) the option names. False with the reason when the text is
    // not a number or names nothing open; the standard streams are refused too.
    bool open(std::string_view number, std::string& error);
    bool isOpen() const { return handle_ >= 0; }

    // Writes line and a line end, whole. When the reader has gone the channel is given up and
    // the update goes on. Any thread.
    void send(const std::string& line);

private:
    std::mutex mutex_;
    std::intptr_t handle_ = -1;
    bool broken_ = false;
};

// The reading side: bytes as they came in, complete lines out (without their line ends). A
// line longer than maxLineBytes is dropped whole, and is not kept while it is still coming.
class LineReader {
public:
    explicit LineReader(std::size_t maxLineBytes) : maxLineBytes_(maxLineBytes) {}

    // Calls onLine(std::string_view) for each line that bytes complete, in order. A line that
    // came whole within bytes is given where it lies, without a copy; the view is valid during
    // the call only.
    template <typename OnLine>
    void take(std::string_view bytes, OnLine&& onLine)
    {
        for (auto end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n')) {
            const std::string_view piece = bytes.substr(0, end);
            if (!dropping_ && partial_.empty()) {
                if (piece.size() <= maxLineBytes_) onLine(piece);
            } else if (keep(piece)) {
                onLine(std::string_view(partial_));
            }
            partial_.clear();
            dropping_ = false;
            bytes.remove_prefix(end + 1);
        }
        keep(bytes);
    }

private:
    // Adds the start of a line to the part kept; false when the line is (now) too long.
    bool keep(std::string_view piece);

    std::size_t maxLineBytes_;
    std::string partial_;
    bool dropping_ = false;   // within a line that is too long, up to its end
};

// Parses a non-negative decimal number (no sign, no blanks); false when it is not one.
bool parseHandleNumber(std::string_view text, std::uint64_t& number);

// The platform's part: checks that number names an inherited descriptor (handle) that is
// not a standard stream and keeps it from being inherited further; writes some bytes.
bool takeInheritedHandle(std::uint64_t number, std::intptr_t& handle, std::string& error);
// Writes up to size bytes; the count written, 0 when the reader has gone or writing failed.
std::size_t writeToHandle(std::intptr_t handle, const char* data, std::size_t size);
