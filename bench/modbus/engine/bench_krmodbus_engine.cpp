// Throughput and timing of the polling master against the simulator on a pseudo-terminal,
// next to a plain libmodbus client loop on the same simulator. Prints its figures.
//   bench_krmodbus_engine [--queries N]   throughput and CPU time (quick)
//   bench_krmodbus_engine --period        send-period deviation at QueryInterval 500 (~100 s)
#include "modbus/KrModbus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <modbus.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

#ifndef KT_SIM_PATH
#define KT_SIM_PATH "kt580-sim"
#endif

namespace {

// The measurement block: an 8-byte request and a 47-byte response.
const std::string Query = "01,03,14,00,00,15";
constexpr int RequestBytes = 8;
constexpr int ResponseBytes = 47;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Queries per second the line allows: request, response and two 3.5-character silences at
// 11 bits per character.
double LineLimit(int baud) {
    return baud / (11.0 * (RequestBytes + ResponseBytes + 2 * 3.5));
}

class TSim {
public:
    TSim(int baud, int delayMs) {
        FProcess.start(KT_SIM_PATH, {"--pace", "--delay", QString::number(delayMs), "--baud",
                                     QString::number(baud)});
        if (FProcess.waitForStarted() && FProcess.waitForReadyRead(5000)) {
            FPath = QString::fromLocal8Bit(FProcess.readLine()).trimmed().toStdString();
        }
    }
    ~TSim() {
        FProcess.terminate();
        if (!FProcess.waitForFinished(3000)) {
            FProcess.kill();
            FProcess.waitForFinished();
        }
    }
    const std::string& Path() const { return FPath; }

private:
    QProcess FProcess;
    std::string FPath;
};

struct TResult {
    int Queries = 0;
    int Errors = 0;
    double Seconds = 0;
    double Cpu = 0;
    std::vector<qint64> SendTimesUs;
};

TResult RunMaster(const std::string& path, int baud, int frameInterval, int queryInterval,
                  int queries) {
    TResult r;
    TKrModbus m;
    m.Comm().SetCommName(path);
    m.SetBaudrate(baud);
    m.SetParity(TParity::None);
    m.SetFrameInterval(frameInterval);
    m.SetQueryInterval(queryInterval);
    m.SetQueryTimeout(1000);
    m.SetIgnoreNullQuery(true);
    QElapsedTimer clock;
    QEventLoop loop;
    m.OnQueryData = [](TKrModbus&, std::string& fmt) { fmt = Query; };
    m.OnSendData = [&](TKrPolling&, const std::string&) {
        r.SendTimesUs.push_back(clock.nsecsElapsed() / 1000);
    };
    m.OnAfterResponse = [&](TKrModbus& s) {
        r.Errors += s.ErrorKind() != 0 ? 1 : 0;
        if (++r.Queries == queries) {
            s.Stop();
        }
    };
    m.OnQueryFinish = [&](TKrPolling&) { loop.quit(); };
    if (!m.Open()) {
        std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), m.OpenErrorText().c_str());
        return r;
    }
    const double cpu0 = CpuSeconds();
    clock.start();
    m.Start(true);
    loop.exec();
    r.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    r.Cpu = CpuSeconds() - cpu0;
    m.Close();
    return r;
}

TResult RunLibmodbus(const std::string& path, int baud, int queries) {
    TResult r;
    modbus_t* ctx = modbus_new_rtu(path.c_str(), baud, 'N', 8, 1);
    if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus cannot open %s\n", path.c_str());
        if (ctx != nullptr) {
            modbus_free(ctx);
        }
        return r;
    }
    modbus_set_response_timeout(ctx, 1, 0);
    uint16_t regs[21];
    QElapsedTimer clock;
    const double cpu0 = CpuSeconds();
    clock.start();
    for (int i = 0; i < queries; ++i) {
        if (modbus_read_registers(ctx, 0x1400, 21, regs) != 21) {
            ++r.Errors;
        }
        ++r.Queries;
    }
    r.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    r.Cpu = CpuSeconds() - cpu0;
    modbus_close(ctx);
    modbus_free(ctx);
    return r;
}

void Print(const char* who, int baud, const char* setting, const TResult& r) {
    const double rate = r.Queries / r.Seconds;
    std::printf("%-9s %6d baud  %-16s %5d queries %3d errors  %7.2f q/s  %5.1f%% of line "
                "limit %6.2f q/s  CPU %6.1f ms per 1000 queries\n",
                who, baud, setting, r.Queries, r.Errors, rate, 100.0 * rate / LineLimit(baud),
                LineLimit(baud), 1000.0 * r.Cpu / r.Queries * 1000.0);
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int queries = 300;
    bool period = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--period") {
            period = true;
        } else if (arg == "--queries" && i + 1 < argc) {
            queries = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--queries N] [--period]\n", argv[0]);
            return 2;
        }
    }

    if (period) {
        // The application's setting: QueryInterval 500, FrameInterval 5, 19200 baud, a meter
        // answering after its 10 ms turnaround.
        TSim sim(19200, 10);
        const TResult r = RunMaster(sim.Path(), 19200, 5, 500, 201);
        std::vector<double> deviation;
        for (size_t i = 1; i < r.SendTimesUs.size(); ++i) {
            const double periodMs =
                static_cast<double>(r.SendTimesUs[i] - r.SendTimesUs[i - 1]) / 1000.0;
            deviation.push_back(std::fabs(periodMs - 501.0));
        }
        if (deviation.empty()) {
            return 1;
        }
        std::printf("send period at QueryInterval 500, FrameInterval 5, 19200 baud: %zu periods, "
                    "%d errors\n",
                    deviation.size(), r.Errors);
        std::printf("deviation from 501 ms: median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n",
                    Percentile(deviation, 0.5), Percentile(deviation, 0.99),
                    *std::max_element(deviation.begin(), deviation.end()));
        return 0;
    }

    std::printf("measurement block read (8-byte request, 47-byte response), QueryInterval 0, "
                "simulator --pace --delay 0\n");
    for (int baud : {19200, 57600}) {
        TSim sim(baud, 0);
        if (sim.Path().empty()) {
            std::fprintf(stderr, "the simulator did not start\n");
            return 1;
        }
        Print("master", baud, "FrameInterval 0", RunMaster(sim.Path(), baud, 0, 0, queries));
        Print("master", baud, "FrameInterval 5", RunMaster(sim.Path(), baud, 5, 0, queries));
        Print("libmodbus", baud, "client loop", RunLibmodbus(sim.Path(), baud, queries));
    }
    return 0;
}
