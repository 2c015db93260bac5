#include "support/PtyPeer.h"

#include "modbus/KrChecksum.h"

#include <QDateTime>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

TPtyPeer::TPtyPeer() {
    FStart = QDateTime::currentMSecsSinceEpoch();
    char name[256] = {};
    if (::openpty(&FMaster, &FSlaveKeep, name, nullptr, nullptr) != 0) {
        FMaster = FSlaveKeep = -1;
        return;
    }
    FPath = name;
    termios t{};
    ::tcgetattr(FSlaveKeep, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(FSlaveKeep, TCSANOW, &t);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    FNotifier = std::make_unique<QSocketNotifier>(FMaster, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, &FContext,
                     [this] { OnReadable(); });
}

TPtyPeer::~TPtyPeer() {
    FNotifier.reset();
    if (FMaster >= 0) {
        ::close(FMaster);
    }
    if (FSlaveKeep >= 0) {
        ::close(FSlaveKeep);
    }
}

qint64 TPtyPeer::Elapsed() const {
    return QDateTime::currentMSecsSinceEpoch() - FStart;
}

void TPtyPeer::OnReadable() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        FPending.append(buffer, static_cast<size_t>(n));
    }
    if (!RequestComplete(FPending)) {
        return;
    }
    const std::string request = std::move(FPending);
    FPending.clear();
    FRequests.push_back(request);
    FRequestTimes.push_back(Elapsed());
    if (Responder) {
        auto pieces = std::make_shared<std::deque<TPeerReply::TPiece>>();
        for (auto& p : Responder(request).Pieces) {
            pieces->push_back(std::move(p));
        }
        SendPieces(pieces);
    }
}

void TPtyPeer::SendPieces(std::shared_ptr<std::deque<TPeerReply::TPiece>> pieces) {
    if (pieces->empty()) {
        return;
    }
    QTimer::singleShot(pieces->front().DelayMs, Qt::PreciseTimer, &FContext, [this, pieces] {
        const std::string bytes = std::move(pieces->front().Bytes);
        pieces->pop_front();
        Send(bytes);
        SendPieces(pieces);
    });
}

void TPtyPeer::Send(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(FMaster, bytes.data() + off, bytes.size() - off);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        off += static_cast<size_t>(n);
    }
}

bool RequestComplete(const std::string& bytes) {
    if (!bytes.empty() && bytes[0] == ':') {
        return bytes.size() >= 3 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0;
    }
    // A lone zero byte is what an unusable query text becomes when it is sent anyway.
    if (bytes.size() == 1 && bytes[0] == '\0') {
        return true;
    }
    return bytes.size() >= 4 && CalcCRC16(bytes) == 0;
}

std::string WithCrc(const std::string& body) {
    const uint16_t crc = CalcCRC16(body);
    return body + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
}

std::string Hex(const char* text) {
    std::string out;
    const std::string s(text);
    for (size_t i = 0; i + 1 < s.size();) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}
