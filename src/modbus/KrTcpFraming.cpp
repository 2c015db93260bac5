#include "modbus/KrTcpFraming.h"

#include "modbus/KrChecksum.h"

namespace {

constexpr std::size_t RtuOverhead = 3; // address and CRC

void AddFault(TKrTcpIncoming& in, const std::string& text) {
    if (!in.Fault.empty()) {
        in.Fault += ' ';
    }
    in.Fault += text;
}

} // namespace

std::string TKrTcpFramer::Outgoing(std::string_view rtuFrame) {
    if (FFraming == TKrTcpFraming::RtuOverTcp) {
        return std::string(rtuFrame);
    }
    if (rtuFrame.size() <= RtuOverhead || CalcCRC16(rtuFrame) != 0) {
        return {};
    }
    const auto unit = static_cast<std::uint8_t>(rtuFrame[0]);
    const std::string_view pdu = rtuFrame.substr(1, rtuFrame.size() - RtuOverhead);
    std::string out = EncodeMbap(static_cast<std::uint16_t>(FTransactionId + 1), unit, pdu);
    if (!out.empty()) {
        ++FTransactionId;
        FUnitId = unit;
        FDecoder.Expect(FTransactionId);
    }
    return out;
}

TKrTcpIncoming TKrTcpFramer::Incoming(std::string_view bytes) {
    TKrTcpIncoming in;
    if (FFraming == TKrTcpFraming::RtuOverTcp) {
        in.Rtu = bytes;
        return in;
    }
    // The decoder holds at most one frame: it takes what fits, gives its frames, takes more.
    do {
        bytes.remove_prefix(FDecoder.Feed(bytes));
        for (TMbapResult r = FDecoder.Next(); r.Status != TMbapStatus::NeedMore;
             r = FDecoder.Next()) {
            if (IsStreamBroken(r.Status)) {
                AddFault(in, "The gateway sent " + std::string(MbapStatusText(r.Status)) +
                                 "; the connection is closed.");
                in.Broken = true;
                return in;
            }
            TakeFrame(r, in);
        }
    } while (!bytes.empty());
    return in;
}

void TKrTcpFramer::TakeFrame(const TMbapResult& r, TKrTcpIncoming& in) const {
    const TMbapFrame& f = r.Frame;
    if (r.Status == TMbapStatus::OtherTransaction) {
        AddFault(in, "A late answer (transaction " + std::to_string(f.TransactionId) +
                         ", the request is " + std::to_string(FTransactionId) + ") was dropped.");
        return;
    }
    if (f.UnitId != FUnitId) {
        AddFault(in, "An answer from unit " + std::to_string(f.UnitId) + " to a request to unit " +
                         std::to_string(FUnitId) + " was dropped.");
        return;
    }
    std::string rtu(1, static_cast<char>(f.UnitId));
    rtu += f.Pdu;
    const std::uint16_t crc = CalcCRC16(rtu);
    rtu += static_cast<char>(crc & 0xFF);
    rtu += static_cast<char>(crc >> 8);
    in.Rtu += rtu;
}

void TKrTcpFramer::Reset() {
    FDecoder.Reset();
}
