// The meter's side of Modbus RTU: turns one checked request frame into the effect on the
// meter and the answer frame, with the exceptions a meter gives.
#pragma once

#include "MeterModel.h"

#include <cstdint>
#include <string>

namespace kt580sim {

struct TReply {
    enum TKind {
        Answer,       // Bytes holds the answer frame (normal or exception)
        Broadcast,    // carried out, never answered
        OtherAddress, // for another slave: ignored
        Ignored,      // a broadcast that cannot be carried out (a read), or too short
    } Kind = Ignored;
    std::string Bytes;     // with its check field
    uint8_t Exception = 0; // exception code of an exception answer, else 0
};

// Modbus limits of one request.
constexpr uint16_t MaxReadBits = 2000;
constexpr uint16_t MaxReadRegisters = 125;
constexpr uint16_t MaxWriteRegisters = 123;

// `frame` is a whole request with a valid check field; `address` the meter's address now.
TReply HandleRequest(TMeterModel& meter, const std::string& frame, uint8_t address);

} // namespace kt580sim
