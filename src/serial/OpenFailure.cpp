#include "serial/OpenFailure.h"

#include <cerrno>
#include <cstring>

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
