// SPDX-License-Identifier: MIT
// Report and trace files on POSIX systems: mkostemp beside the target (close-on-exec, so no
// child process inherits it), fsync and rename(2) at the end.
#include "cli/report_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kNewFileMode = 0666;   // less the umask, as any file the user creates

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

std::string reason(int error)
{
    return std::strerror(error);
}

}  // namespace

bool ReportFile::create(const std::string& path, std::string& error)
{
    discard();
    path_ = path;
    writeError_ = 0;
    std::string target = path;
    // Through a symbolic link: the file it leads to is replaced, the link stays.
    struct stat linkStatus {};
    if (::lstat(path.c_str(), &linkStatus) == 0 && S_ISLNK(linkStatus.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) target = resolved;
    }
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode)) {
            error = reason(EISDIR);
            return false;
        }
        // A device or a pipe: written as it is, nothing to rename.
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            error = reason(errno);
            return false;
        }
        stream_ = ::fdopen(fd, "wb");
        if (stream_ == nullptr) {
            error = reason(errno);
            ::close(fd);
            return false;
        }
        temporaryPath_.clear();
        return true;
    }
    std::string pattern = target + ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = reason(errno);
        return false;
    }
    ::fchmod(fd, kNewFileMode & ~currentUmask());
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        error = reason(errno);
        ::close(fd);
        ::unlink(pattern.c_str());
        return false;
    }
    temporaryPath_ = pattern;
    target_ = target;
    return true;
}

bool ReportFile::commit(std::string& error)
{
    if (stream_ == nullptr) {
        error = "not open";
        return false;
    }
    int failure = writeError_;
    if (failure == 0 && std::fflush(stream_) != 0) failure = errno;
    if (failure == 0 && std::ferror(stream_) != 0) failure = EIO;   // a write of the trace failed
    // A regular file must be on disk before it takes the place of the old one; a device or a
    // pipe cannot be synced (EINVAL), which is fine.
    if (failure == 0 && ::fsync(::fileno(stream_)) != 0 && errno != EINVAL && errno != EROFS) failure = errno;
    const int closed = std::fclose(stream_);
    if (failure == 0 && closed != 0) failure = errno;
    stream_ = nullptr;
    if (failure == 0 && !temporaryPath_.empty() && ::rename(temporaryPath_.c_str(), target_.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        error = reason(failure);
        discard();
        return false;
    }
    temporaryPath_.clear();
    return true;
}

void ReportFile::discard()
{
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
}
