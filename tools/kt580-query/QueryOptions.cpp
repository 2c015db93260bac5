#include "QueryOptions.h"

#include "OptionTable.h"
#include "meter/AddressList.h"
#include "modbus/KrTcpTransport.h"
#include "platform/PortName.h"
#include "scan/ScanPlan.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <sys/stat.h>

namespace {

bool Number(const std::string& text, long long low, long long high, long long& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end && value >= low && value <= high;
}

bool AllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

std::string QueryUsage() {
    return "Usage: kt580-query [options] QUERY...\n"
           "       kt580-query --scan [--all] [options]\n"
           "Sends Modbus query texts to a meter and prints each outcome.\n"
           "A query text is the request without its check field, two hex digits per byte,\n"
           "for example 01,03,14,00,00,15.\n"
           "\n"
           "  --port COMn|N|PATH  serial port (default COM1)\n"
           "  --tcp HOST[:PORT]   a Modbus TCP gateway instead of the serial port (port\n"
           "                      502 unless given); --address is the unit id, and the\n"
           "                      time-out 5000 unless --timeout says otherwise\n"
           "  --rtu-over-tcp HOST[:PORT]  the same for a gateway that passes RTU frames\n"
           "  --baud N            baud rate (default 19200)\n"
           "  --parity P          none1, none2, even or odd (default none1)\n"
           "  --address A         put address A (0..247) in place of each text's first byte;\n"
           "                      a list of meters (1,3,7-9) sends every text to each in\n"
           "                      turn and totals the outcomes per meter\n"
           "  --interval MS       polling period (default 500)\n"
           "  --timeout MS        give a query up after MS (default 3000); with --scan, how\n"
           "                      long a probe waits for an answer to begin (default 100;\n"
           "                      below 100 a quick scan that can miss slow meters)\n"
           "  --count N           rounds over the queries, 0 until interrupted (default 1)\n"
           "  --ascii             Modbus ASCII instead of RTU\n"
           "  --old-format        the old protocol variant\n"
           "  --trace             print every frame sent and chunk received in hex\n"
           "  --csv FILE          record the metering reads to CSV instead of sending QUERY\n"
           "                      texts; --count is then the number of rows (default 0:\n"
           "                      until interrupted); a new file each day; with a list of\n"
           "                      meters, a file per meter named by its serial number\n"
           "  --csv-max-mb N      with --csv, a new file when one would pass N megabytes\n"
           "  --scan              find meters: every baud rate, parity and address 1..247,\n"
           "                      those of --baud, --parity and --address first; one line\n"
           "                      per meter found. Takes --port, --baud, --parity,\n"
           "                      --address, --timeout and --all only\n"
           "  --all               with --scan, every meter on the line, not only the first\n"
           "  --help              this text\n"
           "\n"
           "Exit status: 0 every query got a valid response (with --scan: a meter was\n"
           "found), 1 otherwise, 2 bad usage or the port cannot be opened.\n";
}

namespace {

// What the options said so far.
struct TParse {
    explicit TParse(TQueryOptions& options) : O(options) {}

    TQueryOptions& O;
    bool CountGiven = false;
    bool TimeoutGiven = false;
    std::vector<std::string> Given; // the options named, in order
    std::string Problem;            // a refusal's text made for the value given
};

using TValue = const std::string&;

const char* Set(bool& flag) {
    flag = true;
    return nullptr;
}

const char* TakePort(TValue v, TParse& p) {
    long long n = 0;
    if (v.empty()) {
        return "a port name, number or path";
    }
    if (const auto com = ComPortNumber(v)) {
        if (*com > 0xFFFF) {
            return "a port number up to 65535";
        }
        p.O.PortNum = static_cast<std::uint16_t>(*com);
        p.O.PortPath.clear();
    } else if (AllDigits(v)) {
        if (!Number(v, 1, 0xFFFF, n)) {
            return "a port number 1..65535";
        }
        p.O.PortNum = static_cast<std::uint16_t>(n);
        p.O.PortPath.clear();
    } else {
        p.O.PortPath = v;
    }
    return nullptr;
}

const char* TakeParity(TValue v, TParse& p) {
    if (v == "none1" || v == "none2") {
        p.O.Parity = TParity::None;
    } else if (v == "even") {
        p.O.Parity = TParity::Even;
    } else if (v == "odd") {
        p.O.Parity = TParity::Odd;
    } else {
        return "none1, none2, even or odd";
    }
    p.O.StopBits = v == "none2" ? TStopBits::_2 : TStopBits::_1;
    return nullptr;
}

// A whole number low..high into `field`, as a TNumber.
template <typename TNumber, typename TField>
const char* TakeNumber(TValue v, long long low, long long high, const char* expected,
                       TField& field) {
    long long n = 0;
    if (!Number(v, low, high, n)) {
        return expected;
    }
    field = static_cast<TNumber>(n);
    return nullptr;
}

const char* TakeMilliseconds(TValue v, int& field) {
    return TakeNumber<int>(v, 0, 3600000, "milliseconds 0..3600000", field);
}

// One address 0..247 (0 the broadcast), or a list of meters such as 1,3,7-9.
const char* TakeAddress(TValue v, TParse& p) {
    p.O.Addresses.clear();
    if (AllDigits(v) || v.empty()) {
        return TakeNumber<std::uint8_t>(v, 0, 247, "an address 0..247", p.O.Address);
    }
    QString error;
    const auto list = ParseAddressList(QString::fromStdString(v), error);
    if (!list) {
        p.Problem = "an address 0..247 or a list such as 1,3,7-9; " + error.toStdString();
        return p.Problem.c_str();
    }
    for (const int address : *list) {
        p.O.Addresses.push_back(static_cast<std::uint8_t>(address));
    }
    p.O.Address = p.O.Addresses.front();
    return nullptr;
}

// HOST, HOST:PORT, [IPv6] or [IPv6]:PORT; a bare IPv6 address has no port.
const char* TakeGateway(TValue v, TParse& p, bool rtuOverTcp) {
    const char* const bad = "HOST[:PORT] with a port 1..65535, an IPv6 address in brackets";
    std::string host = v;
    std::string port;
    bool portGiven = false;
    if (!v.empty() && v.front() == '[') {
        const auto close = v.find(']');
        if (close == std::string::npos || (close + 1 < v.size() && v[close + 1] != ':')) {
            return bad;
        }
        host = v.substr(1, close - 1);
        portGiven = close + 1 < v.size();
        port = portGiven ? v.substr(close + 2) : std::string();
    } else if (std::count(v.begin(), v.end(), ':') == 1) {
        const auto colon = v.find(':');
        host = v.substr(0, colon);
        port = v.substr(colon + 1);
        portGiven = true;
    }
    long long n = TTcpPort::DefaultPort;
    if (host.empty() || (portGiven && !Number(port, 1, 0xFFFF, n))) {
        return bad;
    }
    if (!p.O.TcpHost.empty()) {
        return "one gateway: --tcp or --rtu-over-tcp, once";
    }
    p.O.TcpHost = host;
    p.O.TcpPort = static_cast<std::uint16_t>(n);
    p.O.RtuOverTcp = rtuOverTcp;
    return nullptr;
}

const TOptionRule<TParse> OptionRules[] = {
    {"--help", false, [](TValue, TParse& p) { return Set(p.O.Help); }},
    {"-h", false, [](TValue, TParse& p) { return Set(p.O.Help); }},
    {"--ascii", false, [](TValue, TParse& p) { return Set(p.O.Ascii); }},
    {"--old-format", false, [](TValue, TParse& p) { return Set(p.O.OldFormat); }},
    {"--trace", false, [](TValue, TParse& p) { return Set(p.O.Trace); }},
    {"--scan", false, [](TValue, TParse& p) { return Set(p.O.Scan); }},
    {"--all", false, [](TValue, TParse& p) { return Set(p.O.ScanAll); }},
    {"--port", true, TakePort},
    {"--tcp", true, [](TValue v, TParse& p) { return TakeGateway(v, p, false); }},
    {"--rtu-over-tcp", true, [](TValue v, TParse& p) { return TakeGateway(v, p, true); }},
    {"--baud", true,
     [](TValue v, TParse& p) {
         return TakeNumber<int>(v, 1, 4000000, "a baud rate above 0", p.O.Baud);
     }},
    {"--parity", true, TakeParity},
    {"--address", true, TakeAddress},
    {"--interval", true, [](TValue v, TParse& p) { return TakeMilliseconds(v, p.O.IntervalMs); }},
    {"--timeout", true,
     [](TValue v, TParse& p) {
         p.TimeoutGiven = true;
         return TakeMilliseconds(v, p.O.TimeoutMs);
     }},
    {"--count", true,
     [](TValue v, TParse& p) -> const char* {
         if (const char* bad =
                 TakeNumber<long long>(v, 0, 1000000000, "a count 0..1000000000", p.O.Count)) {
             return bad;
         }
         p.CountGiven = true;
         return nullptr;
     }},
    {"--csv", true,
     [](TValue v, TParse& p) -> const char* {
         if (v.empty()) {
             return "a file name";
         }
         p.O.CsvPath = v;
         return nullptr;
     }},
    {"--csv-max-mb", true,
     [](TValue v, TParse& p) -> const char* {
         long long n = 0;
         if (!Number(v, 1, 1000000, n)) {
             return "megabytes 1..1000000";
         }
         p.O.CsvMaxBytes = n * 1024 * 1024;
         return nullptr;
     }},
};

bool LooksLikeOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' && arg[1] == '-';
}

// Why a recording cannot go to `path`, if it cannot: only a regular file, or a name for a new
// one, holds a recording.
std::string CsvPathProblem(const std::string& path) {
    struct stat st {};
    if (path.back() == '/') {
        return "--csv needs a file name, not a folder: " + path;
    }
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) {
        return {};
    }
    const char* what = S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISCHR(st.st_mode)  ? "a device"
                       : S_ISFIFO(st.st_mode) ? "a pipe"
                                              : "not a regular file";
    return "--csv records only to a regular file; " + path + " is " + what;
}

bool Given(const TParse& p, const char* name) {
    return std::find(p.Given.begin(), p.Given.end(), name) != p.Given.end();
}

// What --scan cannot honour: options of the queries, rates it does not try, address 0.
std::string ScanProblem(TParse& p) {
    TQueryOptions& o = p.O;
    for (const char* name : {"--count", "--interval", "--ascii", "--old-format", "--trace"}) {
        if (Given(p, name)) {
            return std::string(name) +
                   " does not go with --scan (it takes --port, --baud, --parity, --address, "
                   "--timeout and --all)";
        }
    }
    const auto& rates = OfferedBaudRates();
    if (std::find(rates.begin(), rates.end(), static_cast<std::uint32_t>(o.Baud)) == rates.end()) {
        return "--scan tries the baud rates 1200, 2400, 4800, 9600, 19200, 38400 and 57600; " +
               std::to_string(o.Baud) + " is not one of them";
    }
    if (o.Address && *o.Address == 0) {
        return "--scan looks for meters at addresses 1..247; 0 is the broadcast address";
    }
    if (p.TimeoutGiven) {
        if (o.TimeoutMs < ShortestScanWaitMs) {
            return "--timeout with --scan: at least " + std::to_string(ShortestScanWaitMs) +
                   " ms for a meter to begin its answer";
        }
        o.ScanWaitMs = o.TimeoutMs;
    }
    return {};
}

// What a gateway cannot do; empty when nothing.
std::string GatewayProblem(TParse& p) {
    TQueryOptions& o = p.O;
    if (o.TcpHost.empty()) {
        return {};
    }
    if (o.Scan) {
        return "--scan searches serial lines; leave out --tcp and --rtu-over-tcp";
    }
    if (o.Ascii) {
        return "Modbus ASCII does not go through a TCP gateway; leave out --ascii";
    }
    if (Given(p, "--port")) {
        return "--port names a serial port; a gateway takes --tcp or --rtu-over-tcp alone";
    }
    if (!p.TimeoutGiven) {
        o.TimeoutMs = TKrTcpTransport::DefaultQueryTimeout;
    }
    return {};
}

// The options that go together, or do not.
bool Combined(TParse& p, std::string& error) {
    TQueryOptions& o = p.O;
    if (error = GatewayProblem(p); !error.empty()) {
        return false;
    }
    if (!o.CsvPath.empty()) {
        if (error = CsvPathProblem(o.CsvPath); !error.empty()) {
            return false;
        }
        if (!o.Queries.empty()) {
            error = "--csv records the metering reads; it takes no QUERY";
            return false;
        }
        if (!p.CountGiven) {
            o.Count = 0;
        }
    } else if (o.CsvMaxBytes > 0) {
        error = "--csv-max-mb needs --csv";
        return false;
    }
    if (o.Addresses.size() > 1 && o.Scan) {
        error = "--scan takes one address to try first, not a list";
        return false;
    }
    if (o.Scan && (!o.Queries.empty() || !o.CsvPath.empty())) {
        error = "--scan takes no query and no --csv";
        return false;
    }
    if (o.ScanAll && !o.Scan) {
        error = "--all goes with --scan";
        return false;
    }
    if (o.Scan) {
        if (error = ScanProblem(p); !error.empty()) {
            return false;
        }
    }
    if (!o.Help && !o.Scan && o.Queries.empty() && o.CsvPath.empty()) {
        error = "no query given";
        return false;
    }
    return true;
}

} // namespace

bool ParseQueryOptions(const std::vector<std::string>& args, TQueryOptions& o, std::string& error) {
    TParse p(o);
    // What is not an option is a query; what looks like one is refused.
    for (const std::string& arg : args) {
        if (LooksLikeOption(arg)) {
            p.Given.push_back(arg);
        }
    }
    const auto query = [&o](const std::string& arg, std::string& message) {
        if (LooksLikeOption(arg)) {
            message = "unknown option " + arg;
            return false;
        }
        o.Queries.push_back(arg);
        return true;
    };
    if (!ApplyOptionTable<TParse>(OptionRules, args, p, error, query)) {
        return false;
    }
    return Combined(p, error);
}
