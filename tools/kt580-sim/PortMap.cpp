#include "PortMap.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
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

bool WriteNote(const std::string& notePath, const std::string& target, std::string& error) {
    const std::string temporary = notePath + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << target << '\n';
        out.flush();
        if (!out) {
            error = temporary + ": cannot be written";
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (::rename(temporary.c_str(), notePath.c_str()) != 0) {
        error = notePath + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void RemoveNoteIfOurs(const std::string& notePath, const std::string& target) {
    std::ifstream note(notePath);
    std::string noted;
    if (std::getline(note, noted) && noted == target) {
        ::unlink(notePath.c_str());
    }
}

} // namespace kt580sim
