#include "serial/OpenFailure.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

std::string OpenFailureReason(int systemError, const std::string& message) {
    switch (systemError) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return "missing";
    case EBUSY:
    case EWOULDBLOCK:
        return "busy";
    case ENOTTY:
    case EISDIR:
        return "not a serial port";
    case EACCES:
    case EPERM:
        return "permission denied";
    case 0:
        return message;
    default:
        return std::strerror(systemError);
    }
}

std::string OpenFailureAdvice(int systemError, const std::string& device, const std::string& group,
                              const std::string& user) {
    switch (systemError) {
    case EACCES:
    case EPERM:
        if (group.empty())
            return "Permission denied: " + device + " cannot be opened by " + user + ".";
        return "Permission denied: " + device + " belongs to the group \"" + group + "\", and " +
               user + " may not open it. To join the group, run\n\n    sudo usermod -aG " + group +
               " " + user +
               "\n\nthen log out and log in again: a new group counts only from a new login.";
    case EBUSY:
    case EWOULDBLOCK:
        return device + " is in use by another program. Close that program (or its connection "
                        "to the port), then try again.";
    default:
        return {};
    }
}

std::string OpenFailureAdviceFor(int systemError, const std::string& path) {
    char resolved[4096];
    const std::string device =
        ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
    std::string owner;
    struct stat st {};
    if (::stat(device.c_str(), &st) == 0) {
        if (const struct group* g = ::getgrgid(st.st_gid); g != nullptr && g->gr_name != nullptr)
            owner = g->gr_name;
        else
            owner = std::to_string(st.st_gid);
    }
    std::string user;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_name != nullptr)
        user = pw->pw_name;
    else if (const char* name = std::getenv("USER"); name != nullptr)
        user = name;
    else
        user = std::to_string(::getuid());
    return OpenFailureAdvice(systemError, device, owner, user);
}
