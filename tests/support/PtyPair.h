// A pseudo-terminal pair for tests: the slave is the "serial port" the code under
// test opens by name; the master is the far end of the line.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <utility>

class TPtyPair {
public:
    TPtyPair() {
        // openpty writes the name into the string's own buffer: a local char array copied
        // afterwards trips g++'s dangling-pointer analysis at -O3.
        std::string name(256, '\0');
        if (openpty(&FMaster, &FSlave, name.data(), nullptr, nullptr) != 0) {
            FMaster = FSlave = -1;
            return;
        }
        name.resize(std::strlen(name.c_str()));
        FName = std::move(name);
        termios t{};
        tcgetattr(FMaster, &t);
        cfmakeraw(&t);
        tcsetattr(FMaster, TCSANOW, &t);
    }
    ~TPtyPair() {
        CloseMaster();
        if (FSlave >= 0) {
            ::close(FSlave);
        }
    }
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    bool Valid() const { return FMaster >= 0; }
    const std::string& SlaveName() const { return FName; }
    int Master() const { return FMaster; }
    // Our own descriptor on the slave: keeps the line up between opens and lets a
    // test look at the terminal settings.
    int Slave() const { return FSlave; }

    // Closing the far end is what an unplugged adapter looks like.
    void CloseMaster() {
        if (FMaster >= 0) {
            ::close(FMaster);
            FMaster = -1;
        }
    }

    bool WriteMaster(const std::string& data) const {
        std::size_t off = 0;
        while (off < data.size()) {
            const ssize_t n = ::write(FMaster, data.data() + off, data.size() - off);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            off += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Reads until `count` bytes have come or `timeoutMs` has passed.
    std::string ReadMaster(std::size_t count, int timeoutMs) const {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{FMaster, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buf[4096];
            const ssize_t n = ::read(FMaster, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FName;
};
