#include "PortMap.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kt580sim {

namespace {

bool ReadLink(const std::string& path, std::string& target) {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return false;
    }
    target.assign(buffer.data(), static_cast<std::size_t>(n));
    return true;
}

bool MakeFolders(const std::string& folder, std::string& error) {
    std::string path;
    std::size_t from = 0;
    while (from <= folder.size()) {
        const std::size_t slash = folder.find('/', from);
        const std::size_t end = slash == std::string::npos ? folder.size() : slash;
        path = folder.substr(0, end);
        if (!path.empty() && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
        from = slash + 1;
    }
    return true;
}

} // namespace

std::string PortMapFolder(const char* xdgConfigHome, const char* home) {
    std::string config;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        config = xdgConfigHome;
    } else if (home != nullptr && home[0] != '\0') {
        config = std::string(home) + "/.config";
    } else {
        return {};
    }
    return config + "/Veltrana/Marbrook/ports";
}

bool CreateLink(const std::string& linkPath, const std::string& target, bool makeParents,
                std::string& error) {
    if (makeParents) {
        const std::size_t slash = linkPath.rfind('/');
        if (slash != std::string::npos && slash > 0 &&
            !MakeFolders(linkPath.substr(0, slash), error)) {
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
    std::string current;
    if (ReadLink(linkPath, current) && current == target) {
        ::unlink(linkPath.c_str());
    }
}

} // namespace kt580sim
