// SPDX-License-Identifier: MIT
// A file the run writes for a person or a program (the --json report, the --trace file)
// that must never be lost or half written: it is made before any unit is touched, written
// into a new temporary file beside its place, and renamed into place only when all of it
// is on disk. A path that names something other than a regular file (a device such as
// /dev/stdout, a pipe) is written directly. report_file_posix.cpp and report_file_win32.cpp
// are the two forms, report_file.cpp what they share.
#pragma once

#include <cstdio>
#include <string>

class ReportFile {
public:
    ReportFile() = default;
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;
    // A file that was not committed is removed (its place keeps what it held before).
    ~ReportFile();

    // Makes the file that will become path (UTF-8). False with the reason when it cannot be
    // made: the folder does not exist or cannot be written, the path is a folder, ...
    bool create(const std::string& path, std::string& error);
    bool isOpen() const { return stream_ != nullptr; }
    // Where to write; nullptr before create.
    std::FILE* stream() const { return stream_; }
    // The path as given.
    const std::string& path() const { return path_; }

    // Writes text whole (to the stream).
    bool write(const std::string& text);
    // Flushes, syncs and closes the file, then renames it into place. False with the reason
    // when any write since create failed or any of these steps does (the file is removed).
    bool commit(std::string& error);
    // Removes the temporary file without touching the place.
    void discard();

private:
    std::string path_;
    std::string target_;          // the place: path, or where its symbolic link leads
    std::string temporaryPath_;   // empty: written directly
    std::FILE* stream_ = nullptr;
    int writeError_ = 0;   // the first failed write's reason (errno)
};
