#include "platform/PortName.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ConfigHome() {
    // Only an absolute XDG_CONFIG_HOME counts; a relative one would depend on the current folder.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config";
    }
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return std::string(pw->pw_dir) + "/.config";
    }
    return "/.config";
}

} // namespace

std::string PortMapDir() {
    return ConfigHome() + "/Veltrana/Marbrook/ports";
}

std::string PortLinkPath(unsigned number) {
    return PortMapDir() + "/COM" + std::to_string(number);
}

std::optional<unsigned> ComPortNumber(const std::string& name) {
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0) {
        rest.erase(0, 4);
    }
    if (rest.size() < 4 || rest.compare(0, 3, "COM") != 0 || rest.size() > 3 + 9) {
        return std::nullopt;
    }
    unsigned long n = 0;
    for (std::size_t i = 3; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (rest[3] == '0' || n == 0) {
        return std::nullopt;
    }
    return static_cast<unsigned>(n);
}

std::string ResolvePortName(const std::string& name) {
    const auto number = ComPortNumber(name);
    if (!number) {
        return name;
    }
    std::string link = PortLinkPath(*number);
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        return link;
    }
    const unsigned n = *number;
    if (n <= 32) {
        return "/dev/ttyS" + std::to_string(n - 1);
    }
    if (n <= 64) {
        return "/dev/ttyUSB" + std::to_string(n - 33);
    }
    if (n <= 96) {
        return "/dev/ttyACM" + std::to_string(n - 65);
    }
    return link;
}

std::string SimulatorNotePath(unsigned number) {
    return PortLinkPath(number) + ".simulator";
}

bool SimulatorOnPort(const std::string& name) {
    const auto number = ComPortNumber(name);
    if (!number) {
        return false;
    }
    const std::string link = PortLinkPath(*number);
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return false;
    }
    target.resize(static_cast<std::size_t>(length));
    std::ifstream note(SimulatorNotePath(*number));
    std::string noted;
    return static_cast<bool>(std::getline(note, noted)) && noted == target;
}
