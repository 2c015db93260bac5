#include "Options.h"

#include "SettingsChecks.h"
#include "VersionRules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kt580sim {

namespace {

template <typename T> bool Number(const std::string& text, T& value) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

bool Real(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    std::size_t used = 0;
    try {
        value = std::stod(text, &used);
    } catch (...) {
        return false;
    }
    return used == text.size() && std::isfinite(value);
}

bool Printable(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

} // namespace

std::string UsageText() {
    return "Usage: kt580-sim [options]\n"
           "Simulates a KT580 meter as a Modbus RTU slave on a pseudo-terminal (or a serial\n"
           "device). The first line of output is the path of the terminal to connect to.\n"
           "\n"
           "Terminal:\n"
           "  --com N             register the terminal as COMn in the per-user port map\n"
           "  --link PATH         make a symlink PATH to the terminal\n"
           "  --device PATH       serve an existing serial device instead of a pseudo-terminal\n"
           "Meter:\n"
           "  --address N         device address 1..247 (default 1)\n"
           "  --baud N            1200 2400 4800 9600 19200 38400 57600 (default 19200;\n"
           "                      the last two only with the extended layout)\n"
           "  --parity P          none, even or odd (default none)\n"
           "  --stop-bits N       1 or 2; 2 only with parity none (default 1)\n"
           "  --version-text T    software version, up to 4 characters (default 3.20)\n"
           "  --hardware-version T  hardware version (default 1.00)\n"
           "  --release-date D    release date YYMMDD (default 190815)\n"
           "  --serial T          serial number, up to 32 characters\n"
           "  --ao-type N         analog output type: 1 current, 2 voltage (default 1)\n"
           "  --extra-meter A[,SERIAL[,TYPE]]  one more meter on the same line at address A,\n"
           "                      with its own serial number and device type (repeatable)\n"
           "  --state FILE        keep settings, energy and relays in FILE across runs\n"
           "  --time-scale F      meter time runs F times faster than real time (default 1)\n"
           "  --miswire KIND      wire the meter wrong: missing-phase=A|B|C (no voltage on that\n"
           "                      phase), reversed-ct=PHASES (e.g. A or ABC), unbalance=F\n"
           "                      (0..1: phase A carries 1+F, phase C 1-F); repeatable\n"
           "  --lose-answers FN   carry out requests of function FN (hex, e.g. 05 or 10) but\n"
           "                      never answer them; repeatable\n"
           "Line:\n"
           "  --pace              send at the line rate, after a 3.5-character silence and\n"
           "                      the turnaround delay\n"
           "  --delay MS          turnaround delay in ms (default 10 with --pace, else 0)\n"
           "Faults and tests:\n"
           "  --answer-any-address answer every address, with the meter's own in the answer\n"
           "  --busy MS           ignore a request arriving within MS ms of the last answer\n"
           "  --fault KIND=RATE   KIND noise, crc, drop, truncate or split; RATE 0..1\n"
           "                      (repeatable)\n"
           "  --seed N            seed of the fault choices\n"
           "  --lose-answer REG   the answer to the next request for register REG (hex) is\n"
           "                      not sent (repeatable: each loses one more)\n"
           "  --requests N        exit after N requests\n"
           "  --log               print every request and answer in hex on stderr\n"
           "  --help              this text\n";
}

// One --miswire value into the wiring.
bool ParseMiswire(const std::string& v, TWiring& wiring) {
    const auto eq = v.find('=');
    if (eq == std::string::npos || eq + 1 >= v.size()) {
        return false;
    }
    const std::string kind = v.substr(0, eq);
    const std::string value = v.substr(eq + 1);
    const auto phase = [](char c) { return c >= 'A' && c <= 'C' ? c - 'A' : -1; };
    if (kind == "missing-phase") {
        if (value.size() != 1 || phase(value[0]) < 0) {
            return false;
        }
        wiring.MissingPhase = phase(value[0]);
        return true;
    }
    if (kind == "reversed-ct") {
        for (const char c : value) {
            if (phase(c) < 0) {
                return false;
            }
            wiring.ReversedCT[static_cast<std::size_t>(phase(c))] = true;
        }
        return true;
    }
    if (kind == "unbalance") {
        double f = 0;
        if (!Real(value, f) || f < 0 || f > 1) {
            return false;
        }
        wiring.Unbalance = f;
        return true;
    }
    return false;
}

// Every option that takes a value; the others are --help, --pace, --log and
// --answer-any-address.
constexpr const char* ValueOptions[] = {"--com",          "--link",         "--device",
                                        "--address",      "--baud",         "--parity",
                                        "--stop-bits",    "--version-text", "--hardware-version",
                                        "--release-date", "--serial",       "--ao-type",
                                        "--delay",        "--fault",        "--seed",
                                        "--requests",     "--state",        "--time-scale",
                                        "--lose-answer",  "--miswire",      "--lose-answers",
                                        "--extra-meter",  "--busy"};

bool ParseOptions(const std::vector<std::string>& args, TOptions& o, std::string& error) {
    std::string parityName;
    int stopBits = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            o.Help = true;
            continue;
        }
        if (arg == "--pace") {
            o.Pace = true;
            continue;
        }
        if (arg == "--log") {
            o.Log = true;
            continue;
        }
        if (arg == "--answer-any-address") {
            o.AnswerAnyAddress = true;
            continue;
        }
        if (std::find(std::begin(ValueOptions), std::end(ValueOptions), arg) ==
            std::end(ValueOptions)) {
            error = "unknown option '" + arg + "' (see --help)";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = "option " + arg + " needs a value";
            return false;
        }
        const std::string& v = args[++i];
        const auto bad = [&](const std::string& expected) {
            error = "bad value '" + v + "' for " + arg + ": " + expected;
            return false;
        };
        if (arg == "--com") {
            int n = 0;
            if (!Number(v, n) || n < 1 || n > 255) {
                return bad("a port number 1..255");
            }
            o.Com = n;
        } else if (arg == "--link") {
            o.LinkPath = v;
            if (o.LinkPath.empty()) {
                return bad("a path");
            }
        } else if (arg == "--device") {
            o.DevicePath = v;
            if (o.DevicePath.empty()) {
                return bad("a path");
            }
        } else if (arg == "--address") {
            int n = 0;
            if (!Number(v, n) || n < 1 || n > 247) {
                return bad("an address 1..247");
            }
            o.Address = static_cast<uint8_t>(n);
        } else if (arg == "--baud") {
            uint32_t n = 0;
            const auto& all = SupportedBaudrates(TLayout{true, true});
            if (!Number(v, n) || std::find(all.begin(), all.end(), n) == all.end()) {
                return bad("one of 1200 2400 4800 9600 19200 38400 57600");
            }
            o.Baudrate = n;
        } else if (arg == "--parity") {
            parityName = v;
            if (parityName != "none" && parityName != "even" && parityName != "odd") {
                return bad("none, even or odd");
            }
        } else if (arg == "--stop-bits") {
            if (!Number(v, stopBits) || (stopBits != 1 && stopBits != 2)) {
                return bad("1 or 2");
            }
        } else if (arg == "--version-text" || arg == "--hardware-version") {
            if (v.size() > 4 || !Printable(v)) {
                return bad("up to 4 printable characters");
            }
            (arg == "--version-text" ? o.Identity.SoftwareVersion : o.Identity.HardwareVersion) = v;
        } else if (arg == "--release-date") {
            if (v.size() != 6 || !std::all_of(v.begin(), v.end(), ::isdigit)) {
                return bad("six digits YYMMDD");
            }
            o.Identity.ReleaseDate = v;
        } else if (arg == "--serial") {
            if (v.size() > 32 || !Printable(v)) {
                return bad("up to 32 printable characters");
            }
            o.Identity.SerialNumber = v;
        } else if (arg == "--ao-type") {
            int n = 0;
            if (!Number(v, n) || n < 0 || n > 65535) {
                return bad("a number 0..65535 (1 current, 2 voltage)");
            }
            o.Identity.AOType = static_cast<uint16_t>(n);
        } else if (arg == "--delay") {
            int n = 0;
            if (!Number(v, n) || n < 0 || n > 10000) {
                return bad("milliseconds 0..10000");
            }
            o.DelayMs = n;
        } else if (arg == "--busy") {
            int n = 0;
            if (!Number(v, n) || n < 0 || n > 10000) {
                return bad("milliseconds 0..10000");
            }
            o.BusyMs = n;
        } else if (arg == "--fault") {
            const auto eq = v.find('=');
            TFaultKind kind{};
            double rate = 0;
            if (eq == std::string::npos || !FaultFromName(v.substr(0, eq), kind) ||
                !Real(v.substr(eq + 1), rate) || rate < 0 || rate > 1) {
                return bad("KIND=RATE with KIND noise, crc, drop, truncate or split and "
                           "RATE 0..1");
            }
            o.FaultRates[static_cast<int>(kind)] = rate;
        } else if (arg == "--seed") {
            uint64_t n = 0;
            if (!Number(v, n)) {
                return bad("a whole number");
            }
            o.Seed = n;
        } else if (arg == "--requests") {
            uint64_t n = 0;
            if (!Number(v, n) || n == 0) {
                return bad("a count above 0");
            }
            o.Requests = n;
        } else if (arg == "--state") {
            o.StateFile = v;
            if (o.StateFile.empty()) {
                return bad("a file name");
            }
        } else if (arg == "--miswire") {
            if (!ParseMiswire(v, o.Wiring)) {
                return bad("missing-phase=A|B|C, reversed-ct=PHASES or unbalance=0..1");
            }
        } else if (arg == "--lose-answers") {
            const int fn =
                v.size() == 2 ? static_cast<int>(std::strtol(v.c_str(), nullptr, 16)) : 0;
            if (fn <= 0 || fn > 0x7F ||
                v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                return bad("a function code in hex, 01..7F");
            }
            o.LoseFunctions.push_back(static_cast<uint8_t>(fn));
        } else if (arg == "--lose-answer") {
            unsigned n = 0;
            const char* end = v.data() + v.size();
            const auto [ptr, ec] = std::from_chars(v.data(), end, n, 16);
            if (v.empty() || v.size() > 4 || ec != std::errc() || ptr != end) {
                return bad("a register 0..FFFF in hex");
            }
            o.LoseAnswers.push_back(static_cast<uint16_t>(n));

        } else if (arg == "--extra-meter") {
            TExtraMeter extra;
            const auto first = v.find(',');
            const auto second = first == std::string::npos ? first : v.find(',', first + 1);
            int n = 0;
            if (!Number(v.substr(0, first), n) || n < 1 || n > 247) {
                return bad("A[,SERIAL[,TYPE]] with an address 1..247");
            }
            extra.Address = static_cast<uint8_t>(n);
            if (first != std::string::npos) {
                extra.SerialNumber = v.substr(first + 1, second - first - 1);
            }
            if (second != std::string::npos) {
                extra.DeviceType = v.substr(second + 1);
            }
            if (extra.SerialNumber.size() > 32 || !Printable(extra.SerialNumber) ||
                extra.DeviceType.size() > 4 || !Printable(extra.DeviceType)) {
                return bad("a serial number of up to 32 and a type of up to 4 printable "
                           "characters");
            }
            o.ExtraMeters.push_back(extra);
        } else if (arg == "--time-scale") {
            double f = 0;
            if (!Real(v, f) || f < 0 || f > 1e6) {
                return bad("a factor 0..1000000");
            }
            o.TimeScale = f;
        }
    }
    if (!parityName.empty() || stopBits != 1) {
        if (parityName.empty()) {
            parityName = "none";
        }
        if (stopBits == 2 && parityName != "none") {
            error = "--stop-bits 2 is offered only with --parity none";
            return false;
        }
        o.Parity = parityName == "even"  ? TMeterParity::Even
                   : parityName == "odd" ? TMeterParity::Odd
                   : stopBits == 2       ? TMeterParity::None2
                                         : TMeterParity::None1;
    }
    const auto& offered =
        SupportedBaudrates(TLayout{HasExtendedLayout(o.Identity.SoftwareVersion), false});
    if (o.Baudrate && std::find(offered.begin(), offered.end(), *o.Baudrate) == offered.end()) {
        error = "a meter with software version '" + o.Identity.SoftwareVersion +
                "' offers no baud rate above 19200";
        return false;
    }
    return true;
}

} // namespace kt580sim
