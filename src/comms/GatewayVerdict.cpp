#include "comms/GatewayVerdict.h"

namespace {

// Fewer queries than this say nothing yet; the same as for the line.
constexpr int MinQueries = 3;

TGatewayVerdict Make(TGatewayVerdictKind kind, QString text) {
    return TGatewayVerdict{kind, std::move(text)};
}

} // namespace

bool CountOtherFraming(TGatewaySummary& summary, std::string_view bytes) {
    const TWireFraming other =
        summary.Framing == TGatewayFraming::ModbusTcp ? TWireFraming::Rtu : TWireFraming::ModbusTcp;
    if (DetectFraming(bytes) != other)
        return false;
    ++summary.OtherFraming;
    return true;
}

TGatewayVerdict JudgeGateway(const TGatewaySummary& s) {
    // Answers in the other framing name the cause at once: every later query would fail alike.
    if (s.OtherFraming > 0 && s.Answered == 0)
        return s.Framing == TGatewayFraming::ModbusTcp
                   ? Make(TGatewayVerdictKind::ChooseRtuOverTcp,
                          QStringLiteral("Answers arrive as RTU frames with a CRC, without the "
                                         "Modbus TCP header, so the gateway speaks RTU over TCP: "
                                         "choose it in the connection settings."))
                   : Make(TGatewayVerdictKind::ChooseModbusTcp,
                          QStringLiteral("Answers arrive with the Modbus TCP header instead of "
                                         "a CRC, so the gateway speaks Modbus TCP: choose it in "
                                         "the connection settings."));
    if (s.Queries < MinQueries)
        return {};
    if (s.Exception0A > 0)
        return Make(TGatewayVerdictKind::NoSerialPath,
                    QStringLiteral("The gateway answers exception 0A, so the gateway has no path "
                                   "to the serial line. Check the gateway's routing of this unit "
                                   "identifier to its serial port."));
    if (s.Exception0B > 0)
        return Make(TGatewayVerdictKind::MeterSilent,
                    QStringLiteral("The gateway answers exception 0B, so the meter behind the "
                                   "gateway did not answer: check its address and the gateway's "
                                   "serial settings."));
    if (s.Answered == 0 && s.GatewayUnitAnswers > 0)
        return Make(TGatewayVerdictKind::OnlyGatewayAnswers,
                    QStringLiteral("Only the gateway itself answers (at unit identifier %1); the "
                                   "meter behind it does not. Set the unit identifier to the "
                                   "meter's address and check the gateway's serial settings.")
                        .arg(s.GatewayUnit));
    if (const int shorter = TimeoutsCuredBelow(s.ByTimeout, s.TimeoutMs); shorter >= 0)
        return Make(TGatewayVerdictKind::SlowGateway,
                    QStringLiteral("Time-outs stopped when the time-out grew from %1 ms to %2 ms: "
                                   "the gateway is slow to pass answers on. Keep the time-out at "
                                   "%2 ms or more.")
                        .arg(shorter)
                        .arg(s.TimeoutMs));
    return {};
}
