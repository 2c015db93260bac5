// The polling Modbus master: turns query texts into RTU or ASCII frames, decides when a response
// is complete, checks it against its request and raises one event per function code.
#pragma once

#include "modbus/KrModbusCodec.h"
#include "modbus/KrPolling.h"
#include "modbus/KrResponse.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class TKrModbus : public TKrPolling {
public:
    // Views passed to the events live only for the call.
    using TNotifyEvent = std::function<void(TKrModbus& Sender)>;
    using TQueryDataEvent = std::function<void(TKrModbus& Sender, std::string& FmtData)>;
    using TF02ResponseEvent =
        std::function<void(TKrModbus& Sender, std::uint8_t Slave, std::uint16_t StartAddr,
                           std::span<const bool> Values)>;
    using TF03ResponseEvent =
        std::function<void(TKrModbus& Sender, std::uint8_t Slave, std::uint16_t StartAddr,
                           std::span<const std::uint16_t> Values)>;
    using TF05ResponseEvent = std::function<void(TKrModbus& Sender, std::uint8_t Slave,
                                                 std::uint16_t StartAddr, std::uint16_t Value)>;
    using TF10ResponseEvent = std::function<void(TKrModbus& Sender, std::uint8_t Slave,
                                                 std::uint16_t StartAddr, std::uint16_t DataCount)>;
    using TF14ResponseEvent = std::function<void(TKrModbus& Sender, std::uint8_t Slave,
                                                 std::span<const TFileSubResp> SubResps)>;
    using TF28ResponseEvent = std::function<void(TKrModbus& Sender, std::uint8_t Slave,
                                                 std::uint16_t StartAddr, std::string_view Values)>;
    using TFC3ResponseEvent =
        std::function<void(TKrModbus& Sender, std::uint8_t Slave, std::uint16_t DevStatus,
                           std::uint16_t RTDLength, std::span<const std::uint16_t> Values)>;
    using TFC4ResponseEvent =
        std::function<void(TKrModbus& Sender, std::uint8_t Slave, std::uint16_t DevStatus)>;
    using TExceptionResponseEvent =
        std::function<void(TKrModbus& Sender, std::uint8_t Slave, int AExceptionCode)>;
    using TFExResponseEvent = std::function<void(TKrModbus& Sender, std::uint8_t Slave,
                                                 std::uint8_t FuncCode, int AExceptionCode)>;
    // The port's line-error flags as they arrive (overrun 0x02, parity 0x04, framing 0x08).
    using TLineErrorEvent = std::function<void(TKrModbus& Sender, std::uint32_t EventMask)>;

    // Error kinds of the last query.
    static constexpr auto ekNone = static_cast<std::uint8_t>(TKrErrorKind::None);
    static constexpr auto ekNoResponse = static_cast<std::uint8_t>(TKrErrorKind::NoResponse);
    static constexpr auto ekBadFrame = static_cast<std::uint8_t>(TKrErrorKind::BadFrame);
    static constexpr auto ekMismatch = static_cast<std::uint8_t>(TKrErrorKind::Mismatch);
    static constexpr auto ekException = static_cast<std::uint8_t>(TKrErrorKind::Exception);

    TKrModbus();
    ~TKrModbus() override;

    bool IgnoreNullQuery() const { return FIgnoreNullQuery; }
    void SetIgnoreNullQuery(bool value) { FIgnoreNullQuery = value; }
    TTransmissionMode Mode() const { return FSettings.Mode; }
    void SetMode(TTransmissionMode value) { FSettings.Mode = value; }
    bool EndCheck() const { return FSettings.EndCheck; }
    void SetEndCheck(bool value) { FSettings.EndCheck = value; }
    TAsciiMode AsciiOutput() const { return FSettings.AsciiOutput; }
    void SetAsciiOutput(TAsciiMode value) { FSettings.AsciiOutput = value; }
    TProtocolVersion ProtocolVersion() const { return FSettings.ProtocolVersion; }
    void SetProtocolVersion(TProtocolVersion value);
    void SetParity(TParity value) override;

    // Outcome of the last query, for the handlers of its events.
    std::uint8_t ErrorKind() const { return FErrorKind; }
    int ExceptionCode() const { return FExceptionCode; }
    bool LineError() const { return FLineError; }
    bool NoResponse() const { return FNoResponse; }
    bool Broadcast() const { return FBroadcast; }
    const std::string& CurrentRequest() const { return FCurrentRequest; }
    const std::string& ValidResponse() const { return FValidResponse; }
    int RequestLength() const { return FQuery.RequestLength; }
    int ResponseLength() const { return FQuery.ResponseLength; }
    int ExceptionLength() const { return FQuery.ExceptionLength; }

    TQueryDataEvent OnQueryData;
    TNotifyEvent OnResponseError;
    TF02ResponseEvent OnF01Response;
    TF02ResponseEvent OnF02Response;
    TF03ResponseEvent OnF03Response;
    TF03ResponseEvent OnF04Response;
    TF05ResponseEvent OnF05Response;
    TF05ResponseEvent OnF06Response;
    TF10ResponseEvent OnF0FResponse;
    TF10ResponseEvent OnF10Response;
    TF14ResponseEvent OnF14Response;
    TF14ResponseEvent OnF15Response;
    TF28ResponseEvent OnF28Response;
    TF10ResponseEvent OnF29Response;
    TF03ResponseEvent OnF83Response;
    TF05ResponseEvent OnF85Response;
    TNotifyEvent OnF91Response;
    TF10ResponseEvent OnFB0Response;
    TF10ResponseEvent OnF6AResponse;
    TFC3ResponseEvent OnFC3Response;
    TFC4ResponseEvent OnFC4Response;
    TNotifyEvent OnAfterResponse;
    TExceptionResponseEvent OnExceptionResponse;
    TFExResponseEvent OnFExResponse;
    // Every line-error report of the port, whatever the protocol variant; for statistics.
    TLineErrorEvent OnLineError;

protected:
    void BuildQuery() override;
    void CheckComplete() override;
    void ProcessResponse() override;
    void UpdateSendTime() override;
    void UpdateFrameGap() override;
    void CommReceiveError(std::uint32_t EventMask) override;

private:
    bool LineTimed() const;
    void UpdateParityCheck();
    void RaiseException();
    void RaiseFunctionEvent(const TKrDecoded& d);
    void RaiseNotify(const TNotifyEvent& event);

    TKrCodecSettings FSettings;
    TKrQuery FQuery;
    std::string FCurrentRequest;
    std::string FResponse;
    std::string FValidResponse;
    std::uint8_t FErrorKind = 0;
    int FExceptionCode = -1;
    bool FLineError = false;
};
