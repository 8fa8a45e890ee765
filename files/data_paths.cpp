// SPDX-License-Identifier: MIT
// The data file paths: the working directory with a separator, and the device list, help
// and safety file paths formed from it. Every path fits the program's 256-byte buffers.
#include "files/data_paths.h"
#include "files/file_system.h"

#include <utility>

DataPaths dataPaths;

namespace {

constexpr std::size_t kMaxPathLength = kPathBufferSize - 1;   // room for the string end

bool joinPath(std::string_view directory, std::string_view fileName, std::string& path)
{
    if (directory.size() + fileName.size() > kMaxPathLength) {
        return false;
    }
    path.assign(directory);
    path.append(fileName);
    return true;
}

}  // namespace

bool initDataPaths(std::string_view directory)
{
    DataPaths paths;
    paths.workDir.assign(directory);
    // A directory that already ends in the separator (a root such as "/") keeps just one.
    if (paths.workDir.empty() || paths.workDir.back() != kPathSeparator) {
        paths.workDir.push_back(kPathSeparator);
    }
    const bool fits = paths.workDir.size() <= kMaxPathLength &&
                      joinPath(paths.workDir, kDeviceListFileName, paths.deviceListPath) &&
                      joinPath(paths.workDir, kHelpFileNameDe, paths.helpPathDe) &&
                      joinPath(paths.workDir, kHelpFileNameEn, paths.helpPathEn) &&
                      joinPath(paths.workDir, kSafetyFileNameDe, paths.safetyPathDe) &&
                      joinPath(paths.workDir, kSafetyFileNameEn, paths.safetyPathEn);
    dataPaths = fits ? std::move(paths) : DataPaths{};
    return fits;
}

bool formDataPath(std::string_view fileName, std::string& path)
{
    if (!joinPath(dataPaths.workDir, fileName, path)) {
        path.clear();
        return false;
    }
    return true;
}

bool formFirmwarePath(std::string_view listFileName, std::string& path)
{
    return formDataPath(localFileName(listFileName), path);
}
