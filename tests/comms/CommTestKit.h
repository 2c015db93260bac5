// Frames and a scripted clock for the communication statistics tests.
#pragma once

#include "comms/CommMonitor.h"
#include "modbus/KrChecksum.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

// "01 03 14 00" -> bytes.
inline std::string Hex(const char* text) {
    const QByteArray b = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// The bytes with their CRC, low byte first.
inline std::string WithCrc(const std::string& bytes) {
    const std::uint16_t crc = CalcCRC16(bytes);
    return bytes + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
}

// A clock the test moves by hand.
struct TStepClock {
    std::shared_ptr<std::int64_t> Us = std::make_shared<std::int64_t>(1'000'000);
    TCommMonitor::TClock Clock() const {
        auto us = Us;
        return {[us] { return *us; }, [us] { return 1'700'000'000'000 + *us / 1000; }};
    }
    void AdvanceMs(double ms) { *Us += static_cast<std::int64_t>(ms * 1000); }
};

// Drives a monitor through one query as the link reports it: the frame, the answer after
// `answerMs`, and the end with the master's error kind.
inline void RunQuery(TCommMonitor& m, TStepClock& clock, const std::string& request,
                     const std::string& answer, int errorKind, int exceptionCode = -1,
                     double answerMs = 20, int interval = 500, int baud = 19200) {
    const std::string frame = WithCrc(request);
    m.FrameSent(frame, {baud, 10, interval});
    clock.AdvanceMs(answerMs);
    if (!answer.empty())
        m.DataReceived(answer);
    clock.AdvanceMs(5);
    m.QueryEnded(
        {static_cast<std::uint8_t>(errorKind), exceptionCode, request[0] == 0, request, answer});
}
