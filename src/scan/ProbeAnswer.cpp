#include "scan/ProbeAnswer.h"

#include "meter/RegisterDecode.h"
#include "modbus/KrChecksum.h"

#include <vector>

namespace {

constexpr std::uint8_t ReadHolding = 0x03;
constexpr std::uint16_t IdentityStart = 0xF000;
constexpr int IdentityRegisters = 9;
constexpr std::uint16_t SerialStart = 0xF040;
constexpr int SerialRegisters = 16;

std::string ReadRequest(std::uint8_t address, std::uint16_t start, int count) {
    std::string frame{static_cast<char>(address),
                      static_cast<char>(ReadHolding),
                      static_cast<char>(start >> 8),
                      static_cast<char>(start & 0xFF),
                      0,
                      static_cast<char>(count)};
    const std::uint16_t crc = CalcCRC16(frame);
    frame += static_cast<char>(crc & 0xFF); // low byte first on the wire
    frame += static_cast<char>(crc >> 8);
    return frame;
}

bool CrcMatches(std::string_view frame) {
    if (frame.size() < 4)
        return false;
    const std::uint16_t crc = CalcCRC16(frame.substr(0, frame.size() - 2));
    return static_cast<std::uint8_t>(frame[frame.size() - 2]) == (crc & 0xFF) &&
           static_cast<std::uint8_t>(frame[frame.size() - 1]) == (crc >> 8);
}

std::uint8_t Byte(std::string_view s, std::size_t i) {
    return static_cast<std::uint8_t>(s[i]);
}

// Clean frames from `address` that `received` holds: a normal answer of `registers` registers
// (its offset), or an exception answer (found, but no offset).
struct TFound {
    std::optional<std::size_t> Normal;
    bool Exception = false;
    bool OtherClean = false; // a clean read answer of another length
};

TFound FindFrames(std::string_view received, std::uint8_t address, int registers) {
    TFound found;
    const std::size_t normal = 5 + 2 * static_cast<std::size_t>(registers);
    for (std::size_t i = 0; i + 5 <= received.size(); ++i) {
        if (Byte(received, i) != address)
            continue;
        const std::uint8_t function = Byte(received, i + 1);
        if (function == (ReadHolding | 0x80) && CrcMatches(received.substr(i, 5))) {
            found.Exception = true;
            continue;
        }
        if (function != ReadHolding)
            continue;
        const std::size_t count = Byte(received, i + 2);
        if (i + 5 + count > received.size() || !CrcMatches(received.substr(i, 5 + count)))
            continue;
        if (5 + count == normal) {
            found.Normal = i;
            return found;
        }
        found.OtherClean = true;
    }
    return found;
}

std::vector<std::uint16_t> Registers(std::string_view frame, int count) {
    std::vector<std::uint16_t> values;
    values.reserve(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r)
        values.push_back(
            static_cast<std::uint16_t>(Byte(frame, 3 + 2 * r) << 8 | Byte(frame, 4 + 2 * r)));
    return values;
}

} // namespace

std::string IdentityRequest(std::uint8_t address) {
    return ReadRequest(address, IdentityStart, IdentityRegisters);
}

std::string SerialNumberRequest(std::uint8_t address) {
    return ReadRequest(address, SerialStart, SerialRegisters);
}

TIdentityAnswer ClassifyIdentity(std::string_view received, std::string_view request,
                                 std::uint8_t address, bool lineErrors) {
    if (!request.empty() && received.substr(0, request.size()) == request)
        received.remove_prefix(request.size());
    TIdentityAnswer answer;
    const TFound found = FindFrames(received, address, IdentityRegisters);
    if (found.Normal) {
        const auto values = Registers(received.substr(*found.Normal), IdentityRegisters);
        const std::string code(received.substr(*found.Normal + 3, 4));
        const TIdentity identity = DecodeIdentity(values);
        answer.DeviceType = identity.DevType.section(QLatin1Char(' '), 0, 0);
        answer.SoftVersion = identity.SoftVersion;
        // The model is named by the code's first two characters; anything else is some other
        // device that happens to answer at these registers.
        if (code.rfind("EB", 0) == 0 || code.rfind("ED", 0) == 0) {
            answer.Kind = TAnswerKind::Meter;
            answer.Model = identity.DevType.section(QLatin1Char('('), 1).chopped(1);
        } else {
            answer.Kind = TAnswerKind::OtherDevice;
        }
        return answer;
    }
    if (found.Exception || found.OtherClean)
        answer.Kind = TAnswerKind::OtherDevice;
    else if (!received.empty() || lineErrors)
        answer.Kind = TAnswerKind::Garbled;
    return answer;
}

std::optional<QString> SerialNumberOf(std::string_view received, std::uint8_t address) {
    const TFound found = FindFrames(received, address, SerialRegisters);
    if (!found.Normal)
        return std::nullopt;
    return DecodeSerialNumber(Registers(received.substr(*found.Normal), SerialRegisters));
}

bool AnswerComplete(std::string_view received, std::uint8_t address, int registers) {
    const TFound found = FindFrames(received, address, registers);
    if (found.Normal.has_value() || found.Exception)
        return true;
    // The first place where an answer from `address` begins decides its length.
    const std::size_t normal = 5 + 2 * static_cast<std::size_t>(registers);
    for (std::size_t i = 0; i + 1 < received.size(); ++i) {
        if (Byte(received, i) != address)
            continue;
        const std::uint8_t function = Byte(received, i + 1);
        if (function == (ReadHolding | 0x80))
            return received.size() >= i + 5;
        if (function == ReadHolding &&
            (i + 2 >= received.size() || Byte(received, i + 2) == normal - 5))
            return received.size() >= i + normal;
    }
    return false;
}
