// The meters behind an Ethernet gateway: Modbus TCP and RTU over TCP on 127.0.0.1, answered by
// the same slave protocol as on the serial line. As a gateway it adds latency on request, and
// answers exception 0B for a unit identifier no meter has.
#pragma once

#include "FrameAssembler.h"
#include "MeterModel.h"
#include "Options.h"
#include "Statistics.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <list>
#include <poll.h>
#include <string>
#include <vector>

namespace kt580sim {

enum class TTcpFraming : uint8_t { ModbusTcp, RtuOverTcp };

// Exception code of a gateway whose target device gave no answer.
constexpr uint8_t GatewayTargetFailed = 0x0B;

class TTcpServer {
public:
    TTcpServer(const TOptions& options, TMeterModel& meter, std::FILE* log);
    ~TTcpServer();
    TTcpServer(const TTcpServer&) = delete;
    TTcpServer& operator=(const TTcpServer&) = delete;

    // Opens the listening sockets the options ask for; false with a message in `error`.
    bool Listen(std::string& error);
    // Where it listens: "modbus-tcp=127.0.0.1:PORT rtu-over-tcp=127.0.0.1:PORT", as asked.
    std::string Endpoints() const;

    // Another meter behind the gateway, at its own address; it must outlive the server.
    void AddMeter(TMeterModel& meter) { FOthers.push_back(&meter); }

    // Runs until `stop` is set (by a signal handler) or the request limit is reached.
    bool Run(const volatile std::sig_atomic_t& stop);

    const TStatistics& Statistics() const { return FStats; }
    // Persists the main meter's memory now (if a state file is in use).
    void SaveState();

private:
    using TClock = std::chrono::steady_clock;

    struct TListener {
        TTcpFraming Framing;
        int Fd = -1;
        uint16_t Port = 0;
    };
    struct TClient {
        TTcpFraming Framing;
        int Fd = -1;
        std::string Buffer;        // Modbus TCP: bytes of the frame being received
        TFrameAssembler Assembler; // RTU over TCP: the request frames in the stream
        TClock::time_point LastByte;
        bool Closing = false;
    };

    std::vector<pollfd> PollSet() const;
    // Accepts, reads and serves what the wait found ready, and lets closed clients go.
    void Serve(const std::vector<pollfd>& fds);
    bool Open(TTcpFraming framing, uint16_t port, std::string& error);
    void Accept(const TListener& listener);
    void ReadClient(TClient& client);
    void ServeMbap(TClient& client);
    void ServeRtu(TClient& client, bool silence);
    // The answer to one request (an RTU frame with its CRC) as the meter behind the gateway, or
    // the gateway for a unit no meter has, gives it; nothing for a broadcast or a request the
    // meter ignores.
    std::string Exchange(const std::string& frame);
    TMeterModel* MeterAt(uint8_t unit) const;
    void Answer(TClient& client, const std::string& bytes);
    void Drop(TClient& client, const char* why);
    int WaitMs() const;
    bool RequestsDone() const;
    void AdvanceMeterTime();
    // A connection's coming and going, in the request log.
    void Note(const std::string& text);
    void Log(const char* direction, const std::string& bytes, const std::string& note = {});

    const TOptions& FOptions;
    TMeterModel& FMeter;
    std::FILE* FLog;
    std::vector<TMeterModel*> FOthers;
    std::vector<TListener> FListeners;
    std::list<TClient> FClients;
    TStatistics FStats;
    TClock::time_point FLastAdvance;
    uint64_t FSavedGeneration = 0;
};

} // namespace kt580sim
