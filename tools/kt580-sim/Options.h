// Command line of the simulator, parsed without side effects.
#pragma once

#include "FaultInjector.h"
#include "LiveValues.h"
#include "MeterFaults.h"
#include "MeterModel.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kt580sim {

// Another meter on the same pair of wires: its own address and identity, the line's settings.
struct TExtraMeter {
    uint8_t Address = 2;
    std::string SerialNumber;
    std::string DeviceType; // empty: the first meter's
};

struct TOptions {
    std::optional<int> Com; // register the terminal as COMn in the per-user port map
    std::string LinkPath;   // also make this symlink to the terminal
    std::string DevicePath; // serve this serial device instead of a pseudo-terminal
    // Line and address given on the command line; when unset, the stored memory or the
    // factory values hold.
    std::optional<uint8_t> Address;
    std::optional<uint32_t> Baudrate;
    std::optional<TMeterParity> Parity;
    TIdentity Identity;
    std::vector<TExtraMeter> ExtraMeters;
    // Meters, by address, that stay silent, answer late or spoil their answers.
    std::vector<TMeterFault> MeterFaults;
    bool Pace = false;
    std::optional<int> DelayMs; // turnaround; 10 ms with --pace, else none
    // Answers requests for any address, with its own address in the answer (a device that
    // does not check the address).
    bool AnswerAnyAddress = false;
    // With AnswerAnyAddress: the answer carries the address asked, as a gateway in front of
    // one meter does, instead of the meter's own.
    bool EchoAnyAddress = false;
    // Answers reach the line in chunks, one every this many ms, as a USB adapter passes bytes
    // on when its latency timer runs out; 0: byte by byte (with Pace) or whole.
    int ChunkMs = 0;
    // Ignores a request that arrives less than this many ms after its last answer went out
    // (a meter that needs time between queries); 0: never.
    int BusyMs = 0;
    std::array<double, FaultKinds> FaultRates{};
    std::optional<uint64_t> Seed;
    std::optional<uint64_t> Requests;
    // Start registers of requests whose next answer is lost, one entry per answer.
    std::vector<uint16_t> LoseAnswers;
    bool Log = false;
    std::string StateFile;
    double TimeScale = 1.0;
    TWiring Wiring;
    // Function codes whose requests are carried out but never answered.
    std::vector<uint8_t> LoseFunctions;
    // Modbus TCP and RTU over TCP on 127.0.0.1 in place of the terminal (0: any free port),
    // with what a gateway in front of the meters adds.
    std::optional<uint16_t> TcpPort;
    std::optional<uint16_t> RtuOverTcpPort;
    int GatewayLatencyMs = 0;
    bool CloseAfterAnswer = false;
    bool Help = false;
};

// False with a message in `error` for an unknown option, a missing or bad value.
bool ParseOptions(const std::vector<std::string>& args, TOptions& options, std::string& error);

std::string UsageText();

} // namespace kt580sim
