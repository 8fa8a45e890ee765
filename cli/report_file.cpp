// SPDX-License-Identifier: MIT
// The parts of a report file that are the same on every platform.
#include "cli/report_file.h"

#include <cerrno>

ReportFile::~ReportFile()
{
    discard();
}

bool ReportFile::write(const std::string& text)
{
    if (stream_ == nullptr) return false;
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size() && writeError_ == 0) {
        writeError_ = errno != 0 ? errno : EIO;
    }
    return writeError_ == 0;
}
