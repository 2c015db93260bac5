#include "QueryOptions.h"

#include "platform/PortName.h"

#include <charconv>

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
           "  --baud N            baud rate (default 19200)\n"
           "  --parity P          none1, none2, even or odd (default none1)\n"
           "  --address A         put address A (0..247) in place of each text's first byte\n"
           "  --interval MS       polling period (default 500)\n"
           "  --timeout MS        give a query up after MS (default 3000)\n"
           "  --count N           rounds over the queries, 0 until interrupted (default 1)\n"
           "  --ascii             Modbus ASCII instead of RTU\n"
           "  --old-format        the old protocol variant\n"
           "  --trace             print every frame sent and chunk received in hex\n"
           "  --csv FILE          record the metering reads to CSV instead of sending QUERY\n"
           "                      texts; --count is then the number of rows (default 0:\n"
           "                      until interrupted); a new file each day\n"
           "  --csv-max-mb N      with --csv, a new file when one would pass N megabytes\n"
           "  --scan              find meters: every baud rate, parity and address 1..247,\n"
           "                      those of --baud, --parity and --address first; one line\n"
           "                      per meter found\n"
           "  --all               with --scan, every meter on the line, not only the first\n"
           "  --help              this text\n"
           "\n"
           "Exit status: 0 every query got a valid response (with --scan: a meter was\n"
           "found), 1 otherwise, 2 bad usage or the port cannot be opened.\n";
}

bool ParseQueryOptions(const std::vector<std::string>& args, TQueryOptions& o, std::string& error) {
    bool countGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string v;
        const auto value = [&]() {
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        const auto bad = [&](const std::string& expected) {
            error = "bad value '" + v + "' for " + arg + ": " + expected;
            return false;
        };
        long long n = 0;
        if (arg == "--help" || arg == "-h") {
            o.Help = true;
        } else if (arg == "--ascii") {
            o.Ascii = true;
        } else if (arg == "--old-format") {
            o.OldFormat = true;
        } else if (arg == "--trace") {
            o.Trace = true;
        } else if (arg == "--scan") {
            o.Scan = true;
        } else if (arg == "--all") {
            o.ScanAll = true;
        } else if (arg == "--port") {
            if (!value()) {
                return false;
            }
            if (const auto com = ComPortNumber(v)) {
                if (*com > 0xFFFF) {
                    return bad("a port number up to 65535");
                }
                o.PortNum = static_cast<std::uint16_t>(*com);
                o.PortPath.clear();
            } else if (AllDigits(v)) {
                if (!Number(v, 1, 0xFFFF, n)) {
                    return bad("a port number 1..65535");
                }
                o.PortNum = static_cast<std::uint16_t>(n);
                o.PortPath.clear();
            } else {
                o.PortPath = v;
            }
        } else if (arg == "--baud") {
            if (!value()) {
                return false;
            }
            if (!Number(v, 1, 4000000, n)) {
                return bad("a baud rate above 0");
            }
            o.Baud = static_cast<int>(n);
        } else if (arg == "--parity") {
            if (!value()) {
                return false;
            }
            if (v == "none1") {
                o.Parity = TParity::None;
                o.StopBits = TStopBits::_1;
            } else if (v == "none2") {
                o.Parity = TParity::None;
                o.StopBits = TStopBits::_2;
            } else if (v == "even") {
                o.Parity = TParity::Even;
                o.StopBits = TStopBits::_1;
            } else if (v == "odd") {
                o.Parity = TParity::Odd;
                o.StopBits = TStopBits::_1;
            } else {
                return bad("none1, none2, even or odd");
            }
        } else if (arg == "--address") {
            if (!value()) {
                return false;
            }
            if (!Number(v, 0, 247, n)) {
                return bad("an address 0..247");
            }
            o.Address = static_cast<std::uint8_t>(n);
        } else if (arg == "--interval" || arg == "--timeout") {
            if (!value()) {
                return false;
            }
            if (!Number(v, 0, 3600000, n)) {
                return bad("milliseconds 0..3600000");
            }
            (arg == "--interval" ? o.IntervalMs : o.TimeoutMs) = static_cast<int>(n);
        } else if (arg == "--count") {
            if (!value()) {
                return false;
            }
            if (!Number(v, 0, 1000000000, n)) {
                return bad("a count 0..1000000000");
            }
            o.Count = n;
            countGiven = true;
        } else if (arg == "--csv") {
            if (!value()) {
                return false;
            }
            if (v.empty()) {
                return bad("a file name");
            }
            o.CsvPath = v;
        } else if (arg == "--csv-max-mb") {
            if (!value()) {
                return false;
            }
            if (!Number(v, 1, 1000000, n)) {
                return bad("megabytes 1..1000000");
            }
            o.CsvMaxBytes = n * 1024 * 1024;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            o.Queries.push_back(arg);
        }
    }
    if (!o.CsvPath.empty()) {
        if (!o.Queries.empty()) {
            error = "--csv records the metering reads; it takes no QUERY";
            return false;
        }
        if (!countGiven) {
            o.Count = 0;
        }
    } else if (o.CsvMaxBytes > 0) {
        error = "--csv-max-mb needs --csv";
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
    if (!o.Help && !o.Scan && o.Queries.empty() && o.CsvPath.empty()) {
        error = "no query given";
        return false;
    }
    return true;
}
