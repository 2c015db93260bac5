// The line the meter listens on: the master side of a pseudo-terminal (whose other side
// the utility opens) or an existing serial device.
#pragma once

#include "SettingsChecks.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kt580sim {

class TTerminal {
public:
    TTerminal() = default;
    ~TTerminal();
    TTerminal(const TTerminal&) = delete;
    TTerminal& operator=(const TTerminal&) = delete;

    // A new pseudo-terminal whose other side is raw at the given line settings.
    static std::unique_ptr<TTerminal> OpenPseudo(uint32_t baudrate, TMeterParity parity,
                                                 std::string& error);
    static std::unique_ptr<TTerminal> OpenDevice(const std::string& path, uint32_t baudrate,
                                                 TMeterParity parity, std::string& error);

    int Fd() const { return FFd; }
    // The path a master opens: the pseudo-terminal's other side, or the device itself.
    const std::string& Path() const { return FPath; }
    bool IsPseudo() const { return FHeldFd >= 0; }

    // On a pseudo-terminal, the baud rate the program on the other side has set (the
    // driver shares one termios between both sides); nothing when it cannot be known.
    std::optional<uint32_t> PeerBaudrate() const;

    // A device follows the meter's new line settings; a pseudo-terminal has none to change.
    bool Reconfigure(uint32_t baudrate, TMeterParity parity, std::string& error);

    // Before closing: waits (at most `timeoutMs`) until the other side has read what was
    // sent, since closing a pseudo-terminal's master side discards unread bytes.
    void Linger(int timeoutMs);

    // Writes all bytes, waiting for room at most `timeoutMs` in all; false when cut short.
    bool WriteAll(const std::string& bytes, int timeoutMs);

private:
    int FFd = -1;
    int FHeldFd = -1; // our own handle on the other side, so it never hangs up between clients
    std::string FPath;
};

// Line-rate helpers: a character of 11 bits (start, 8 data, parity or second stop, stop).
double CharacterSeconds(uint32_t baudrate);

} // namespace kt580sim
