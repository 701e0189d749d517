// The causes of files that cannot be opened, from the file system's state
// where it tells more than the error number (a folder, a missing folder).
#include "sys/open_cause.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "sys/platform.h"

namespace {

bool IsFolder(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

bool Exists(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

}  // namespace

std::string ReadFailureCause(const std::string& path, int error_number) {
    const std::filesystem::path fs_path = platform::FsPath(path);
    if (IsFolder(fs_path)) return "it is a folder, not a file";
    if (error_number == ENOENT || !Exists(fs_path)) return "no such file";
    if (error_number == EACCES || error_number == EPERM) return "no permission to read it";
    return std::strerror(error_number);
}

std::string WriteFailureCause(const std::string& path, int error_number) {
    const std::filesystem::path fs_path = platform::FsPath(path);
    if (IsFolder(fs_path)) return "it is a folder, not a file";
    const std::filesystem::path folder = fs_path.parent_path();
    if (!folder.empty() && !IsFolder(folder)) {
        const std::string shown = path.substr(0, path.size() - fs_path.filename().u8string().size());
        return "the folder '" + shown + "' does not exist";
    }
    if (error_number == EACCES || error_number == EPERM) return "no permission to write it";
    return std::string();
}
