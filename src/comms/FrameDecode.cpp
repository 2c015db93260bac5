#include "comms/FrameDecode.h"

#include "modbus/KrChecksum.h"

#include <QStringList>

namespace {

constexpr int ShownValues = 10;

std::uint8_t Byte(std::string_view s, std::size_t i) {
    return static_cast<std::uint8_t>(s[i]);
}

int Word(std::string_view s, std::size_t i) {
    return Byte(s, i) << 8 | Byte(s, i + 1);
}

QString Hex2(int v) {
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

QString Reg(int v) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}

const char* FunctionName(int function) {
    switch (function) {
    case 0x01:
        return "read coils";
    case 0x02:
        return "read inputs";
    case 0x03:
        return "read registers";
    case 0x04:
        return "read input registers";
    case 0x05:
        return "write coil";
    case 0x06:
        return "write register";
    case 0x0F:
        return "write coils";
    case 0x10:
        return "write registers";
    default:
        return nullptr;
    }
}

QString Head(std::string_view frame) {
    const int function = Byte(frame, 1);
    QString text = QStringLiteral("addr %1, fn %2").arg(Byte(frame, 0)).arg(Hex2(function));
    if (const char* name = FunctionName(function & 0x7F))
        text += QLatin1Char(' ') + QLatin1String(name);
    return text;
}

QString CheckText(std::string_view frame) {
    return CrcGood(frame) ? QStringLiteral("CRC good") : QStringLiteral("CRC bad");
}

QString Values(std::string_view data, int count) {
    QStringList values;
    for (int i = 0; i < count && i < ShownValues; ++i)
        values << QString::number(Word(data, 2 * static_cast<std::size_t>(i)));
    QString text = values.join(QLatin1Char(' '));
    if (count > ShownValues)
        text += QStringLiteral(" ... (%1 values)").arg(count);
    return text;
}

QString Bits(std::string_view data, int count) {
    QString text;
    for (int i = 0; i < count && i / 8 < static_cast<int>(data.size()); ++i)
        text += (Byte(data, static_cast<std::size_t>(i) / 8) >> (i % 8) & 1) ? QLatin1Char('1')
                                                                             : QLatin1Char('0');
    return text;
}

// The length of an answer to `function` that begins at `at`, or 0 if it cannot be told yet.
std::size_t AnswerLength(std::string_view s, std::size_t at, int function) {
    if (at + 3 > s.size())
        return 0;
    const int f = Byte(s, at + 1);
    if (f == (function | 0x80))
        return 5;
    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        return 5 + static_cast<std::size_t>(Byte(s, at + 2));
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10:
        return 8;
    default:
        return 0;
    }
}

} // namespace

QString ExceptionName(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("Illegal function");
    case 2:
        return QStringLiteral("Illegal data address");
    case 3:
        return QStringLiteral("Illegal data value");
    case 4:
        return QStringLiteral("Slave device failure");
    case 5:
        return QStringLiteral("Acknowledge");
    case 6:
        return QStringLiteral("Slave device busy");
    case 8:
        return QStringLiteral("Memory parity error");
    case 10:
        return QStringLiteral("Gateway path unavailable");
    case 11:
        return QStringLiteral("Gateway target failed to respond");
    default:
        return QStringLiteral("Unknown exception");
    }
}

bool CrcGood(std::string_view frame) {
    if (frame.size() < 3)
        return false;
    const std::uint16_t crc = CalcCRC16(frame.substr(0, frame.size() - 2));
    // The CRC travels low byte first.
    return Byte(frame, frame.size() - 2) == (crc & 0xFF) &&
           Byte(frame, frame.size() - 1) == crc >> 8;
}

QString DescribeRequest(std::string_view frame) {
    if (frame.size() < 4)
        return QStringLiteral("%1 bytes, too short for a frame").arg(frame.size());
    QString text = Head(frame);
    const int function = Byte(frame, 1);
    if (frame.size() >= 8) {
        const int start = Word(frame, 2);
        const int second = Word(frame, 4);
        switch (function) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x0F:
        case 0x10:
            text += QStringLiteral(", reg %1, count %2").arg(Reg(start)).arg(second);
            break;
        case 0x05:
        case 0x06:
            text += QStringLiteral(", reg %1 = %2").arg(Reg(start)).arg(second);
            break;
        default:
            break;
        }
    }
    if (Byte(frame, 0) == 0)
        text += QStringLiteral(", broadcast");
    return text + QStringLiteral(", ") + CheckText(frame);
}

QString DescribeAnswer(std::string_view received, std::string_view request) {
    if (received.empty())
        return QStringLiteral("no response");
    if (received.size() < 4)
        return QStringLiteral("%1 bytes, too short for a frame, CRC bad").arg(received.size());
    QString text = Head(received);
    const int function = Byte(received, 1);
    const bool good = CrcGood(received);
    if (function & 0x80) {
        const int code = Byte(received, 2);
        return text + QStringLiteral(", exception %1 %2, ").arg(Hex2(code), ExceptionName(code)) +
               CheckText(received);
    }
    if (!good)
        return text + QStringLiteral(", %1 bytes, CRC bad").arg(received.size());
    const std::string_view data = received.substr(3, received.size() - 5);
    const int requested = request.size() >= 6 ? Word(request, 4) : 0;
    switch (function) {
    case 0x01:
    case 0x02:
        text += QStringLiteral(", %1").arg(Bits(data, requested));
        break;
    case 0x03:
    case 0x04:
        text += QStringLiteral(", %1").arg(Values(data, static_cast<int>(data.size() / 2)));
        break;
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10:
        if (received.size() >= 8)
            text += QStringLiteral(", reg %1, %2 %3")
                        .arg(Reg(Word(received, 2)))
                        .arg(function == 0x05 || function == 0x06 ? QStringLiteral("value")
                                                                  : QStringLiteral("count"))
                        .arg(Word(received, 4));
        break;
    default:
        break;
    }
    if (!request.empty() && Byte(received, 0) != Byte(request, 0))
        text += QStringLiteral(", from another address");
    return text + QStringLiteral(", CRC good");
}

std::size_t StrayBytesBefore(std::string_view received, std::string_view request) {
    if (request.size() < 2)
        return 0;
    // The answer ends the bytes received: the first place it can begin with a good check.
    for (std::size_t at = 1; at + 5 <= received.size(); ++at)
        if (received[at] == request[0] && (Byte(received, at + 1) & 0x7F) == Byte(request, 1) &&
            CrcGood(received.substr(at)))
            return CrcGood(received) ? 0 : at;
    return 0;
}

std::optional<std::uint8_t> ForeignAnswerAddress(std::string_view received,
                                                 std::string_view request) {
    if (request.size() < 2 || Byte(request, 0) == 0)
        return std::nullopt;
    const int function = Byte(request, 1);
    for (std::size_t at = 0; at + 5 <= received.size(); ++at) {
        const std::uint8_t address = Byte(received, at);
        if (address == Byte(request, 0) || address == 0 ||
            (Byte(received, at + 1) & 0x7F) != function)
            continue;
        const std::size_t length = AnswerLength(received, at, function);
        if (length > 0 && at + length <= received.size() && CrcGood(received.substr(at, length)))
            return address;
    }
    return std::nullopt;
}
