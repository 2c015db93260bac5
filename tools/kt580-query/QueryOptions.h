// Command line of kt580-query, parsed without side effects.
#pragma once

#include "platform/SerialLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TQueryOptions {
    // Either a COM port number or a device path.
    std::uint16_t PortNum = 1;
    std::string PortPath;
    int Baud = 19200;
    TParity Parity = TParity::None;
    TStopBits StopBits = TStopBits::_1;
    std::optional<std::uint8_t> Address;
    // --address with a list (1,3,7-9): every query goes to each of these meters in turn, and
    // Address is the first of them. Empty for one address.
    std::vector<std::uint8_t> Addresses;
    int IntervalMs = 500;
    int TimeoutMs = 3000;
    long long Count = 1; // rounds over the queries; 0: until interrupted
    bool Ascii = false;
    bool OldFormat = false;
    bool Trace = false;
    bool Help = false;
    // Find Meter instead of queries: every line setting and address, the given ones first.
    bool Scan = false;
    bool ScanAll = false; // every meter on the line, not just the first
    // With --scan and --timeout: how long each probe waits for a meter to begin its answer.
    std::optional<int> ScanWaitMs;
    std::vector<std::string> Queries; // as given, before the address is put in
    // --csv: record the metering rotation to this file instead of sending QUERY texts; Count
    // is then the number of rotation cycles (rows), 0 until interrupted.
    std::string CsvPath;
    long long CsvMaxBytes = 0; // --csv-max-mb: a new file past this size; 0: one a day
    // --tcp / --rtu-over-tcp HOST[:PORT]: a gateway instead of the serial port (TcpHost empty
    // for the serial port); --address is then the unit id.
    std::string TcpHost;
    std::uint16_t TcpPort = 502;
    bool RtuOverTcp = false;
};

// False with a message in `error` for an unknown option, a missing or bad value, no query, an
// option the chosen mode cannot honour, or a --csv path that is not a regular file (or a name
// for a new one).
bool ParseQueryOptions(const std::vector<std::string>& args, TQueryOptions& options,
                       std::string& error);

std::string QueryUsage();

// The shortest wait --scan --timeout takes, and the wait below which slow meters can be
// missed (the tool says so).
constexpr int ShortestScanWaitMs = 10;
constexpr int SlowMeterWaitMs = 100;
