// The operator's words for why a serial port did not open, from the errno and message that
// the port's open failure carries. One mapping, for every place that tells the operator.
#pragma once

#include <string>

// A short reason ("missing", "busy", "not a serial port", "permission denied"), the system's
// own text for other errors, or the message itself when there is no system error.
std::string OpenFailureReason(int systemError, const std::string& message);
