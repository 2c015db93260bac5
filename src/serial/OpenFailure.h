// The operator's words for why a serial port did not open, from the errno and message that
// the port's open failure carries. One mapping, for every place that tells the operator.
#pragma once

#include <string>

// A short reason ("missing", "busy", "not a serial port", "permission denied"), the system's
// own text for other errors, or the message itself when there is no system error.
std::string OpenFailureReason(int systemError, const std::string& message);

// What the operator can do about a port that did not open, or nothing when there is no
// advice (a missing port speaks for itself). `device` is the node the port name reached,
// `group` the group that owns it (empty when unknown) and `user` the login name.
std::string OpenFailureAdvice(int systemError, const std::string& device, const std::string& group,
                              const std::string& user);

// The same for the device at `path` as it stands: its owning group read from the file system,
// the user from the process.
std::string OpenFailureAdviceFor(int systemError, const std::string& path);
