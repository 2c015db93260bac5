// The polling master through a gateway, against the simulator's TCP endpoints. Prints:
//   - Modbus TCP on the loopback, QueryInterval 0: reads per second of the metering block
//     through the master and through a plain libmodbus TCP client, and their ratio;
//   - RTU over TCP with --gateway-latency 50: time per query against the time the same query
//     keeps a 19200-baud serial line busy, and what is left over the configured latency;
//   - a gateway that goes away and comes back on the same port: the time from its restart to
//     the first answer read again, at a 1 s and at the default 5 s query time-out.
// The master's cycle holds a 1 ms step after each answer before the next query, so through a
// gateway on the loopback it stays under 1000 queries per second whatever the gateway does.
//   bench_gateway [--queries N]
#include "modbus/KrModbus.h"
#include "modbus/KrTcpTransport.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <modbus.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The metering block: 21 registers from 0x1400, function 3.
const std::string Query = "01,03,14,00,00,15";
constexpr int BlockRegisters = 21;
constexpr int RequestBytes = 8;
constexpr int ResponseBytes = 5 + 2 * BlockRegisters;
constexpr int GatewayLatencyMs = 50;
constexpr int SerialBaud = 19200;

// What one query keeps the serial line busy for: request and answer at 11 bits per character,
// each followed by its 3.5-character silence; the meter's own turnaround is not counted.
double SerialQueryMs() {
    return 1000.0 * 11.0 * (RequestBytes + ResponseBytes + 2 * 3.5) / SerialBaud;
}

struct TResult {
    int Queries = 0;
    int Errors = 0;
    double Seconds = 0;
};

// A master over a TCP transport; the transport is declared first, the master works through it.
struct TGatewayMaster {
    TGatewayMaster(TKrTcpFraming framing, quint16 port) : Transport(framing) {
        Transport.Port().SetHostName("127.0.0.1");
        Transport.Port().SetPortNumber(port);
        Master.SetTransport(&Transport);
        Master.SetFrameInterval(0);
        Master.SetQueryInterval(0);
        Master.SetQueryTimeout(1000);
        Master.SetPreviewTimeout(0);
        Master.SetIgnoreNullQuery(true);
        Master.OnQueryData = [](TKrModbus&, std::string& fmt) { fmt = Query; };
    }
    TKrTcpTransport Transport;
    TKrModbus Master;
};

TResult RunMaster(TKrTcpFraming framing, quint16 port, int queries) {
    TResult r;
    TGatewayMaster g(framing, port);
    QEventLoop loop;
    g.Master.OnAfterResponse = [&](TKrModbus& m) {
        r.Errors += m.ErrorKind() != 0 ? 1 : 0;
        if (++r.Queries == queries) {
            m.Stop();
        }
    };
    g.Master.OnQueryFinish = [&](TKrPolling&) { loop.quit(); };
    if (!g.Master.Open()) {
        std::fprintf(stderr, "the master cannot connect to port %u\n", port);
        return r;
    }
    QElapsedTimer clock;
    clock.start();
    g.Master.Start(true);
    loop.exec();
    r.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    g.Master.Close();
    return r;
}

TResult RunLibmodbus(quint16 port, int queries) {
    TResult r;
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus cannot connect to port %u\n", port);
        if (ctx != nullptr) {
            modbus_free(ctx);
        }
        return r;
    }
    modbus_set_response_timeout(ctx, 1, 0);
    uint16_t regs[BlockRegisters];
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < queries; ++i) {
        if (modbus_read_registers(ctx, 0x1400, BlockRegisters, regs) != BlockRegisters) {
            ++r.Errors;
        }
        ++r.Queries;
    }
    r.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    modbus_close(ctx);
    modbus_free(ctx);
    return r;
}

double Rate(const TResult& r) {
    return r.Seconds > 0 ? r.Queries / r.Seconds : 0;
}

double MsPerQuery(const TResult& r) {
    return r.Queries > 0 ? 1000.0 * r.Seconds / r.Queries : 0;
}

int ModbusTcpThroughput(int queries) {
    TSimProcess sim;
    if (!sim.Start({"--tcp", "0"})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const quint16 port = sim.Port("modbus-tcp");
    const TResult master = RunMaster(TKrTcpFraming::ModbusTcp, port, queries);
    const TResult lib = RunLibmodbus(port, queries);
    std::printf("Modbus TCP, loopback, QueryInterval 0, metering block (8-byte RTU request, "
                "%d-byte answer)\n",
                ResponseBytes);
    std::printf("  master     %6d queries %3d errors  %9.1f reads/s  %7.3f ms per query\n",
                master.Queries, master.Errors, Rate(master), MsPerQuery(master));
    std::printf("  libmodbus  %6d queries %3d errors  %9.1f reads/s  %7.3f ms per query\n",
                lib.Queries, lib.Errors, Rate(lib), MsPerQuery(lib));
    std::printf("  master / libmodbus: %.2f\n", Rate(lib) > 0 ? Rate(master) / Rate(lib) : 0.0);
    return master.Queries > 0 && lib.Queries > 0 ? 0 : 1;
}

int RtuOverTcpLatency(int queries) {
    TSimProcess sim;
    if (!sim.Start(
            {"--rtu-over-tcp", "0", "--gateway-latency", QString::number(GatewayLatencyMs)})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const TResult r = RunMaster(TKrTcpFraming::RtuOverTcp, sim.Port("rtu-over-tcp"), queries);
    const double perQuery = MsPerQuery(r);
    std::printf("RTU over TCP, --gateway-latency %d, QueryInterval 0\n", GatewayLatencyMs);
    std::printf("  master     %6d queries %3d errors  %7.2f ms per query, %.2f ms over the "
                "configured latency\n",
                r.Queries, r.Errors, perQuery, perQuery - GatewayLatencyMs);
    std::printf("  serial line at %d baud (frames and 3.5-character silences): %.2f ms per "
                "query; the gateway takes %.2f ms more\n",
                SerialBaud, SerialQueryMs(), perQuery - SerialQueryMs());
    return r.Queries > 0 ? 0 : 1;
}

// Polls through the gateway; once it answers, the gateway is killed, stays away for the outage
// and is started again on the same port. The clock runs from the moment the new simulator says
// it listens to the first answer read after it. A request made while the gateway is away is
// refused at once, but the master learns of it only at the query's time-out, and connects again
// with the next request: the time-out sets the figure.
int GatewayRestart(int outageMs, int timeoutMs) {
    TSimProcess sim;
    if (!sim.Start({"--tcp", "0"})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const QString port = QString::number(sim.Port("modbus-tcp"));
    TGatewayMaster g(TKrTcpFraming::ModbusTcp, sim.Port("modbus-tcp"));
    g.Master.SetQueryTimeout(timeoutMs);
    QEventLoop loop;
    QElapsedTimer sinceRestart;
    enum class TPhase { Before, Away, Back } phase = TPhase::Before;
    int failed = 0;
    double firstAnswerMs = -1;
    g.Master.OnAfterResponse = [&](TKrModbus& m) {
        const bool ok = m.ErrorKind() == 0;
        if (phase == TPhase::Before && ok) {
            phase = TPhase::Away;
            sim.Process().kill();
            sim.Process().waitForFinished();
            QTimer::singleShot(outageMs, [&] {
                if (sim.Start({"--tcp", port})) {
                    sinceRestart.start();
                    phase = TPhase::Back;
                } else {
                    m.Stop();
                }
            });
        } else if (!ok) {
            ++failed;
        } else if (phase == TPhase::Back) {
            firstAnswerMs = static_cast<double>(sinceRestart.nsecsElapsed()) / 1e6;
            m.Stop();
        }
    };
    g.Master.OnQueryFinish = [&](TKrPolling&) { loop.quit(); };
    if (!g.Master.Open()) {
        std::fprintf(stderr, "the master cannot connect to port %s\n", qPrintable(port));
        return 1;
    }
    g.Master.Start(true);
    loop.exec();
    g.Master.Close();
    std::printf("Gateway killed and started again on port %s after %d ms, QueryInterval 0, "
                "time-out %d ms\n",
                qPrintable(port), outageMs, timeoutMs);
    if (firstAnswerMs < 0) {
        std::printf("  no answer after the restart (%d queries failed)\n", failed);
        return 1;
    }
    std::printf("  %d queries failed while it was away; first answer %.1f ms after its restart\n",
                failed, firstAnswerMs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int queries = 2000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--queries" && i + 1 < argc) {
            queries = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--queries N]\n", argv[0]);
            return 2;
        }
    }
    int failures = ModbusTcpThroughput(queries);
    // Each query waits the latency: a few dozen give a steady figure.
    failures += RtuOverTcpLatency(std::min(queries, 40));
    failures += GatewayRestart(500, 1000);
    failures += GatewayRestart(500, TKrTcpTransport::DefaultQueryTimeout);
    return failures == 0 ? 0 : 1;
}
