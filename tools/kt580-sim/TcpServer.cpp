#include "TcpServer.h"

#include "Crc16.h"
#include "SlaveProtocol.h"
#include "StateFile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace kt580sim {

namespace {

// A Modbus TCP header's transaction, protocol and length fields (two bytes each); the length
// counts what follows them: the unit identifier and the PDU.
constexpr std::size_t PrefixSize = 6;
// The length field counts the unit identifier and a PDU of at most 253 bytes.
constexpr std::size_t MaxLength = 254;
// More clients than a gateway serves at once are turned away.
constexpr std::size_t MaxClients = 16;
// An RTU request whose length its function code does not tell ends after this quiet time.
constexpr auto RtuQuiet = std::chrono::milliseconds(100);
// How long an answer may wait for the client to take it before the connection is dropped.
constexpr int WriteTimeoutMs = 1000;

uint16_t Word(const std::string& bytes, std::size_t at) {
    return static_cast<uint16_t>((static_cast<uint8_t>(bytes[at]) << 8) |
                                 static_cast<uint8_t>(bytes[at + 1]));
}

const char* FramingName(TTcpFraming framing) {
    return framing == TTcpFraming::ModbusTcp ? "modbus-tcp" : "rtu-over-tcp";
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        pollfd p{fd, POLLOUT, 0};
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ||
            ::poll(&p, 1, WriteTimeoutMs) <= 0)
            return false;
    }
    return true;
}

} // namespace

TTcpServer::TTcpServer(const TOptions& options, TMeterModel& meter, std::FILE* log)
    : FOptions(options), FMeter(meter), FLog(log), FLastAdvance(TClock::now()),
      FSavedGeneration(meter.MemoryGeneration()) {}

TTcpServer::~TTcpServer() {
    for (const TClient& client : FClients)
        ::close(client.Fd);
    for (const TListener& listener : FListeners)
        ::close(listener.Fd);
}

bool TTcpServer::Open(TTcpFraming framing, uint16_t port, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Loopback only: the simulator is never reachable from another machine.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        error = std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " +
                std::strerror(errno);
        ::close(fd);
        return false;
    }
    FListeners.push_back({framing, fd, ntohs(address.sin_port)});
    return true;
}

bool TTcpServer::Listen(std::string& error) {
    return (!FOptions.TcpPort || Open(TTcpFraming::ModbusTcp, *FOptions.TcpPort, error)) &&
           (!FOptions.RtuOverTcpPort ||
            Open(TTcpFraming::RtuOverTcp, *FOptions.RtuOverTcpPort, error));
}

std::string TTcpServer::Endpoints() const {
    std::string out;
    for (const TListener& listener : FListeners) {
        out += out.empty() ? "" : " ";
        out += FramingName(listener.Framing);
        out += "=127.0.0.1:" + std::to_string(listener.Port);
    }
    return out;
}

void TTcpServer::Log(const char* direction, const std::string& bytes, const std::string& note) {
    if (FLog == nullptr)
        return;
    timeval now{};
    ::gettimeofday(&now, nullptr);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long>(now.tv_usec / 1000));
    std::string hex;
    for (const unsigned char c : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%s%02X", hex.empty() ? "" : " ", c);
        hex += pair;
    }
    std::fprintf(FLog, "%s %s %s%s%s\n", stamp, direction, hex.c_str(),
                 hex.empty() || note.empty() ? "" : "  ", note.c_str());
    std::fflush(FLog);
}

void TTcpServer::Note(const std::string& text) {
    if (FLog != nullptr)
        Log("--", {}, text);
}

void TTcpServer::Accept(const TListener& listener) {
    const int fd = ::accept4(listener.Fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    if (FClients.size() >= MaxClients) {
        Note("connection refused: too many clients");
        ::close(fd);
        return;
    }
    TClient& client = FClients.emplace_back();
    client.Framing = listener.Framing;
    client.Fd = fd;
    client.LastByte = TClock::now();
    Note(std::string("connected (") + FramingName(listener.Framing) + ")");
}

void TTcpServer::Drop(TClient& client, const char* why) {
    if (!client.Closing)
        Note(why);
    client.Closing = true;
}

TMeterModel* TTcpServer::MeterAt(uint8_t unit) const {
    if (FMeter.Address() == unit)
        return &FMeter;
    for (TMeterModel* other : FOthers)
        if (other->Address() == unit)
            return other;
    return nullptr;
}

void TTcpServer::AdvanceMeterTime() {
    const auto now = TClock::now();
    const double seconds = std::chrono::duration<double>(now - FLastAdvance).count();
    FLastAdvance = now;
    FMeter.Advance(seconds * FOptions.TimeScale);
}

std::string TTcpServer::Exchange(const std::string& frame) {
    AdvanceMeterTime();
    const auto unit = static_cast<uint8_t>(frame[0]);
    if (unit == 0) {
        // A broadcast goes to every meter on the line, and none answers.
        const bool carried =
            HandleRequest(FMeter, frame, FMeter.Address()).Kind == TReply::Broadcast;
        for (TMeterModel* other : FOthers)
            HandleRequest(*other, frame, other->Address());
        ++FStats.Requests;
        FStats.Broadcasts += carried ? 1 : 0;
        Log("RX", frame, carried ? "broadcast" : "ignored");
        return {};
    }
    TMeterModel* meter = MeterAt(unit);
    if (meter == nullptr) {
        ++FStats.OtherAddress;
        Log("RX", frame, "no meter at this address: exception 0B");
        std::string answer{frame[0], static_cast<char>(frame[1] | 0x80),
                           static_cast<char>(GatewayTargetFailed)};
        AppendCrc(answer);
        return answer;
    }
    ++FStats.Requests;
    const TReply reply = HandleRequest(*meter, frame, unit);
    Log("RX", frame, reply.Kind == TReply::Answer ? "" : "ignored");
    if (reply.Exception >= 1 && reply.Exception <= 4)
        ++FStats.Exceptions[reply.Exception];
    if (FMeter.MemoryGeneration() != FSavedGeneration)
        SaveState();
    return reply.Kind == TReply::Answer ? reply.Bytes : std::string{};
}

void TTcpServer::Answer(TClient& client, const std::string& bytes) {
    if (FOptions.GatewayLatencyMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(FOptions.GatewayLatencyMs));
    ++FStats.Answers;
    Log("TX", bytes);
    if (!SendAll(client.Fd, bytes))
        Drop(client, "disconnected: the client does not take its answer");
    else if (FOptions.CloseAfterAnswer)
        Drop(client, "closed after the answer");
}

void TTcpServer::ServeMbap(TClient& client) {
    while (!client.Closing && client.Buffer.size() >= PrefixSize && !RequestsDone()) {
        const uint16_t length = Word(client.Buffer, 4);
        if (Word(client.Buffer, 2) != 0 || length < 2 || length > MaxLength) {
            Log("RX", client.Buffer.substr(0, PrefixSize), "bad Modbus TCP header");
            Drop(client, "disconnected: bad Modbus TCP header");
            return;
        }
        if (client.Buffer.size() < PrefixSize + length)
            return;
        // The meter behind the gateway sees the unit identifier and the PDU as an RTU frame.
        std::string frame = client.Buffer.substr(PrefixSize, length);
        AppendCrc(frame);
        std::string reply = client.Buffer.substr(0, 4);
        client.Buffer.erase(0, PrefixSize + length);
        const std::string answer = Exchange(frame);
        if (answer.empty())
            continue;
        const auto size = static_cast<uint16_t>(answer.size() - 2);
        reply.push_back(static_cast<char>(size >> 8));
        reply.push_back(static_cast<char>(size & 0xFF));
        reply.append(answer, 0, size);
        Answer(client, reply);
    }
}

void TTcpServer::ServeRtu(TClient& client, bool silence) {
    while (!client.Closing && !RequestsDone()) {
        const std::optional<std::string> frame = client.Assembler.Next(silence);
        if (!frame)
            return;
        const std::string answer = Exchange(*frame);
        if (!answer.empty())
            Answer(client, answer);
    }
}

void TTcpServer::ReadClient(TClient& client) {
    char buffer[512];
    const ssize_t n = ::recv(client.Fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        const bool midFrame = !client.Buffer.empty() || !client.Assembler.Empty();
        Drop(client, midFrame ? "disconnected in the middle of a frame" : "disconnected");
        return;
    }
    if (n < 0)
        return;
    client.LastByte = TClock::now();
    const std::string bytes(buffer, static_cast<std::size_t>(n));
    if (client.Framing == TTcpFraming::ModbusTcp) {
        // Whole frames are taken out as they complete, so at most one frame and one read are
        // held: a client that floods cannot grow it.
        client.Buffer += bytes;
        ServeMbap(client);
    } else {
        client.Assembler.Feed(bytes);
        ServeRtu(client, false);
    }
}

bool TTcpServer::RequestsDone() const {
    return FOptions.Requests && FStats.Requests >= *FOptions.Requests;
}

int TTcpServer::WaitMs() const {
    for (const TClient& client : FClients)
        if (!client.Assembler.Empty())
            return static_cast<int>(RtuQuiet.count());
    return 1000;
}

void TTcpServer::SaveState() {
    if (FOptions.StateFile.empty())
        return;
    std::string error;
    if (!WriteFileAtomically(FOptions.StateFile, SerializeState(FMeter), error))
        std::fprintf(stderr, "kt580-sim: cannot save the state: %s\n", error.c_str());
    FSavedGeneration = FMeter.MemoryGeneration();
}

std::vector<pollfd> TTcpServer::PollSet() const {
    std::vector<pollfd> fds;
    for (const TListener& listener : FListeners)
        fds.push_back({listener.Fd, POLLIN, 0});
    for (const TClient& client : FClients)
        fds.push_back({client.Fd, POLLIN, 0});
    return fds;
}

void TTcpServer::Serve(const std::vector<pollfd>& fds) {
    std::size_t at = 0;
    for (const TListener& listener : FListeners)
        if ((fds[at++].revents & POLLIN) != 0)
            Accept(listener);
    // Clients accepted just now come last and have no entry yet.
    for (TClient& client : FClients) {
        if (at < fds.size() && fds[at++].revents != 0)
            ReadClient(client);
        if (!client.Assembler.Empty() && TClock::now() - client.LastByte >= RtuQuiet)
            ServeRtu(client, true);
    }
    FClients.remove_if([](const TClient& client) {
        if (client.Closing)
            ::close(client.Fd);
        return client.Closing;
    });
}

bool TTcpServer::Run(const volatile std::sig_atomic_t& stop) {
    sigset_t unblocked;
    ::sigemptyset(&unblocked);
    while (stop == 0 && !RequestsDone()) {
        std::vector<pollfd> fds = PollSet();
        const int ms = WaitMs();
        const timespec timeout{ms / 1000, (ms % 1000) * 1000000L};
        // Signals are blocked except inside the wait, so a stop request is never missed.
        if (::ppoll(fds.data(), fds.size(), &timeout, &unblocked) < 0 && errno != EINTR) {
            std::fprintf(stderr, "kt580-sim: poll: %s\n", std::strerror(errno));
            return false;
        }
        Serve(fds);
    }
    AdvanceMeterTime();
    return true;
}

} // namespace kt580sim
