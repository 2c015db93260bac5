#include "StateFile.h"

#include "Registers.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kt580sim {

namespace {

std::string Hex4(uint16_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4) {
        text.push_back(digits[(value >> shift) & 0xF]);
    }
    return text;
}

template <typename T> bool Parse(const std::string& text, T& value, int base = 10) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return !text.empty() && ec == std::errc() && ptr == end;
}

} // namespace

std::string SerializeState(const TMeterModel& meter) {
    std::string out = "# kt580-sim meter memory\n";
    for (const auto& [r, value] : meter.Settings()) {
        out += "reg." + Hex4(r) + "=" + std::to_string(value) + "\n";
    }
    for (int i = 0; i < TEnergyCounters::Count; ++i) {
        out +=
            "energy." + std::to_string(i) + "=" + std::to_string(meter.Energy().Tenths(i)) + "\n";
    }
    for (int i = 0; i < reg::RelayCoils; ++i) {
        out += "relay." + std::to_string(i) + "=" + (meter.Relay(i) ? "1" : "0") + "\n";
    }
    return out;
}

namespace {

// The state file's entries, gathered before they are given to the meter.
struct TStateEntries {
    TSettingsImage Settings;
    TEnergyCounters Energy;
    std::array<bool, 2> Relays;
};

// One key=value entry into the state; nullptr when taken, else what is wrong with it. Unknown
// keys are left alone.
const char* ApplyEntry(const std::string& key, const std::string& value, TStateEntries& state) {
    if (key.rfind("reg.", 0) == 0) {
        uint16_t r = 0;
        uint16_t v = 0;
        if (!Parse(key.substr(4), r, 16) || !Parse(value, v)) {
            return "bad register entry";
        }
        state.Settings[r] = v;
    } else if (key.rfind("energy.", 0) == 0) {
        int i = 0;
        uint32_t v = 0;
        if (!Parse(key.substr(7), i) || i < 0 || i >= TEnergyCounters::Count || !Parse(value, v)) {
            return "bad energy entry";
        }
        state.Energy.Set(i, v);
    } else if (key.rfind("relay.", 0) == 0) {
        int i = 0;
        if (!Parse(key.substr(6), i) || i < 0 || i >= reg::RelayCoils ||
            (value != "0" && value != "1")) {
            return "bad relay entry";
        }
        state.Relays[i] = value == "1";
    }
    return nullptr;
}

} // namespace

bool ApplyState(const std::string& text, TMeterModel& meter, std::string& error) {
    TStateEntries state{{}, meter.Energy(), {meter.Relay(0), meter.Relay(1)}};
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto eq = line.find('=');
        const char* bad = eq == std::string::npos
                              ? "no '='"
                              : ApplyEntry(line.substr(0, eq), line.substr(eq + 1), state);
        if (bad != nullptr) {
            error = "line " + std::to_string(number) + ": " + bad;
            return false;
        }
    }
    std::string why;
    if (!meter.RestoreSettings(state.Settings, why)) {
        error = why;
        return false;
    }
    meter.Energy() = state.Energy;
    meter.SetRelay(0, state.Relays[0]);
    meter.SetRelay(1, state.Relays[1]);
    return true;
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
    text.clear();
    // Non-blocking, so opening a FIFO without a writer cannot hang; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + ": not a regular file";
        ::close(fd);
        return false;
    }
    if (info.st_size > MaxStateFileBytes) {
        error = path + ": too large (more than " + std::to_string(MaxStateFileBytes) + " bytes)";
        ::close(fd);
        return false;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        // A file that grows while it is read is bounded all the same.
        if (text.size() > static_cast<std::size_t>(MaxStateFileBytes)) {
            error =
                path + ": too large (more than " + std::to_string(MaxStateFileBytes) + " bytes)";
            ::close(fd);
            text.clear();
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = temp + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = temp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = temp + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace kt580sim
