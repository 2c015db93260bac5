#include "PortMap.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kt580sim {

bool CreateLink(const std::string& linkPath, const std::string& target, bool makeParents,
                std::string& error) {
    if (makeParents) {
        std::error_code failure;
        const auto parent = std::filesystem::path(linkPath).parent_path();
        if (!parent.empty() && !std::filesystem::create_directories(parent, failure) && failure) {
            error = parent.string() + ": " + failure.message();
            return false;
        }
    }
    struct stat info {};
    if (::lstat(linkPath.c_str(), &info) == 0) {
        struct stat targetInfo {};
        if (!S_ISLNK(info.st_mode) || ::stat(linkPath.c_str(), &targetInfo) == 0) {
            error = linkPath + " exists already (in use by another program?)";
            return false;
        }
        ::unlink(linkPath.c_str()); // a dangling link of an earlier run
    }
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
        error = linkPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void RemoveLinkIfOurs(const std::string& linkPath, const std::string& target) {
    std::error_code failure;
    if (std::filesystem::read_symlink(linkPath, failure) == target && !failure) {
        ::unlink(linkPath.c_str());
    }
}

} // namespace kt580sim
