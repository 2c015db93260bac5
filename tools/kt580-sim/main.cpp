// kt580-sim: a KT580 meter on a pseudo-terminal (or a serial device), for running and
// testing the utility without a meter.
#include "MeterModel.h"
#include "Options.h"
#include "PortMap.h"
#include "Registers.h"
#include "Server.h"
#include "StateFile.h"
#include "TcpServer.h"
#include "Terminal.h"
#include "platform/PortName.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace kt580sim;

namespace {

volatile std::sig_atomic_t StopRequested = 0;

void OnSignal(int) {
    StopRequested = 1;
}

void InstallSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    ::sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(sig, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_IGN);
    // Blocked outside the server's wait, which unblocks them atomically (no lost wake-up).
    sigset_t blocked;
    ::sigemptyset(&blocked);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaddset(&blocked, sig);
    }
    ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
}

// Command-line line settings win over the stored memory, which wins over the factory ones.
bool ApplyLineOptions(const TOptions& options, TMeterModel& meter, std::string& error) {
    TSettingsImage wanted;
    if (options.Address) {
        wanted[reg::Address] = *options.Address;
    }
    if (options.Baudrate) {
        wanted[reg::Baudrate] = static_cast<uint16_t>(*options.Baudrate);
    }
    if (options.Parity) {
        wanted[reg::Parity] = static_cast<uint16_t>(*options.Parity);
    }
    return meter.RestoreSettings(wanted, error);
}

int Fail(const std::string& error, int status) {
    std::fprintf(stderr, "kt580-sim: %s\n", error.c_str());
    return status;
}

// The stored memory of an earlier run, if there is a state file.
bool LoadState(const TOptions& options, TMeterModel& meter, std::string& error) {
    if (options.StateFile.empty()) {
        return true;
    }
    std::string text;
    return ReadTextFile(options.StateFile, text, error) && ApplyState(text, meter, error);
}

std::unique_ptr<TTerminal> OpenTerminal(const TOptions& options, const TMeterModel& meter,
                                        std::string& error) {
    return options.DevicePath.empty()
               ? TTerminal::OpenPseudo(meter.Baudrate(), meter.Parity(), error)
               : TTerminal::OpenDevice(options.DevicePath, meter.Baudrate(), meter.Parity(), error);
}

void RemoveLinks(const std::vector<std::string>& links, const std::string& target) {
    for (const std::string& link : links) {
        RemoveLinkIfOurs(link, target);
        RemoveNoteIfOurs(link + ".simulator", target);
    }
}

// The names the terminal is reached by: COMn in the port map and --link. None is left behind
// when one cannot be made.
bool CreateLinks(const TOptions& options, const std::string& target,
                 std::vector<std::string>& links, std::string& error) {
    if (options.Com) {
        // The same folder the utility resolves COMn names through.
        const std::string link = PortLinkPath(*options.Com);
        if (!CreateLink(link, target, true, error)) {
            return false;
        }
        links.push_back(link);
        // The utility reads this note to say that it talks to a simulator.
        if (!WriteNote(SimulatorNotePath(*options.Com), target, error)) {
            RemoveLinks(links, target);
            return false;
        }
    }
    if (!options.LinkPath.empty()) {
        if (!CreateLink(options.LinkPath, target, false, error)) {
            RemoveLinks(links, target);
            return false;
        }
        links.push_back(options.LinkPath);
    }
    return true;
}

void Announce(const TOptions& options, const TMeterModel& meter, const TTerminal& terminal) {
    std::printf("%s\n", terminal.Path().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "kt580-sim: meter %s (software %s) at address %u, %u baud, serving %s\n",
                 options.Identity.DeviceType.c_str(), options.Identity.SoftwareVersion.c_str(),
                 meter.Address(), meter.Baudrate(), terminal.Path().c_str());
}

std::unique_ptr<TMeterModel> ExtraMeter(const TOptions& options, const TExtraMeter& extra,
                                        const TMeterModel& first) {
    TIdentity identity = options.Identity;
    identity.SerialNumber = extra.SerialNumber;
    if (!extra.DeviceType.empty()) {
        identity.DeviceType = extra.DeviceType;
    }
    return std::make_unique<TMeterModel>(identity, extra.Address, first.Baudrate(), first.Parity());
}

// Serves the meters until stopped, then saves, takes the links away and prints the summary.
bool Serve(const TOptions& options, TMeterModel& meter, TTerminal& terminal,
           const std::vector<std::string>& links) {
    TServer server(options, meter, terminal, options.Log ? stderr : nullptr);
    std::vector<std::unique_ptr<TMeterModel>> others;
    for (const TExtraMeter& extra : options.ExtraMeters) {
        others.push_back(ExtraMeter(options, extra, meter));
        server.AddMeter(*others.back());
    }
    const bool ok = server.Run(StopRequested);
    server.SaveState();
    RemoveLinks(links, terminal.Path());
    std::fputs(server.Statistics().Summary(server.FaultCounts()).c_str(), stdout);
    std::fflush(stdout);
    return ok;
}

// The meters behind a gateway on TCP, until stopped; the endpoints are the first line out.
bool ServeGateway(const TOptions& options, TMeterModel& meter, std::string& error) {
    TTcpServer server(options, meter, options.Log ? stderr : nullptr);
    if (!server.Listen(error)) {
        return false;
    }
    std::printf("%s\n", server.Endpoints().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "kt580-sim: meter %s at address %u behind a gateway on %s\n",
                 options.Identity.DeviceType.c_str(), meter.Address(), server.Endpoints().c_str());
    std::vector<std::unique_ptr<TMeterModel>> others;
    for (const TExtraMeter& extra : options.ExtraMeters) {
        others.push_back(ExtraMeter(options, extra, meter));
        server.AddMeter(*others.back());
    }
    const bool ok = server.Run(StopRequested);
    server.SaveState();
    std::fputs(server.Statistics().Summary({}).c_str(), stdout);
    std::fflush(stdout);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    TOptions options;
    std::string error;
    if (!ParseOptions(args, options, error)) {
        return Fail(error, 2);
    }
    if (options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    TMeterModel meter(options.Identity, 1, 19200, TMeterParity::None1);
    meter.SetWiring(options.Wiring);
    if (!LoadState(options, meter, error)) {
        std::fprintf(stderr, "kt580-sim: state file %s: %s\n", options.StateFile.c_str(),
                     error.c_str());
        return 1;
    }
    if (!ApplyLineOptions(options, meter, error)) {
        return Fail(error, 2);
    }
    InstallSignals();
    if (options.TcpPort || options.RtuOverTcpPort) {
        if (ServeGateway(options, meter, error)) {
            return 0;
        }
        return error.empty() ? 1 : Fail(error, 1);
    }
    const std::unique_ptr<TTerminal> terminal = OpenTerminal(options, meter, error);
    if (!terminal) {
        return Fail(error, 1);
    }
    std::vector<std::string> links;
    if (!CreateLinks(options, terminal->Path(), links, error)) {
        return Fail(error, 1);
    }
    Announce(options, meter, *terminal);
    return Serve(options, meter, *terminal, links) ? 0 : 1;
}
