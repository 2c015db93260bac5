// The one exception the serial component raises, and only while opening a port.
#pragma once

#include <stdexcept>
#include <string>

class ECommsError : public std::runtime_error {
public:
    explicit ECommsError(const std::string& message, int systemError = 0)
        : std::runtime_error(message), FSystemError(systemError) {}
    // The errno behind the failure (ENOENT, EWOULDBLOCK for a port in use, EACCES...), 0 if none.
    int SystemError() const noexcept { return FSystemError; }

private:
    int FSystemError;
};
