#include "SlaveProtocol.h"

#include "Crc16.h"

#include <vector>

namespace kt580sim {

namespace {

uint16_t Word(const std::string& bytes, std::size_t at) {
    return static_cast<uint16_t>((static_cast<uint8_t>(bytes[at]) << 8) |
                                 static_cast<uint8_t>(bytes[at + 1]));
}

void PutWord(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xFF));
}

TReply Exception(uint8_t address, uint8_t function, TException code) {
    TReply reply;
    reply.Kind = TReply::Answer;
    reply.Exception = static_cast<uint8_t>(code);
    reply.Bytes = {static_cast<char>(address), static_cast<char>(function | 0x80),
                   static_cast<char>(code)};
    AppendCrc(reply.Bytes);
    return reply;
}

TReply Normal(std::string body) {
    TReply reply;
    reply.Kind = TReply::Answer;
    reply.Bytes = std::move(body);
    AppendCrc(reply.Bytes);
    return reply;
}

TReply ReadBits(TMeterModel& meter, const std::string& frame, bool coils) {
    const uint8_t address = static_cast<uint8_t>(frame[0]);
    const uint8_t function = static_cast<uint8_t>(frame[1]);
    const uint16_t start = Word(frame, 2);
    const uint16_t count = Word(frame, 4);
    if (count == 0 || count > MaxReadBits) {
        return Exception(address, function, TException::IllegalValue);
    }
    std::vector<bool> bits;
    const TException result =
        coils ? meter.ReadCoils(start, count, bits) : meter.ReadInputs(start, count, bits);
    if (result != TException::None) {
        return Exception(address, function, result);
    }
    std::string body = frame.substr(0, 2);
    const std::size_t bytes = (bits.size() + 7) / 8;
    body.push_back(static_cast<char>(bytes));
    for (std::size_t i = 0; i < bytes; ++i) {
        uint8_t packed = 0;
        for (std::size_t b = 0; b < 8 && 8 * i + b < bits.size(); ++b) {
            packed |= static_cast<uint8_t>(bits[8 * i + b] ? 1U << b : 0U);
        }
        body.push_back(static_cast<char>(packed));
    }
    return Normal(body);
}

TReply ReadRegisters(TMeterModel& meter, const std::string& frame) {
    const uint8_t address = static_cast<uint8_t>(frame[0]);
    const uint8_t function = static_cast<uint8_t>(frame[1]);
    const uint16_t count = Word(frame, 4);
    if (count == 0 || count > MaxReadRegisters) {
        return Exception(address, function, TException::IllegalValue);
    }
    std::vector<uint16_t> values;
    const TException result = meter.ReadRegisters(Word(frame, 2), count, values);
    if (result != TException::None) {
        return Exception(address, function, result);
    }
    std::string body = frame.substr(0, 2);
    body.push_back(static_cast<char>(2 * values.size()));
    for (uint16_t v : values) {
        PutWord(body, v);
    }
    return Normal(body);
}

TReply Write(TMeterModel& meter, const std::string& frame) {
    const uint8_t address = static_cast<uint8_t>(frame[0]);
    const uint8_t function = static_cast<uint8_t>(frame[1]);
    const uint16_t start = Word(frame, 2);
    TException result = TException::None;
    if (function == 0x05) {
        result = meter.WriteCoil(start, Word(frame, 4));
    } else if (function == 0x06) {
        result = meter.WriteRegisters(start, {Word(frame, 4)});
    } else {
        if (frame.size() < 9) {
            return Exception(address, function, TException::IllegalValue);
        }
        const uint16_t count = Word(frame, 4);
        const std::size_t bytes = static_cast<uint8_t>(frame[6]);
        if (count == 0 || count > MaxWriteRegisters || bytes != std::size_t{2} * count ||
            frame.size() != 9 + bytes) {
            return Exception(address, function, TException::IllegalValue);
        }
        std::vector<uint16_t> values;
        for (std::size_t i = 0; i < count; ++i) {
            values.push_back(Word(frame, 7 + 2 * i));
        }
        result = meter.WriteRegisters(start, values);
    }
    if (result != TException::None) {
        return Exception(address, function, result);
    }
    // 05 and 06 echo the request; 10 echoes start and count.
    return Normal(frame.substr(0, 6));
}

} // namespace

TReply HandleRequest(TMeterModel& meter, const std::string& frame, uint8_t address) {
    TReply ignored;
    if (frame.size() < 4) {
        return ignored;
    }
    const uint8_t target = static_cast<uint8_t>(frame[0]);
    const uint8_t function = static_cast<uint8_t>(frame[1]);
    if (target != 0 && target != address) {
        ignored.Kind = TReply::OtherAddress;
        return ignored;
    }
    const bool lengthOk = (function == 0x10) || frame.size() == 8;
    const bool isWrite = function == 0x05 || function == 0x06 || function == 0x10;
    if (target == 0) {
        if (!isWrite || !lengthOk) {
            return ignored;
        }
        Write(meter, frame);
        TReply reply;
        reply.Kind = TReply::Broadcast;
        return reply;
    }
    switch (function) {
    case 0x01:
    case 0x02:
        return lengthOk ? ReadBits(meter, frame, function == 0x01)
                        : Exception(target, function, TException::IllegalValue);
    case 0x03:
    case 0x04:
        return lengthOk ? ReadRegisters(meter, frame)
                        : Exception(target, function, TException::IllegalValue);
    case 0x05:
    case 0x06:
    case 0x10:
        return lengthOk ? Write(meter, frame)
                        : Exception(target, function, TException::IllegalValue);
    default:
        return Exception(target, function, TException::IllegalFunction);
    }
}

} // namespace kt580sim
