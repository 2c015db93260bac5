#include "modbus/MbapFrame.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint16_t Word(const char* at) {
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(at[0]) << 8) |
                                      static_cast<std::uint8_t>(at[1]));
}

void PutWord(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xFF));
}

} // namespace

std::string EncodeMbap(std::uint16_t transactionId, std::uint8_t unitId, std::string_view pdu) {
    if (pdu.empty() || pdu.size() > MaxPduSize)
        return {};
    std::string frame;
    frame.reserve(MbapHeaderSize + pdu.size());
    PutWord(frame, transactionId);
    PutWord(frame, 0);
    PutWord(frame, static_cast<std::uint16_t>(pdu.size() + 1));
    frame.push_back(static_cast<char>(unitId));
    frame.append(pdu);
    return frame;
}

bool IsStreamBroken(TMbapStatus status) {
    return status == TMbapStatus::LengthTooShort || status == TMbapStatus::LengthTooLong ||
           status == TMbapStatus::NotModbus;
}

std::string_view MbapStatusText(TMbapStatus status) {
    switch (status) {
    case TMbapStatus::NeedMore:
        return "waiting for the rest of the frame";
    case TMbapStatus::Frame:
        return "a complete frame";
    case TMbapStatus::OtherTransaction:
        return "a frame of another transaction, not the answer to the request";
    case TMbapStatus::LengthTooShort:
        return "a Modbus TCP header whose length leaves no room for a function code";
    case TMbapStatus::LengthTooLong:
        return "a Modbus TCP header whose length is longer than any Modbus frame";
    case TMbapStatus::NotModbus:
        return "a header whose protocol identifier is not Modbus (0)";
    }
    return "unknown";
}

std::size_t TMbapDecoder::Feed(std::string_view bytes) {
    if (FBroken)
        return 0;
    const std::size_t taken = std::min(bytes.size(), FBuffer.size() - FSize);
    std::memcpy(FBuffer.data() + FSize, bytes.data(), taken);
    FSize += taken;
    return taken;
}

// The protocol identifier and the length field can be judged before the unit identifier has
// arrived, so a broken stream is reported as early as it can be.
std::optional<TMbapStatus> TMbapDecoder::HeaderFault() const {
    if (FSize >= 4 && Word(FBuffer.data() + 2) != 0)
        return TMbapStatus::NotModbus;
    if (FSize >= 6) {
        const std::uint16_t length = Word(FBuffer.data() + 4);
        if (length < 2)
            return TMbapStatus::LengthTooShort;
        if (length > MaxMbapLength)
            return TMbapStatus::LengthTooLong;
    }
    return std::nullopt;
}

TMbapResult TMbapDecoder::Next() {
    TMbapResult result;
    if (!FBroken)
        FBroken = HeaderFault();
    if (FBroken) {
        result.Status = *FBroken;
        return result;
    }
    if (FSize < MbapHeaderSize)
        return result;
    const std::size_t total = MbapHeaderSize - 1 + Word(FBuffer.data() + 4);
    if (FSize < total)
        return result;
    result.Frame.TransactionId = Word(FBuffer.data());
    result.Frame.UnitId = static_cast<std::uint8_t>(FBuffer[6]);
    result.Frame.Pdu.assign(FBuffer.data() + MbapHeaderSize, total - MbapHeaderSize);
    result.Status = FExpected && *FExpected != result.Frame.TransactionId
                        ? TMbapStatus::OtherTransaction
                        : TMbapStatus::Frame;
    std::memmove(FBuffer.data(), FBuffer.data() + total, FSize - total);
    FSize -= total;
    return result;
}

void TMbapDecoder::Reset() {
    FSize = 0;
    FBroken.reset();
}
