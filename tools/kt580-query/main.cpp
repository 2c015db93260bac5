// kt580-query: sends Modbus query texts to a meter through the polling master and prints
// each outcome; the technician's tool and the end-to-end check of the master.
#include "CsvRunner.h"
#include "QueryOptions.h"
#include "QueryRunner.h"
#include "StopSignals.h"
#include "modbus/KrModbus.h"
#include "modbus/KrTcpTransport.h"
#include "platform/Event.h"
#include "platform/PortName.h"
#include "platform/PosixSerialDevice.h"
#include "scan/ScanRunner.h"
#include "serial/OpenFailure.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <thread>

namespace {

void Configure(TKrModbus& m, const TQueryOptions& o) {
    // As the meter link configures its master, unless an option says otherwise.
    m.SetFrameInterval(5);
    m.SetQueryInterval(o.IntervalMs);
    m.SetQueryTimeout(o.TimeoutMs);
    m.SetPreviewTimeout(0);
    if (o.PortPath.empty()) {
        m.SetPortNum(o.PortNum);
    } else {
        m.Comm().SetCommName(o.PortPath);
    }
    m.SetBaudrate(o.Baud);
    m.SetDataBits(8);
    m.SetProtocolVersion(o.OldFormat ? pvOldFormat : pvGB19582_2008);
    m.SetParity(o.Parity);
    m.SetStopBits(o.StopBits);
    m.SetRtsCtsFlow(false);
    m.SetIgnoreNullQuery(true);
    m.SetMode(o.Ascii ? tmAscii : tmRtu);
    m.SetEndCheck(true);
    m.SetAsciiOutput(amUpperCase);
}

// The first stop signal lets the query in progress finish, a second ends the run at once.
template <typename TRunner> auto StopInTwoSteps(TRunner& runner) {
    return [&runner](int count) {
        if (count >= 2) {
            runner.Abort();
        } else {
            runner.RequestStop();
        }
    };
}

// --csv: the metering rotation recorded until the count is reached or a stop signal comes.
int RecordCsv(QCoreApplication& app, TKrModbus& master, const TQueryOptions& options) {
    TCsvRunner runner(master, options);
    runner.OnDone = [&app] { app.quit(); };
    const TStopSignals stopSignals(StopInTwoSteps(runner));
    if (!stopSignals.Installed() || !runner.Begin()) {
        master.Close();
        std::fprintf(stderr, "kt580-query: cannot record: %s\n",
                     runner.Error().isEmpty() ? "the master did not start"
                                              : runner.Error().toLocal8Bit().constData());
        return 2;
    }
    if (!runner.Done()) {
        app.exec();
    }
    master.Close();
    if (!runner.Error().isEmpty()) {
        std::fprintf(stderr, "kt580-query: %s\n", runner.Error().toLocal8Bit().constData());
    }
    std::printf("%s\n", runner.Totals().c_str());
    return runner.ExitCode();
}

// The port as the operator named it.
std::string PortText(const TQueryOptions& o) {
    if (!o.TcpHost.empty()) {
        return TcpEndpointText(o.TcpHost, o.TcpPort);
    }
    return o.PortPath.empty() ? "COM" + std::to_string(o.PortNum) : o.PortPath;
}

// What the operator can do about a port that did not open, if anything.
void PrintAdvice(int systemError, const std::string& port) {
    const std::string advice = OpenFailureAdviceFor(systemError, ResolvePortName(port));
    if (!advice.empty())
        std::fprintf(stderr, "%s\n", advice.c_str());
}

TScanSetting SettingOf(const TQueryOptions& o) {
    int entry = TScanSetting::Even;
    if (o.Parity == TParity::None)
        entry = o.StopBits == TStopBits::_2 ? TScanSetting::None2 : TScanSetting::None1;
    else if (o.Parity == TParity::Odd)
        entry = TScanSetting::Odd;
    return {static_cast<std::uint32_t>(o.Baud), entry};
}

// The scan the options ask for; a wait shorter than slow meters need is said to be one.
TScanPlan PlanFor(const TQueryOptions& o) {
    const double wait = o.ScanWaitMs ? *o.ScanWaitMs / 1000.0 : TScanPlan::DefaultTurnaround;
    if (o.ScanWaitMs && *o.ScanWaitMs < SlowMeterWaitMs)
        std::fprintf(stderr,
                     "kt580-query: a quick scan: a meter that takes longer than %d ms to answer "
                     "can be missed\n",
                     *o.ScanWaitMs);
    return {ScanSettingOrder(SettingOf(o)), o.Address.value_or(1),
            o.ScanAll ? TScanMode::EveryMeter : TScanMode::FirstMeter, wait};
}

// What the end of a scan tells the operator, and the exit status.
int ScanEnd(const TScanStatus& status, const std::string& port, bool outputGone) {
    for (const QString& note : status.Notes)
        std::fprintf(stderr, "kt580-query: %s\n", note.toLocal8Bit().constData());
    if (status.End == TScanStatus::OpenFailed) {
        std::fprintf(stderr, "kt580-query: cannot open %s: %s\n", port.c_str(),
                     status.Failure.toLocal8Bit().constData());
        PrintAdvice(status.SystemError, port);
        return 2;
    }
    if (status.End == TScanStatus::Vanished)
        std::fprintf(stderr, "kt580-query: %s: %s\n", port.c_str(),
                     status.Failure.toLocal8Bit().constData());
    if (status.End == TScanStatus::Cancelled && !outputGone)
        std::fprintf(stderr, "kt580-query: scan stopped\n");
    return !status.Found.empty() && !outputGone ? 0 : 1;
}

// Find Meter on the command line: one line per meter, what else the line showed on stderr.
int Scan(const TQueryOptions& o, QCoreApplication& app) {
    const std::string port = PortText(o);
    const auto stop = TEvent::Create();
    if (!stop) {
        std::fprintf(stderr, "kt580-query: cannot watch for signals\n");
        return 2;
    }
    // Every stop signal ends the scan at the probe in progress; the port is closed after it.
    // The scan runs beside the event loop, which is where the signals arrive.
    const TStopSignals stopSignals([&stop](int) { stop->Set(); });
    if (!stopSignals.Installed()) {
        std::fprintf(stderr, "kt580-query: cannot watch for signals\n");
        return 2;
    }
    TPosixSerialDevice device;
    std::size_t printed = 0;
    bool outputGone = false;
    const auto print = [&](const TScanStatus& status) {
        for (; printed < status.Found.size(); ++printed) {
            const TMeterFound& m = status.Found[printed];
            const std::string line =
                QStringLiteral("%1 address=%2 baud=%3 parity=%4 model=%5 software=%6 serial=%7\n")
                    .arg(m.Port)
                    .arg(m.Address)
                    .arg(m.Setting.Baud)
                    .arg(ParityText(m.Setting.Parity).toLower(), m.Model, m.SoftVersion,
                         m.SerialNumber)
                    .toStdString();
            if (std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
                outputGone = true;
                stop->Set();
            }
        }
    };
    TScanStatus status;
    std::thread worker([&] {
        status = RunScan(device, ResolvePortName(port), QString::fromStdString(port), PlanFor(o),
                         *stop, print);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    worker.join();
    return ScanEnd(status, port, outputGone);
}

// The queries, round after round, until the count is reached or a stop signal comes.
int RunQueries(QCoreApplication& app, TKrModbus& master, const TQueryOptions& options) {
    TQueryRunner runner(master, options, [](const std::string& line) {
        return std::fputs((line + "\n").c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    });
    runner.OnDone = [&app] { app.quit(); };

    // The first stop signal lets the query in progress finish; a query to a silent meter can
    // take the whole time-out, so a second one ends at once. Either way the port is closed below.
    const TStopSignals stopSignals(StopInTwoSteps(runner));
    if (!stopSignals.Installed()) {
        master.Close();
        std::fprintf(stderr, "kt580-query: cannot watch for signals\n");
        return 2;
    }

    if (!runner.Begin()) {
        std::fprintf(stderr, "kt580-query: the master did not start\n");
        return 2;
    }
    if (!runner.Done()) {
        app.exec();
    }
    master.Close();
    std::printf("%s\n", runner.Totals().c_str());
    return runner.ExitCode();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    TQueryOptions options;
    std::string error;
    if (!ParseQueryOptions(args, options, error)) {
        std::fprintf(stderr, "kt580-query: %s\n%s", error.c_str(), QueryUsage().c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(QueryUsage().c_str(), stdout);
        return 0;
    }

    if (options.Scan) {
        return Scan(options, app);
    }

    // Declared before the master, which works through it until it goes.
    std::unique_ptr<TKrTcpTransport> gateway;
    TKrModbus master;
    Configure(master, options);
    if (!options.TcpHost.empty()) {
        gateway = std::make_unique<TKrTcpTransport>(options.RtuOverTcp ? TKrTcpFraming::RtuOverTcp
                                                                       : TKrTcpFraming::ModbusTcp);
        gateway->Port().SetHostName(options.TcpHost);
        gateway->Port().SetPortNumber(options.TcpPort);
        master.SetTransport(gateway.get());
        master.OnTransportFault = [](TKrPolling&, const std::string& text) {
            std::fprintf(stderr, "kt580-query: %s\n", text.c_str());
        };
    }
    if (!master.Open()) {
        const std::string port = PortText(options);
        std::fprintf(stderr, "kt580-query: cannot open %s: %s\n", port.c_str(),
                     OpenFailureReason(master.OpenSystemError(), master.OpenErrorText()).c_str());
        PrintAdvice(master.OpenSystemError(), port);
        return 2;
    }

    if (!options.CsvPath.empty()) {
        return RecordCsv(app, master, options);
    }
    return RunQueries(app, master, options);
}
