#include "serial/OpenFailure.h"

#include <cerrno>
#include <cstdio>
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

std::string OpenFailureMissingText(int systemError, const std::string& portName) {
    if (OpenFailureReason(systemError, {}) != "missing")
        return {};
    return portName + " does not exist on this computer (no device behind it).";
}

namespace {

std::string OctalMode(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777U);
    return text;
}

std::string JoinGroup(const std::string& group, const std::string& user) {
    return "sudo usermod -aG " + group + " " + user;
}

std::string PermissionAdvice(const TDeviceAccess& a, const std::string& user) {
    if (!a.Known || a.Group.empty())
        return "Permission denied: " + a.Device + " cannot be opened by " + user + ".";
    // Joining the group helps only where the group may both read and write the device.
    if ((a.Mode & 060U) == 060U)
        return "Permission denied: " + a.Device + " belongs to the group \"" + a.Group +
               "\", and " + user + " may not open it. To join the group, run\n\n    " +
               JoinGroup(a.Group, user) +
               "\n\nthen log out and log in again: a new group counts only from a new login.";
    const std::string name = a.Device.substr(a.Device.rfind('/') + 1);
    return "Permission denied: " + a.Device + " (owner " + a.Owner + ", group " + a.Group +
           ", mode " + OctalMode(a.Mode) +
           ") may not be read and written by its group, so joining a group does not help. A "
           "udev rule can give the port to a group, for example a file "
           "/etc/udev/rules.d/60-serial-meter.rules with the line\n\n    KERNEL==\"" +
           name +
           "\", GROUP=\"dialout\", MODE=\"0660\"\n\nthen run sudo udevadm control "
           "--reload-rules && sudo udevadm trigger, and " +
           JoinGroup("dialout", user) + ", then log out and log in again.";
}

} // namespace

std::string OpenFailureAdvice(int systemError, const TDeviceAccess& access,
                              const std::string& user) {
    switch (systemError) {
    case EACCES:
    case EPERM:
        return PermissionAdvice(access, user);
    case EBUSY:
    case EWOULDBLOCK:
        return access.Device +
               " is in use by another program. Close that program (or its connection "
               "to the port), then try again.";
    default:
        return {};
    }
}

namespace {

std::string NameOfGroup(gid_t gid) {
    if (const struct group* g = ::getgrgid(gid); g != nullptr && g->gr_name != nullptr)
        return g->gr_name;
    return std::to_string(gid);
}

std::string NameOfUser(uid_t uid) {
    if (const passwd* pw = ::getpwuid(uid); pw != nullptr && pw->pw_name != nullptr)
        return pw->pw_name;
    return std::to_string(uid);
}

} // namespace

std::string OpenFailureAdviceFor(int systemError, const std::string& path) {
    char resolved[4096];
    TDeviceAccess access;
    access.Device = ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
    struct stat st {};
    if (::stat(access.Device.c_str(), &st) == 0) {
        access.Known = true;
        access.Mode = st.st_mode & 07777U;
        access.Owner = NameOfUser(st.st_uid);
        access.Group = NameOfGroup(st.st_gid);
    }
    std::string user;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_name != nullptr)
        user = pw->pw_name;
    else if (const char* name = std::getenv("USER"); name != nullptr)
        user = name;
    else
        user = std::to_string(::getuid());
    return OpenFailureAdvice(systemError, access, user);
}
