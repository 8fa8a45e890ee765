// SPDX-License-Identifier: MIT
// The data files' file system on POSIX systems: the data folder, a regular file read
// through one descriptor, and device list file names turned from Windows-1252 into the
// UTF-8 of the file system.
#include "files/file_system.h"
#include "files/texts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <new>
#include <stdexcept>

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads exactly buffer.size() bytes; false on an error or when the file ends earlier.
bool readAll(int fd, DataBuffer& buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool dataFolderPath(const std::optional<std::string>& requested, std::string& folder)
{
    std::error_code error;
    std::filesystem::path path = requested ? std::filesystem::path(*requested) : std::filesystem::current_path(error);
    if (!error) path = std::filesystem::absolute(path, error);
    folder = path.string();
    return !error && std::filesystem::is_directory(path, error);
}

std::optional<DataBuffer> readRegularFile(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. O_NOCTTY: a
    // terminal named here never becomes the process's controlling terminal. The check below
    // refuses both before anything is read.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
        return std::nullopt;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }

    DataBuffer buffer;
    try {
        buffer.resize(static_cast<std::size_t>(status.st_size));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    if (!readAll(file.get(), buffer)) {
        return std::nullopt;
    }
    return buffer;
}

std::string localFileName(std::string_view listFileName)
{
    return cp1252FileNameToUtf8(listFileName);
}
