#include "Server.h"

#include "Crc16.h"
#include "FrameAssembler.h"
#include "SlaveProtocol.h"
#include "StateFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <random>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace kt580sim {

namespace {

// Energy moves all the time; saving it this often bounds what a crash loses.
constexpr auto StateSaveInterval = std::chrono::seconds(30);
// How long an answer may wait for a reader before the rest is dropped.
constexpr int WriteTimeoutMs = 200;
// How long the last answer may wait to be read before the terminal closes.
constexpr int LingerMs = 500;

uint64_t SeedOf(const TOptions& options) {
    if (options.Seed) {
        return *options.Seed;
    }
    std::random_device device;
    return (uint64_t(device()) << 32) | device();
}

void SleepUntil(std::chrono::steady_clock::time_point when) {
    std::this_thread::sleep_until(when);
}

// The writes regrouped as an adapter passes them on: whatever is due by a tick of its
// latency timer goes out at that tick, together.
std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>>
InChunks(const std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>>& writes,
         std::chrono::steady_clock::duration period) {
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> chunks;
    for (const auto& [when, bytes] : writes) {
        const auto since = when.time_since_epoch();
        const auto tick = std::chrono::steady_clock::time_point(
            (since + period - std::chrono::steady_clock::duration(1)) / period * period);
        if (chunks.empty() || chunks.back().first != tick) {
            chunks.emplace_back(tick, bytes);
        } else {
            chunks.back().second += bytes;
        }
    }
    return chunks;
}

} // namespace

TServer::TServer(const TOptions& options, TMeterModel& meter, TTerminal& terminal, std::FILE* log)
    : FOptions(options), FMeter(meter), FTerminal(terminal), FLog(log),
      FFaults(options.FaultRates, SeedOf(options)), FAddress(meter.Address()),
      FBaudrate(meter.Baudrate()), FParity(meter.Parity()), FLastAdvance(TClock::now()),
      FLastSave(TClock::now()), FSavedGeneration(meter.MemoryGeneration()),
      FLoseAnswers(options.LoseAnswers) {}

bool TServer::LoseAnswer(const std::string& frame) {
    if (frame.size() < 4) {
        return false;
    }
    const auto start = static_cast<uint16_t>(static_cast<unsigned char>(frame[2]) << 8 |
                                             static_cast<unsigned char>(frame[3]));
    const auto it = std::find(FLoseAnswers.begin(), FLoseAnswers.end(), start);
    if (it == FLoseAnswers.end()) {
        return false;
    }
    FLoseAnswers.erase(it);
    return true;
}

std::array<uint64_t, FaultKinds> TServer::FaultCounts() const {
    std::array<uint64_t, FaultKinds> counts{};
    for (int k = 0; k < FaultKinds; ++k) {
        counts[k] = FFaults.Count(static_cast<TFaultKind>(k));
    }
    return counts;
}

double TServer::SilenceSeconds() const {
    // 3.5 characters; above 19200 baud the usual fixed 1.75 ms.
    return FBaudrate > 19200 ? 0.00175 : 3.5 * CharacterSeconds(FBaudrate);
}

void TServer::Log(const char* direction, const std::string& bytes, const std::string& note) {
    if (FLog == nullptr) {
        return;
    }
    timeval now{};
    ::gettimeofday(&now, nullptr);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long>(now.tv_usec / 1000));
    std::string hex;
    for (unsigned char c : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%s%02X", hex.empty() ? "" : " ", c);
        hex += pair;
    }
    std::fprintf(FLog, "%s %s %s%s%s\n", stamp, direction, hex.c_str(), note.empty() ? "" : "  ",
                 note.c_str());
    std::fflush(FLog);
}

void TServer::AdvanceMeterTime() {
    const auto now = TClock::now();
    const double seconds = std::chrono::duration<double>(now - FLastAdvance).count();
    FLastAdvance = now;
    FMeter.Advance(seconds * FOptions.TimeScale);
}

void TServer::SaveState() {
    if (FOptions.StateFile.empty()) {
        return;
    }
    std::string error;
    if (!WriteFileAtomically(FOptions.StateFile, SerializeState(FMeter), error)) {
        std::fprintf(stderr, "kt580-sim: cannot save the state: %s\n", error.c_str());
    }
    FSavedGeneration = FMeter.MemoryGeneration();
    FLastSave = TClock::now();
}

void TServer::Send(const std::vector<TPiece>& pieces, TClock::time_point lastByte,
                   std::optional<int> turnaroundMs) {
    const double charSeconds = CharacterSeconds(FBaudrate);
    const auto seconds = [](double s) {
        return std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(s));
    };
    auto next = lastByte + std::chrono::milliseconds(turnaroundMs.value_or(
                               FOptions.DelayMs.value_or(FOptions.Pace ? 10 : 0)));
    if (FOptions.Pace) {
        next += seconds(3.5 * charSeconds);
    }
    // When each part would be on the line: paced byte by byte, or whole pieces. The times are
    // absolute so that delays do not add up.
    std::vector<std::pair<TClock::time_point, std::string>> writes;
    for (const TPiece& piece : pieces) {
        if (piece.GapBeforeMs > 0) {
            next = std::max(next, TClock::now()) + std::chrono::milliseconds(piece.GapBeforeMs);
        }
        if (!FOptions.Pace) {
            writes.emplace_back(next, piece.Bytes);
            continue;
        }
        for (char byte : piece.Bytes) {
            writes.emplace_back(next, std::string(1, byte));
            next += seconds(charSeconds);
        }
    }
    if (FOptions.ChunkMs > 0) {
        writes = InChunks(writes, std::chrono::milliseconds(FOptions.ChunkMs));
    }
    for (const auto& [when, bytes] : writes) {
        SleepUntil(when);
        FTerminal.WriteAll(bytes, WriteTimeoutMs);
    }
}

bool TServer::Busy(TClock::time_point lastByte) const {
    return FOptions.BusyMs > 0 && FLastAnswer &&
           lastByte - *FLastAnswer < std::chrono::milliseconds(FOptions.BusyMs);
}

std::string TServer::AsAddressed(const std::string& frame) const {
    std::string request = frame;
    if (FOptions.AnswerAnyAddress && request.size() >= 4 && uint8_t(request[0]) != 0 &&
        uint8_t(request[0]) != FAddress) {
        // Taken as if it were addressed to this meter; the answer carries the meter's address.
        request.resize(request.size() - 2);
        request[0] = static_cast<char>(FAddress);
        AppendCrc(request);
    }
    return request;
}

bool TServer::LineMismatch(const std::string& frame) {
    if (!FTerminal.IsPseudo()) {
        return false;
    }
    const auto peer = FTerminal.PeerBaudrate();
    if (!peer || *peer == FBaudrate) {
        return false;
    }
    // At another speed a real meter receives only garbage.
    ++FStats.LineMismatch;
    std::string note = "ignored: line at ";
    note += std::to_string(*peer);
    note += " baud, meter at ";
    note += std::to_string(FBaudrate);
    Log("RX", frame, note);
    return true;
}

TReply TServer::Dispatch(const std::string& frame) const {
    TReply reply = HandleRequest(FMeter, AsAddressed(frame), FAddress);
    if (FOptions.EchoAnyAddress && reply.Kind == TReply::Answer && reply.Bytes.size() >= 4 &&
        !frame.empty() && reply.Bytes[0] != frame[0]) {
        reply.Bytes.resize(reply.Bytes.size() - 2);
        reply.Bytes[0] = frame[0];
        AppendCrc(reply.Bytes);
    }
    for (std::size_t i = 0; i < FOthers.size() && reply.Kind == TReply::OtherAddress; ++i) {
        reply = HandleRequest(*FOthers[i], frame, FOthers[i]->Address());
    }
    return reply;
}

bool TServer::LoseFunction(const std::string& frame) const {
    return frame.size() > 1 &&
           std::find(FOptions.LoseFunctions.begin(), FOptions.LoseFunctions.end(),
                     static_cast<uint8_t>(frame[1])) != FOptions.LoseFunctions.end();
}

void TServer::Answer(const std::string& frame, const TReply& reply, TClock::time_point lastByte) {
    ++FStats.Requests;
    Log("RX", frame);
    if (reply.Exception >= 1 && reply.Exception <= 4) {
        ++FStats.Exceptions[reply.Exception];
    }
    if (LoseFunction(frame)) {
        // Carried out, and the answer lost on the way back.
        Log("TX", {}, "fault drop (function)");
        return;
    }
    if (LoseAnswer(frame)) {
        // Logged as a dropped answer, so the log tells every lost answer alike.
        Log("TX", {}, "fault drop (chosen)");
        return;
    }
    // By the address in the answer: the meter that gives it.
    const TMeterBehaviour meter = BehaviourOf(
        FOptions.MeterFaults, reply.Bytes.empty() ? 0 : static_cast<uint8_t>(reply.Bytes[0]));
    if (meter.Silent) {
        Log("TX", {}, "fault silent (meter)");
        return;
    }
    std::string bytes = reply.Bytes;
    if (meter.Garble) {
        GarbleCheck(bytes);
    }
    const auto before = FaultCounts();
    const std::vector<TPiece> pieces = FFaults.Shape(bytes, FAddress);
    if (!pieces.empty()) {
        ++FStats.Answers;
        Send(pieces, lastByte, meter.TurnaroundMs);
        FLastAnswer = TClock::now();
    }
    if (FLog != nullptr) {
        LogSent(pieces, before);
    }
}

void TServer::LogSent(const std::vector<TPiece>& pieces,
                      const std::array<uint64_t, FaultKinds>& faultsBefore) {
    const auto after = FaultCounts();
    std::string faults;
    for (int k = 0; k < FaultKinds; ++k) {
        if (after[k] != faultsBefore[k]) {
            faults += faults.empty() ? "fault " : ",";
            faults += FaultName(static_cast<TFaultKind>(k));
        }
    }
    std::string sent;
    for (const TPiece& p : pieces) {
        sent += p.Bytes;
    }
    Log("TX", sent, faults);
}

void TServer::FollowMeterSettings() {
    FAddress = FMeter.Address();
    if (FMeter.Baudrate() != FBaudrate || FMeter.Parity() != FParity) {
        FBaudrate = FMeter.Baudrate();
        FParity = FMeter.Parity();
        std::string error;
        if (!FTerminal.Reconfigure(FBaudrate, FParity, error)) {
            std::fprintf(stderr, "kt580-sim: %s\n", error.c_str());
        }
    }
}

void TServer::HandleFrame(const std::string& frame, TClock::time_point lastByte) {
    AdvanceMeterTime();
    if (LineMismatch(frame)) {
        return;
    }
    if (Busy(lastByte)) {
        Log("RX", frame, "ignored: busy");
        return;
    }
    const TReply reply = Dispatch(frame);
    switch (reply.Kind) {
    case TReply::OtherAddress:
        ++FStats.OtherAddress;
        Log("RX", frame, "ignored: another address");
        return;
    case TReply::Ignored:
        Log("RX", frame, "ignored");
        return;
    case TReply::Broadcast:
        ++FStats.Requests;
        ++FStats.Broadcasts;
        Log("RX", frame, "broadcast");
        break;
    case TReply::Answer:
        Answer(frame, reply, lastByte);
        break;
    }
    // New address and line settings take effect only now, after the answer.
    FollowMeterSettings();
    if (FMeter.MemoryGeneration() != FSavedGeneration) {
        SaveState();
    }
}

bool TServer::RequestsDone() const {
    return FOptions.Requests && FStats.Requests >= *FOptions.Requests;
}

TServer::TClock::duration TServer::Silence() const {
    return std::chrono::duration_cast<TClock::duration>(
        std::chrono::duration<double>(SilenceSeconds()));
}

timespec TServer::WaitTime(const TFrameAssembler& assembler, TClock::time_point lastByte) const {
    if (assembler.Empty()) {
        return {1, 0};
    }
    const auto left = std::max(lastByte + Silence() - TClock::now(), TClock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

void TServer::ReadLine(TFrameAssembler& assembler, TClock::time_point& lastByte) {
    char buffer[512];
    const ssize_t n = ::read(FTerminal.Fd(), buffer, sizeof buffer);
    if (n > 0) {
        lastByte = TClock::now();
        assembler.Feed(std::string(buffer, static_cast<std::size_t>(n)));
        while (auto frame = assembler.Next(false)) {
            HandleFrame(*frame, lastByte);
            if (RequestsDone()) {
                break;
            }
        }
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR && errno != EIO)) {
        std::fprintf(stderr, "kt580-sim: the line is gone\n");
        FFatal = true;
    }
}

void TServer::LineHungUp() {
    if (FTerminal.IsPseudo()) {
        // Cannot happen while we hold the other side; do not spin if it does.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
        std::fprintf(stderr, "kt580-sim: the device is gone\n");
        FFatal = true;
    }
}

void TServer::EndFramesAfterSilence(TFrameAssembler& assembler, TClock::time_point lastByte) {
    if (assembler.Empty() || TClock::now() - lastByte < Silence()) {
        return;
    }
    while (auto frame = assembler.Next(true)) {
        HandleFrame(*frame, lastByte);
    }
}

bool TServer::Run(const volatile std::sig_atomic_t& stop) {
    TFrameAssembler assembler;
    auto lastByte = TClock::now();
    sigset_t unblocked;
    ::sigemptyset(&unblocked);
    while (stop == 0 && !FFatal && !RequestsDone()) {
        timespec timeout = WaitTime(assembler, lastByte);
        pollfd p{FTerminal.Fd(), POLLIN, 0};
        // Signals are blocked except inside the wait, so a stop request is never missed.
        const int ready = ::ppoll(&p, 1, &timeout, &unblocked);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "kt580-sim: poll: %s\n", std::strerror(errno));
            return false;
        }
        if (ready > 0 && (p.revents & POLLIN) != 0) {
            ReadLine(assembler, lastByte);
        } else if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            LineHungUp();
        }
        EndFramesAfterSilence(assembler, lastByte);
        FStats.DiscardedBytes = assembler.DiscardedBytes();
        if (!FOptions.StateFile.empty() && TClock::now() - FLastSave > StateSaveInterval) {
            AdvanceMeterTime();
            SaveState();
        }
    }
    AdvanceMeterTime();
    if (!FFatal) {
        FTerminal.Linger(LingerMs);
    }
    return !FFatal;
}

} // namespace kt580sim
