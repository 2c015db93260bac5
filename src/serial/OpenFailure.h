// The operator's words for why a serial port did not open, from the errno and message that
// the port's open failure carries. One mapping, for every place that tells the operator.
#pragma once

#include <string>

// A short reason ("missing", "busy", "not a serial port", "permission denied"), the system's
// own text for other errors, or the message itself when there is no system error.
std::string OpenFailureReason(int systemError, const std::string& message);

// For a port with no device behind it, the sentence that says so ("COM5 does not exist on this
// computer (no device behind it)."); empty for every other failure.
std::string OpenFailureMissingText(int systemError, const std::string& portName);

// The device node a port name reached, as the file system shows it.
struct TDeviceAccess {
    std::string Device;
    bool Known = false; // its owner, group and mode could be read
    unsigned Mode = 0;  // permission bits, 0666 style
    std::string Owner;
    std::string Group;
};

// What the operator can do about a port that did not open, or nothing when there is no
// advice (a missing port speaks for itself). Joining the device's group is advised only where
// the group may read and write it; otherwise a udev rule that gives it to a group is.
// `user` is the login name.
std::string OpenFailureAdvice(int systemError, const TDeviceAccess& access,
                              const std::string& user);

// The same for the device at `path` as it stands: its owner, group and mode read from the file
// system, the user from the process.
std::string OpenFailureAdviceFor(int systemError, const std::string& path);
