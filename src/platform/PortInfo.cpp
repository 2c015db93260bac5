#include "platform/PortInfo.h"

#include "platform/PortName.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Symlinks followed before giving up on a loop.
constexpr int MaxLinks = 16;
constexpr unsigned FirstMapOnly = 97;
constexpr unsigned LastMapOnly = 128;

std::string DirName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "/a/b/../c/./d" -> "/a/c/d", without touching the file system.
std::string Normal(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= path.size()) {
        const auto next = std::min(path.find('/', i), path.size());
        const std::string part = path.substr(i, next - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = next + 1;
    }
    std::string out;
    for (const auto& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

std::optional<std::string> ReadLink(const std::string& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

// Follows links inside `root`: the path (as seen from the root) the chain ends at.
std::string FollowInRoot(std::string path, const std::string& root) {
    for (int i = 0; i < MaxLinks; ++i) {
        const auto target = ReadLink(root + path);
        if (!target)
            break;
        path = Normal((*target)[0] == '/' ? *target : DirName(path) + "/" + *target);
    }
    return path;
}

std::string FirstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TPortInfo DescribePort(const std::string& path, const std::string& root) {
    TPortInfo info;
    info.Device = FollowInRoot(Normal(path), root);
    const std::string name = BaseName(info.Device);
    const std::string sysTty = root + "/sys/class/tty/" + name;
    info.Present = Exists(root + info.Device);
    // Built-in ports have a node whether or not a UART answers; sysfs knows (type 0: none).
    if (info.Present && Exists(sysTty + "/type"))
        info.Present = FirstLine(sysTty + "/type") != "0";

    for (const std::string& byId : SerialAdaptersById(root)) {
        if (FollowInRoot(byId, root) == info.Device) {
            info.ById = byId;
            break;
        }
    }
    // The USB device is the first folder above the tty's device that names its maker.
    char resolved[PATH_MAX];
    if (::realpath((sysTty + "/device").c_str(), resolved) != nullptr) {
        std::string dir = resolved;
        const std::string stop = root + "/sys";
        while (dir.size() > stop.size() && dir.compare(0, stop.size(), stop) == 0) {
            if (Exists(dir + "/idVendor")) {
                info.Manufacturer = FirstLine(dir + "/manufacturer");
                info.Product = FirstLine(dir + "/product");
                info.Serial = FirstLine(dir + "/serial");
                break;
            }
            dir = DirName(dir);
        }
    }
    return info;
}

TPortInfo DescribeComPort(unsigned number, const std::string& root) {
    const std::string link = PortLinkPath(number);
    if (const auto target = ReadLink(link))
        return DescribePort((*target)[0] == '/' ? *target : DirName(link) + "/" + *target, root);
    return DescribePort(ResolvePortName("COM" + std::to_string(number)), root);
}

std::string PortReachText(const TPortInfo& info) {
    if (!info.Present)
        return "not present";
    std::string text = info.Device;
    std::string maker = info.Manufacturer;
    if (!info.Product.empty())
        maker += (maker.empty() ? "" : " ") + info.Product;
    if (!maker.empty())
        text += ": " + maker;
    if (!info.Serial.empty())
        text += (maker.empty() ? ": serial " : ", serial ") + info.Serial;
    return text;
}

std::vector<std::string> SerialAdaptersById(const std::string& root) {
    std::vector<std::string> out;
    for (const std::string& name : Entries(root + "/dev/serial/by-id"))
        out.push_back("/dev/serial/by-id/" + name);
    return out;
}

std::map<unsigned, std::string> ReadPortMap(const std::string& mapDir) {
    std::map<unsigned, std::string> map;
    for (const std::string& name : Entries(mapDir)) {
        if (name.size() < 4 || name.compare(0, 3, "COM") != 0 ||
            !std::all_of(name.begin() + 3, name.end(), ::isdigit) || name[3] == '0' ||
            name.size() > 6)
            continue;
        std::string path = mapDir;
        path.append("/").append(name);
        if (const auto target = ReadLink(path))
            map[static_cast<unsigned>(std::stoul(name.substr(3)))] = *target;
    }
    return map;
}

std::optional<unsigned> ComForAdapter(const std::map<unsigned, std::string>& portMap,
                                      const std::string& byIdPath) {
    for (const auto& [number, target] : portMap)
        if (target == byIdPath)
            return number;
    for (unsigned n = FirstMapOnly; n <= LastMapOnly; ++n)
        if (portMap.find(n) == portMap.end())
            return n;
    return std::nullopt;
}

bool LinkPort(const std::string& mapDir, unsigned number, const std::string& target,
              std::string& error) {
    // Make the folder, parents included.
    for (std::size_t i = 1; i <= mapDir.size(); ++i) {
        if (i == mapDir.size() || mapDir[i] == '/') {
            const std::string part = mapDir.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                error = part + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    const std::string link = mapDir + "/COM" + std::to_string(number);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " is not a link";
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        error = link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
