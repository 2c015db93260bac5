// What a port name reaches on this machine: the device behind the per-user link or the fixed
// name, whether it is there, and for a USB adapter its persistent name in /dev/serial/by-id
// and the maker, model and serial number from sysfs. Every function takes the root of the
// file system to read (empty for "/"), so tests build a fake /dev and /sys in a folder.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

struct TPortInfo {
    std::string Device;       // the device node the path ends at ("/dev/ttyUSB0")
    bool Present = false;     // the node exists and, for a built-in port, has a UART behind it
    std::string ById;         // its name in /dev/serial/by-id, if any
    std::string Manufacturer; // USB adapters only
    std::string Product;
    std::string Serial;
};

// `path` is a device or a link to one (a port map entry, a by-id name).
TPortInfo DescribePort(const std::string& path, const std::string& root = {});

// What COMn reaches: the target of its per-user link if it has one, else its fixed device.
TPortInfo DescribeComPort(unsigned number, const std::string& root = {});

// The operator's line about a port: "/dev/ttyUSB0: FTDI FT232R USB UART, serial A10K1234",
// "/dev/ttyS0", or "not present".
std::string PortReachText(const TPortInfo& info);

// Full paths of the entries of /dev/serial/by-id ("/dev/serial/by-id/usb-..."), sorted.
std::vector<std::string> SerialAdaptersById(const std::string& root = {});

// The per-user port map: COM number -> link target, for the entries that are links.
std::map<unsigned, std::string> ReadPortMap(const std::string& mapDir);

// The COM number an adapter (its by-id path) keeps: the one already linked to it, else the
// first free number of COM97-128, which exist only through the map; nothing when all are taken.
std::optional<unsigned> ComForAdapter(const std::map<unsigned, std::string>& portMap,
                                      const std::string& byIdPath);

// Links COMn in `mapDir` to `target` (replacing a link, never a file). False with the reason.
bool LinkPort(const std::string& mapDir, unsigned number, const std::string& target,
              std::string& error);
