// The likely cause when the meter is reached through an Ethernet gateway, in one line with what
// to do: a pure judgement over the most recent queries on the TCP connection. It names only
// causes that belong to the gateway; with none of them, the line's verdict (JudgeLine) speaks.
#pragma once

#include "comms/LineVerdict.h"
#include "modbus/FramingDetect.h"

#include <QString>

#include <cstdint>
#include <map>

// The framing the connection is set to.
enum class TGatewayFraming : std::uint8_t { ModbusTcp, RtuOverTcp };

// The most recent queries on the connection, summed up.
struct TGatewaySummary {
    TGatewayFraming Framing = TGatewayFraming::ModbusTcp;
    // Queries at the meter's unit identifier, and how they ended.
    int Queries = 0;
    int Answered = 0;
    int NoResponse = 0;
    // Answers whose bytes were in the other framing (DetectFraming).
    int OtherFraming = 0;
    // Exceptions the gateway gives for the line behind it.
    int Exception0A = 0;
    int Exception0B = 0;
    // Answers to queries at unit identifier 0 or 255, the gateway itself, and the last such
    // unit identifier.
    int GatewayUnitAnswers = 0;
    int GatewayUnit = 255;
    // The response time-out now, and the recent queries and time-outs at each time-out used
    // since the connect.
    int TimeoutMs = 0;
    std::map<int, TIntervalTally> ByTimeout;
};

enum class TGatewayVerdictKind : std::uint8_t {
    None, // nothing that belongs to the gateway: the line's verdict holds
    ChooseRtuOverTcp,
    ChooseModbusTcp,
    NoSerialPath,
    MeterSilent,
    OnlyGatewayAnswers,
    SlowGateway,
};

struct TGatewayVerdict {
    TGatewayVerdictKind Kind = TGatewayVerdictKind::None;
    QString Text; // empty for None
};

// Counts `bytes`, an answer received on a connection set to `framing`, into `summary` when they
// are in the other framing; true if they were.
bool CountOtherFraming(TGatewaySummary& summary, std::string_view bytes);

TGatewayVerdict JudgeGateway(const TGatewaySummary& s);
