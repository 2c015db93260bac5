#include "CsvRunner.h"

#include "meter/QueryAddress.h"
#include "meter/QueryPlan.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

struct TCsvRunner::TMeterRun {
    TMeterRun(const TKrModbus& master, std::uint8_t address)
        : Address(address), Model(TLinkLine{master.PortNum(), master.Baudrate(), master.Parity(),
                                            master.StopBits(), address},
                                  Events, false) {
        Events.Follow(&Recorder);
    }
    std::uint8_t Address;
    TMeterEventStream Events;
    TMeterModel Model;
    TRecorder Recorder;
    std::size_t PreambleAt = 0;
    int PreambleTries = 0;
    bool Recording = false;
    bool LeftOut = false;
    int Step = 0;
    long long CyclesSent = 0;
    unsigned long long Sent = 0, Lost = 0;
};

QString MeterRecordPath(const QString& chosen, const QString& serial, int address) {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    QString name = serial.trimmed();
    name.replace(unsafe, QStringLiteral("_"));
    if (name.isEmpty()) {
        name = QStringLiteral("address%1").arg(address);
    }
    const QFileInfo info(chosen);
    const QString suffix = info.suffix();
    const QString file = info.fileName();
    const QString stem = suffix.isEmpty() ? file : file.left(file.size() - suffix.size() - 1);
    const QString named =
        stem + QLatin1Char('-') + name + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    const qsizetype slash = chosen.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? named : chosen.left(slash + 1) + named;
}

TCsvRunner::TCsvRunner(TKrModbus& master, const TQueryOptions& options)
    : FMaster(master), FOptions(options),
      FCycles(options.Count), FPreamble{qry::Identity, qry::SerialNumber, qry::Settings1100,
                                        qry::AOType} {
    std::vector<std::uint8_t> addresses = options.Addresses;
    if (addresses.empty()) {
        addresses.push_back(options.Address.value_or(1));
    }
    for (const std::uint8_t address : addresses) {
        FMeters.push_back(std::make_unique<TMeterRun>(master, address));
    }
    FMaster.OnQueryData = [this](TKrModbus&, std::string& fmt) { fmt = PrepareQuery(); };
    FMaster.OnSendData = [this](TKrPolling&, const std::string&) {
        ++FSent;
        if (FAsked != nullptr) {
            ++FAsked->Sent;
        }
    };
    FMaster.OnF03Response = [this](TKrModbus&, std::uint8_t, std::uint16_t start,
                                   std::span<const std::uint16_t> values) {
        RegistersRead(start, values);
    };
    const auto bits = [this](TKrModbus&, std::uint8_t, std::uint16_t, std::span<const bool> v) {
        if (const auto block = FMeteringRead.Block();
            FAsked != nullptr && block && FMeteringRead.Answer(*block))
            FAsked->Model.BitsRead(*block, v);
    };
    FMaster.OnF01Response = bits;
    FMaster.OnF02Response = bits;
    FMaster.OnAfterResponse = [this](TKrModbus& sender) { AfterResponse(sender); };
    FMaster.OnQueryFinish = [this](TKrPolling&) { Finish(); };
}

TCsvRunner::~TCsvRunner() = default;

void TCsvRunner::StartRecording(TMeterRun& meter) {
    TRecordOptions record;
    record.Path = QString::fromStdString(FOptions.CsvPath);
    if (FMeters.size() > 1) {
        record.Path = MeterRecordPath(record.Path, meter.Model.SerialNumber(), meter.Address);
    }
    if (FOptions.CsvMaxBytes > 0) {
        record.Split.Kind = TSplitRule::Size;
        record.Split.MaxBytes = FOptions.CsvMaxBytes;
    }
    TMeterModel& model = meter.Model;
    meter.Recorder.Start(record, [&model] {
        return TRecordMeta{model.SerialNumber(), model.SoftwareVersion(),
                           QStringLiteral(KT_VERSION_TEXT), QStringLiteral("kt580-query")};
    });
    meter.Recorder.OnFailed = [this, &meter] {
        FError = meter.Recorder.Error();
        FMaster.Stop();
    };
    meter.Recording = true;
}

std::string TCsvRunner::PrepareQuery() {
    TMeterRun* previous = FAsked;
    FAsked = CurrentMeter();
    if (FAsked != previous || !FInPreamble || FPreambleAnswered) {
        if (FAsked != nullptr) {
            FAsked->PreambleTries = 0;
        }
    }
    FInPreamble = FAsked != nullptr && FAsked->PreambleAt < FPreamble.size();
    FPreambleAnswered = false;
    FCurrent = FAsked == nullptr ? std::string() : NextQuery();
    FMeteringRead.Begin(FCurrent);
    return FCurrent.empty() ? NullQuery() : WithAddress(FCurrent, FAsked->Address);
}

TCsvRunner::TMeterRun* TCsvRunner::CurrentMeter() {
    for (std::size_t tried = 0; tried < FMeters.size(); ++tried) {
        TMeterRun& meter = *FMeters[FAt];
        if (meter.LeftOut) {
            FAt = (FAt + 1) % FMeters.size();
            continue;
        }
        if (meter.PreambleAt < FPreamble.size() || meter.Model.RatiosKnown()) {
            return &meter;
        }
        LeaveOut(meter);
    }
    return nullptr;
}

void TCsvRunner::LeaveOut(TMeterRun& meter) {
    // Asked for and never answered: no row is recorded with values scaled by a guess.
    meter.LeftOut = true;
    const QString why =
        QStringLiteral("did not answer the read of its transformer ratios "
                       "(block 0x1100), so no value can be scaled; nothing recorded");
    const bool anyLeft =
        std::any_of(FMeters.begin(), FMeters.end(), [](const auto& m) { return !m->LeftOut; });
    if (FMeters.size() == 1) {
        FError = QStringLiteral("The meter ") + why;
    } else {
        FError += (FError.isEmpty() ? QString() : QStringLiteral("\n")) +
                  QStringLiteral("The meter at address %1 ").arg(meter.Address) + why;
    }
    if (!anyLeft) {
        FMaster.Stop();
    }
}

void TCsvRunner::RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values) {
    if (FAsked == nullptr)
        return;
    if (FInPreamble)
        FPreambleAnswered = true;
    // Only the answer of the metering block asked is recorded, once.
    if (const auto block = FMeteringRead.Block(); block && !FMeteringRead.Answer(*block))
        return;
    FAsked->Model.RegistersRead(start, values);
}

bool TCsvRunner::AllCyclesSent() const {
    return std::all_of(FMeters.begin(), FMeters.end(),
                       [this](const auto& m) { return m->LeftOut || m->CyclesSent >= FCycles; });
}

void TCsvRunner::AfterResponse(TKrModbus& sender) {
    if (FAsked == nullptr)
        return;
    if (FInPreamble && !FPreambleAnswered && FAsked->PreambleTries < 3) {
        // The meter's name and ratios matter for every row: a lost read is asked again.
        ++FAsked->PreambleTries;
        --FAsked->PreambleAt;
    }
    if (const auto lost = FMeteringRead.Unanswered()) {
        ++FLost;
        ++FAsked->Lost;
        FAsked->Model.MeteringLost(*lost);
    }
    if (FMeteringRead.Block() == TMeteringBlock::Inputs) {
        // A whole rotation of this meter: the next one's turn.
        FAt = (FAt + 1) % FMeters.size();
        if (FCycles > 0 && AllCyclesSent())
            sender.Stop();
    }
}

std::string TCsvRunner::NextQuery() {
    TMeterRun& meter = *FAsked;
    if (meter.PreambleAt < FPreamble.size())
        return FPreamble[meter.PreambleAt++];
    if (!meter.Recording)
        StartRecording(meter);
    // The rotation of the metering page, the energy read as long as the meter's layout has it.
    const int step = meter.Step;
    meter.Step = (meter.Step + 1) % 4;
    switch (step) {
    case 0:
        ++meter.CyclesSent;
        return qry::Measurement;
    case 1:
        return EnergyReadQuery(meter.Model.SoftwareVersion());
    case 2:
        return qry::Relays;
    default:
        return qry::Inputs;
    }
}

bool TCsvRunner::Begin() {
    // One meter records to the path given, which is tried now; each meter of a list to a file
    // named by its serial number, begun once that has been read.
    if (FMeters.size() == 1) {
        StartRecording(*FMeters.front());
        if (!FMeters.front()->Recorder.Recording()) {
            FError = FMeters.front()->Recorder.Error();
            return false;
        }
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
    for (const auto& meter : FMeters) {
        if (meter->Recording)
            meter->Recorder.Stop();
    }
    FDone = true;
    if (OnDone)
        OnDone();
}

std::string TCsvRunner::Totals() const {
    std::string text;
    std::int64_t rows = 0;
    QStringList files;
    for (const auto& meter : FMeters) {
        rows += meter->Recorder.Rows();
        files += meter->Recorder.Files();
        if (FMeters.size() > 1) {
            text += "address=" + std::to_string(meter->Address) +
                    " serial=" + meter->Model.SerialNumber().toStdString() +
                    " sent=" + std::to_string(meter->Sent) +
                    " rows=" + std::to_string(meter->Recorder.Rows()) +
                    " lost=" + std::to_string(meter->Lost) +
                    " files=" + meter->Recorder.Files().join(QLatin1Char(' ')).toStdString() + '\n';
        }
    }
    return text + "sent=" + std::to_string(FSent) + " rows=" + std::to_string(rows) +
           " lost=" + std::to_string(FLost) +
           " files=" + files.join(QLatin1Char(' ')).toStdString();
}

int TCsvRunner::ExitCode() const {
    const bool allRecorded = std::all_of(FMeters.begin(), FMeters.end(),
                                         [](const auto& m) { return m->Recorder.Rows() > 0; });
    return FError.isEmpty() && allRecorded ? 0 : 1;
}
