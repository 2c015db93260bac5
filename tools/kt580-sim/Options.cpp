#include "Options.h"

#include "OptionTable.h"
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

// The serial side: the meter on a terminal and the faults of its line.
const char* TerminalUsage() {
    return "Usage: kt580-sim [options]\n"
           "Simulates a KT580 meter as a Modbus RTU slave on a pseudo-terminal (or a serial\n"
           "device). The first line of output is the path of the terminal to connect to.\n"
           "\n"
           "Terminal:\n"
           "  --com N             register the terminal as COMn in the per-user port map, with\n"
           "                      a note COMn.simulator beside it naming the terminal: while\n"
           "                      connected to COMn the utility's title says [Simulator]\n"
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
           "  --meter-fault A:F   the meter answering address A misbehaves: F silent (never\n"
           "                      answers), slow=MS (begins each answer MS ms after the\n"
           "                      request instead of the --delay) or garble (answers with a\n"
           "                      broken CRC); repeatable, also for one address\n"
           "  --state FILE        keep settings, energy and relays in FILE across runs\n"
           "  --time-scale F      meter time runs F times faster than real time (default 1)\n"
           "  --miswire KIND      wire the meter wrong: missing-phase=A|B|C (no voltage on that\n"
           "                      phase), reversed-ct=PHASES (e.g. A or ABC), unbalance=F\n"
           "                      (0..1: phase A carries 1+F, phase C 1-F); repeatable\n"
           "  --mute-function FN  carry out requests of function FN (hex, e.g. 05 or 10) but\n"
           "                      never answer them; repeatable\n"
           "Line:\n"
           "  --pace              send at the line rate, after a 3.5-character silence and\n"
           "                      the turnaround delay\n"
           "  --delay MS          turnaround delay in ms (default 10 with --pace, else 0)\n"
           "  --chunk MS          pass each answer on in chunks every MS ms, as a USB\n"
           "                      adapter's latency timer does\n"
           "Faults and tests:\n"
           "  --answer-any-address answer every address, with the meter's own in the answer\n"
           "  --echo-any-address  answer every address, with the address asked in the answer\n"
           "                      (a gateway in front of one meter)\n"
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

// The meters behind a gateway on TCP instead of the terminal.
const char* GatewayUsage() {
    return "Gateway (the meters behind an Ethernet gateway, instead of a terminal):\n"
           "  --tcp PORT          serve Modbus TCP on 127.0.0.1:PORT (0: a free port); the\n"
           "                      first line of output is then modbus-tcp=127.0.0.1:PORT\n"
           "  --rtu-over-tcp PORT serve RTU frames with their CRC on 127.0.0.1:PORT (0: a free\n"
           "                      port), listed as rtu-over-tcp=127.0.0.1:PORT\n"
           "                      A unit identifier no meter has is answered with exception\n"
           "                      0B; --pace, --delay, --chunk, --busy, --fault, --lose-answer,\n"
           "                      --mute-function and the any-address options act on the\n"
           "                      terminal only\n"
           "  --gateway-latency MS  answer MS ms later, as a slow gateway does\n"
           "  --close-after-answer  close the connection after each answer\n";
}

} // namespace

std::string UsageText() {
    return std::string(TerminalUsage()) + GatewayUsage();
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

namespace {

// What the options said so far; parity and stop bits are settled together at the end.
struct TParse {
    explicit TParse(TOptions& options) : O(options) {}

    TOptions& O;
    std::string ParityName;
    int StopBits = 1;
};

using TValue = const std::string&;

bool IntIn(const std::string& text, int low, int high, int& value) {
    return Number(text, value) && value >= low && value <= high;
}

// A whole number low..high into `field`, as a TNumber.
template <typename TNumber, typename TField>
const char* TakeInt(const std::string& v, int low, int high, const char* expected, TField& field) {
    int n = 0;
    if (!IntIn(v, low, high, n)) {
        return expected;
    }
    field = static_cast<TNumber>(n);
    return nullptr;
}

const char* TakeVersion(const std::string& v, std::string& field) {
    if (v.size() > 4 || !Printable(v)) {
        return "up to 4 printable characters";
    }
    field = v;
    return nullptr;
}

template <typename TField> const char* TakeMilliseconds(const std::string& v, TField& field) {
    return TakeInt<int>(v, 0, 10000, "milliseconds 0..10000", field);
}

const char* TakePath(const std::string& v, std::string& field, const char* expected) {
    field = v;
    return field.empty() ? expected : nullptr;
}

const char* TakeBaud(const std::string& v, TParse& p) {
    uint32_t n = 0;
    const auto& all = SupportedBaudrates(TLayout{true, true});
    if (!Number(v, n) || std::find(all.begin(), all.end(), n) == all.end()) {
        return "one of 1200 2400 4800 9600 19200 38400 57600";
    }
    p.O.Baudrate = n;
    return nullptr;
}

const char* TakeFault(const std::string& v, TParse& p) {
    const auto eq = v.find('=');
    TFaultKind kind{};
    double rate = 0;
    if (eq == std::string::npos || !FaultFromName(v.substr(0, eq), kind) ||
        !Real(v.substr(eq + 1), rate) || rate < 0 || rate > 1) {
        return "KIND=RATE with KIND noise, crc, drop, truncate or split and RATE 0..1";
    }
    p.O.FaultRates[static_cast<int>(kind)] = rate;
    return nullptr;
}

const char* TakeLostFunction(const std::string& v, TParse& p) {
    const int fn = v.size() == 2 ? static_cast<int>(std::strtol(v.c_str(), nullptr, 16)) : 0;
    if (fn <= 0 || fn > 0x7F ||
        v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return "a function code in hex, 01..7F";
    }
    p.O.LoseFunctions.push_back(static_cast<uint8_t>(fn));
    return nullptr;
}

const char* TakeLostAnswer(const std::string& v, TParse& p) {
    unsigned n = 0;
    const char* end = v.data() + v.size();
    const auto [ptr, ec] = std::from_chars(v.data(), end, n, 16);
    if (v.empty() || v.size() > 4 || ec != std::errc() || ptr != end) {
        return "a register 0..FFFF in hex";
    }
    p.O.LoseAnswers.push_back(static_cast<uint16_t>(n));
    return nullptr;
}

const char* TakeExtraMeter(const std::string& v, TParse& p) {
    TExtraMeter extra;
    const auto first = v.find(',');
    const auto second = first == std::string::npos ? first : v.find(',', first + 1);
    int n = 0;
    if (!IntIn(v.substr(0, first), 1, 247, n)) {
        return "A[,SERIAL[,TYPE]] with an address 1..247";
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
        return "a serial number of up to 32 and a type of up to 4 printable characters";
    }
    p.O.ExtraMeters.push_back(extra);
    return nullptr;
}

const char* Set(bool& flag) {
    flag = true;
    return nullptr;
}

const TOptionRule<TParse> OptionRules[] = {
    {"--help", false, [](TValue, TParse& p) { return Set(p.O.Help); }},
    {"-h", false, [](TValue, TParse& p) { return Set(p.O.Help); }},
    {"--pace", false, [](TValue, TParse& p) { return Set(p.O.Pace); }},
    {"--log", false, [](TValue, TParse& p) { return Set(p.O.Log); }},
    {"--answer-any-address", false, [](TValue, TParse& p) { return Set(p.O.AnswerAnyAddress); }},
    {"--echo-any-address", false,
     [](TValue, TParse& p) {
         p.O.EchoAnyAddress = true;
         return Set(p.O.AnswerAnyAddress);
     }},
    {"--com", true,
     [](TValue v, TParse& p) { return TakeInt<int>(v, 1, 255, "a port number 1..255", p.O.Com); }},
    {"--link", true, [](TValue v, TParse& p) { return TakePath(v, p.O.LinkPath, "a path"); }},
    {"--device", true, [](TValue v, TParse& p) { return TakePath(v, p.O.DevicePath, "a path"); }},
    {"--address", true,
     [](TValue v, TParse& p) {
         return TakeInt<uint8_t>(v, 1, 247, "an address 1..247", p.O.Address);
     }},
    {"--baud", true, TakeBaud},
    {"--parity", true,
     [](TValue v, TParse& p) -> const char* {
         p.ParityName = v;
         return v == "none" || v == "even" || v == "odd" ? nullptr : "none, even or odd";
     }},
    {"--stop-bits", true,
     [](TValue v, TParse& p) -> const char* {
         return Number(v, p.StopBits) && (p.StopBits == 1 || p.StopBits == 2) ? nullptr : "1 or 2";
     }},
    {"--version-text", true,
     [](TValue v, TParse& p) { return TakeVersion(v, p.O.Identity.SoftwareVersion); }},
    {"--hardware-version", true,
     [](TValue v, TParse& p) { return TakeVersion(v, p.O.Identity.HardwareVersion); }},
    {"--release-date", true,
     [](TValue v, TParse& p) -> const char* {
         if (v.size() != 6 || !std::all_of(v.begin(), v.end(), ::isdigit)) {
             return "six digits YYMMDD";
         }
         p.O.Identity.ReleaseDate = v;
         return nullptr;
     }},
    {"--serial", true,
     [](TValue v, TParse& p) -> const char* {
         if (v.size() > 32 || !Printable(v)) {
             return "up to 32 printable characters";
         }
         p.O.Identity.SerialNumber = v;
         return nullptr;
     }},
    {"--ao-type", true,
     [](TValue v, TParse& p) {
         return TakeInt<uint16_t>(v, 0, 65535, "a number 0..65535 (1 current, 2 voltage)",
                                  p.O.Identity.AOType);
     }},
    {"--delay", true, [](TValue v, TParse& p) { return TakeMilliseconds(v, p.O.DelayMs); }},
    {"--chunk", true,
     [](TValue v, TParse& p) -> const char* {
         return TakeInt<int>(v, 1, 1000, "milliseconds 1..1000", p.O.ChunkMs);
     }},
    {"--busy", true, [](TValue v, TParse& p) { return TakeMilliseconds(v, p.O.BusyMs); }},
    {"--fault", true, TakeFault},
    {"--seed", true,
     [](TValue v, TParse& p) -> const char* {
         uint64_t n = 0;
         if (!Number(v, n)) {
             return "a whole number";
         }
         p.O.Seed = n;
         return nullptr;
     }},
    {"--requests", true,
     [](TValue v, TParse& p) -> const char* {
         uint64_t n = 0;
         if (!Number(v, n) || n == 0) {
             return "a count above 0";
         }
         p.O.Requests = n;
         return nullptr;
     }},
    {"--state", true,
     [](TValue v, TParse& p) { return TakePath(v, p.O.StateFile, "a file name"); }},
    {"--time-scale", true,
     [](TValue v, TParse& p) -> const char* {
         double f = 0;
         if (!Real(v, f) || f < 0 || f > 1e6) {
             return "a factor 0..1000000";
         }
         p.O.TimeScale = f;
         return nullptr;
     }},
    {"--lose-answer", true, TakeLostAnswer},
    {"--miswire", true,
     [](TValue v, TParse& p) -> const char* {
         return ParseMiswire(v, p.O.Wiring)
                    ? nullptr
                    : "missing-phase=A|B|C, reversed-ct=PHASES or unbalance=0..1";
     }},
    {"--mute-function", true, TakeLostFunction},
    {"--extra-meter", true, TakeExtraMeter},
    {"--tcp", true,
     [](TValue v, TParse& p) {
         return TakeInt<uint16_t>(v, 0, 65535, "a port 0..65535", p.O.TcpPort);
     }},
    {"--rtu-over-tcp", true,
     [](TValue v, TParse& p) {
         return TakeInt<uint16_t>(v, 0, 65535, "a port 0..65535", p.O.RtuOverTcpPort);
     }},
    {"--gateway-latency", true,
     [](TValue v, TParse& p) { return TakeMilliseconds(v, p.O.GatewayLatencyMs); }},
    {"--close-after-answer", false, [](TValue, TParse& p) { return Set(p.O.CloseAfterAnswer); }},
    {"--meter-fault", true,
     [](TValue v, TParse& p) -> const char* {
         TMeterFault fault;
         if (!ParseMeterFault(v, fault)) {
             return "A:silent, A:slow=MS (0..10000) or A:garble with an address 1..247";
         }
         p.O.MeterFaults.push_back(fault);
         return nullptr;
     }},
};

// The gateway serves TCP in place of the terminal: options of either kind alone.
bool GatewayOptionsFit(const TOptions& o, std::string& error) {
    const bool tcp = o.TcpPort || o.RtuOverTcpPort;
    if (tcp && (o.Com || !o.LinkPath.empty() || !o.DevicePath.empty())) {
        error = "--com, --link and --device name a terminal, which --tcp and --rtu-over-tcp "
                "replace: use one or the other";
        return false;
    }
    if (!tcp && (o.GatewayLatencyMs > 0 || o.CloseAfterAnswer)) {
        error = "--gateway-latency and --close-after-answer need --tcp or --rtu-over-tcp";
        return false;
    }
    return true;
}

// Parity and stop bits given on the command line, as one meter setting.
bool SettleParity(TParse& p, std::string& error) {
    if (p.ParityName.empty() && p.StopBits == 1) {
        return true;
    }
    if (p.ParityName.empty()) {
        p.ParityName = "none";
    }
    if (p.StopBits == 2 && p.ParityName != "none") {
        error = "--stop-bits 2 is offered only with --parity none";
        return false;
    }
    p.O.Parity = p.ParityName == "even"  ? TMeterParity::Even
                 : p.ParityName == "odd" ? TMeterParity::Odd
                 : p.StopBits == 2       ? TMeterParity::None2
                                         : TMeterParity::None1;
    return true;
}

bool BaudOffered(const TOptions& o, std::string& error) {
    const auto& offered =
        SupportedBaudrates(TLayout{HasExtendedLayout(o.Identity.SoftwareVersion), false});
    if (o.Baudrate && std::find(offered.begin(), offered.end(), *o.Baudrate) == offered.end()) {
        error = "a meter with software version '";
        error += o.Identity.SoftwareVersion;
        error += "' offers no baud rate above 19200";
        return false;
    }
    return true;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, TOptions& o, std::string& error) {
    TParse p(o);
    const auto unknown = [](const std::string& arg, std::string& message) {
        message = "unknown option '" + arg + "' (see --help)";
        return false;
    };
    if (!ApplyOptionTable<TParse>(OptionRules, args, p, error, unknown)) {
        return false;
    }
    return SettleParity(p, error) && BaudOffered(o, error) && GatewayOptionsFit(o, error);
}

} // namespace kt580sim
