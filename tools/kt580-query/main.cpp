// kt580-query: sends Modbus query texts to a meter through the polling master and prints
// each outcome; the technician's tool and the end-to-end check of the master.
#include "CsvRunner.h"
#include "QueryOptions.h"
#include "QueryRunner.h"
#include "StopSignals.h"
#include "modbus/KrModbus.h"
#include "serial/OpenFailure.h"

#include <QCoreApplication>

#include <cstdio>

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

// --csv: the metering rotation recorded until the count is reached or a stop signal comes.
int RecordCsv(QCoreApplication& app, TKrModbus& master, const TQueryOptions& options) {
    TCsvRunner runner(master, options);
    runner.OnDone = [&app] { app.quit(); };
    const TStopSignals stopSignals([&runner](int count) {
        if (count >= 2) {
            runner.Abort();
        } else {
            runner.RequestStop();
        }
    });
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

    TKrModbus master;
    Configure(master, options);
    if (!master.Open()) {
        const std::string port =
            options.PortPath.empty() ? "COM" + std::to_string(options.PortNum) : options.PortPath;
        std::fprintf(stderr, "kt580-query: cannot open %s: %s\n", port.c_str(),
                     OpenFailureReason(master.OpenSystemError(), master.OpenErrorText()).c_str());
        return 2;
    }

    if (!options.CsvPath.empty()) {
        return RecordCsv(app, master, options);
    }

    TQueryRunner runner(master, options, [](const std::string& line) {
        return std::fputs((line + "\n").c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    });
    runner.OnDone = [&app] { app.quit(); };

    // The first stop signal lets the query in progress finish; a query to a silent meter can
    // take the whole time-out, so a second one ends at once. Either way the port is closed below.
    const TStopSignals stopSignals([&runner](int count) {
        if (count >= 2) {
            runner.Abort();
        } else {
            runner.RequestStop();
        }
    });
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
