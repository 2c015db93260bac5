#include "CsvRunner.h"

#include "meter/QueryAddress.h"
#include "meter/QueryPlan.h"

TCsvRunner::TCsvRunner(TKrModbus& master, const TQueryOptions& options)
    : FMaster(master), FAddress(options.Address.value_or(1)), FCycles(options.Count),
      FMeter(TLinkLine{master.PortNum(), master.Baudrate(), master.Parity(), master.StopBits(),
                       FAddress},
             FEvents, false),
      FPreamble{qry::Identity, qry::SerialNumber, qry::Settings1100, qry::AOType} {
    // Nothing is scaled before the meter has answered its ratios.
    FEvents.Follow(&FRecorder);
    StartRecording(options);
    FMaster.OnQueryData = [this](TKrModbus&, std::string& fmt) { fmt = PrepareQuery(); };
    FMaster.OnSendData = [this](TKrPolling&, const std::string&) { ++FSent; };
    FMaster.OnF03Response = [this](TKrModbus&, std::uint8_t, std::uint16_t start,
                                   std::span<const std::uint16_t> values) {
        RegistersRead(start, values);
    };
    const auto bits = [this](TKrModbus&, std::uint8_t, std::uint16_t, std::span<const bool> v) {
        if (const auto block = FMeteringRead.Block(); block && FMeteringRead.Answer(*block))
            FMeter.BitsRead(*block, v);
    };
    FMaster.OnF01Response = bits;
    FMaster.OnF02Response = bits;
    FMaster.OnAfterResponse = [this](TKrModbus& sender) { AfterResponse(sender); };
    FMaster.OnQueryFinish = [this](TKrPolling&) { Finish(); };
}

void TCsvRunner::StartRecording(const TQueryOptions& options) {
    TRecordOptions record;
    record.Path = QString::fromStdString(options.CsvPath);
    if (options.CsvMaxBytes > 0) {
        record.Split.Kind = TSplitRule::Size;
        record.Split.MaxBytes = options.CsvMaxBytes;
    }
    FRecorder.Start(record, [this] {
        return TRecordMeta{FMeter.SerialNumber(), FMeter.SoftwareVersion(),
                           QStringLiteral(KT_VERSION_TEXT), QStringLiteral("kt580-query")};
    });
    FRecorder.OnFailed = [this] {
        FError = FRecorder.Error();
        FMaster.Stop();
    };
}

std::string TCsvRunner::PrepareQuery() {
    if (!FInPreamble || FPreambleAnswered)
        FPreambleTries = 0;
    FInPreamble = FPreambleAt < FPreamble.size();
    FPreambleAnswered = false;
    FCurrent = NextQuery();
    FMeteringRead.Begin(FCurrent);
    return FCurrent.empty() ? NullQuery() : WithAddress(FCurrent, FAddress);
}

void TCsvRunner::RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values) {
    if (FInPreamble)
        FPreambleAnswered = true;
    // Only the answer of the metering block asked is recorded, once.
    if (const auto block = FMeteringRead.Block(); block && !FMeteringRead.Answer(*block))
        return;
    FMeter.RegistersRead(start, values);
}

void TCsvRunner::AfterResponse(TKrModbus& sender) {
    if (FInPreamble && !FPreambleAnswered && FPreambleTries < 3) {
        // The meter's name and ratios matter for every row: a lost read is asked again.
        ++FPreambleTries;
        --FPreambleAt;
    }
    if (const auto lost = FMeteringRead.Unanswered()) {
        ++FLost;
        FMeter.MeteringLost(*lost);
    }
    if (FMeteringRead.Block() == TMeteringBlock::Inputs && FCycles > 0 && FCyclesSent >= FCycles)
        sender.Stop();
}

std::string TCsvRunner::NextQuery() {
    if (FPreambleAt < FPreamble.size())
        return FPreamble[FPreambleAt++];
    if (!FMeter.RatiosKnown()) {
        // Asked for and never answered: no row is recorded with values scaled by a guess.
        if (FError.isEmpty())
            FError = QStringLiteral("The meter did not answer the read of its transformer ratios "
                                    "(block 0x1100), so no value can be scaled; nothing recorded");
        FMaster.Stop();
        return {};
    }
    // The rotation of the metering page, the energy read as long as the meter's layout has it.
    const int step = FStep;
    FStep = (FStep + 1) % 4;
    switch (step) {
    case 0:
        ++FCyclesSent;
        return qry::Measurement;
    case 1:
        return EnergyReadQuery(FMeter.SoftwareVersion());
    case 2:
        return qry::Relays;
    default:
        return qry::Inputs;
    }
}

bool TCsvRunner::Begin() {
    if (!FRecorder.Recording()) {
        FError = FRecorder.Error();
        return false;
    }
    return FMaster.Start(true);
}

void TCsvRunner::RequestStop() {
    FMaster.Stop();
}

void TCsvRunner::Abort() {
    if (FDone)
        return;
    FMaster.Cancel();
    Finish();
}

void TCsvRunner::Finish() {
    if (FDone)
        return;
    FRecorder.Stop();
    FDone = true;
    if (OnDone)
        OnDone();
}

std::string TCsvRunner::Totals() const {
    return "sent=" + std::to_string(FSent) + " rows=" + std::to_string(FRecorder.Rows()) +
           " lost=" + std::to_string(FLost) +
           " files=" + FRecorder.Files().join(QLatin1Char(' ')).toStdString();
}

int TCsvRunner::ExitCode() const {
    return FError.isEmpty() && FRecorder.Rows() > 0 ? 0 : 1;
}
