#include "trend/Recorder.h"

#include <QDateTime>

int LocalOffsetSeconds(std::int64_t msecsSinceEpoch) {
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).offsetFromUtc();
}

TRecorder::TRecorder() : Now([] { return QDateTime::currentMSecsSinceEpoch(); }) {}

TRecorder::~TRecorder() {
    Stop();
}

bool TRecorder::Start(const TRecordOptions& options, std::function<TRecordMeta()> meta) {
    Stop();
    FError.clear();
    if (options.Path.isEmpty()) {
        FError = QStringLiteral("No file chosen");
        return false;
    }
    FOptions = options;
    FMeta = std::move(meta);
    FCycles = TCycleAssembler();
    FState = TRecordFileState();
    FNextNumber = 1;
    FFiles.clear();
    FRows = 0;
    FRecording = true;
    return true;
}

void TRecorder::Stop() {
    if (!FRecording)
        return;
    Write(FCycles.Finish());
    FRecording = false;
    CloseFile();
}

void TRecorder::MeteringRead(const TMeterModel& /*meter*/, const TMeterReading& reading) {
    if (!FRecording)
        return;
    FLastScaling = reading.Scaling;
    const std::int64_t now = Now();
    Write(FCycles.Answer(reading, now, LocalOffsetSeconds(now)));
}

void TRecorder::MeteringLost(const TMeterModel& /*meter*/, TMeteringBlock block) {
    if (!FRecording)
        return;
    const std::int64_t now = Now();
    Write(FCycles.Lost(block, FLastScaling, now, LocalOffsetSeconds(now)));
}

void TRecorder::CycleEnded() {
    // The cycle in progress is written; the recording goes on with the next connection.
    if (FRecording)
        Write(FCycles.Finish());
}

void TRecorder::Write(const std::optional<TCsvCycle>& cycle) {
    if (!cycle || !FRecording)
        return;
    const QString row = CsvRow(*cycle);
    const QDate date =
        QDateTime::fromMSecsSinceEpoch(cycle->Time + cycle->OffsetSeconds * 1000LL, Qt::UTC).date();
    const TRecordMeta meta = FMeta ? FMeta() : TRecordMeta{};
    const TRecordRow next{date, static_cast<std::int64_t>(row.toUtf8().size() + 1),
                          meta.SerialNumber};
    if (NeedsNewFile(FOptions.Split, FState, next)) {
        CloseFile();
        if (!OpenNext(*cycle, meta))
            return;
        FState.FirstRowDate = date;
    }
    if (!WriteLine(row, true))
        return;
    ++FState.Rows;
    ++FRows;
}

bool TRecorder::OpenNext(const TCsvCycle& first, const TRecordMeta& meta) {
    // A name that exists is skipped, never truncated or appended to.
    for (int guard = 0; guard < 100000; ++guard) {
        const QString name = RecordFileName(FOptions.Path, FNextNumber++);
        auto file = std::make_unique<TRowFile>(FileOps);
        const TRowFile::TOpened opened = file->Open(name);
        if (opened == TRowFile::TOpened::Yes) {
            FFile = std::move(file);
            FState = TRecordFileState{true, {}, 0, 0, meta.SerialNumber};
            FFiles << name;
            return WriteLine(CsvCommentLine(meta.SerialNumber, meta.MeterVersion, meta.ProgramName,
                                            meta.ProgramVersion),
                             false) &&
                   WriteLine(CsvHeader(first.Scaling()), false);
        }
        if (opened == TRowFile::TOpened::Failed) {
            Fail(QStringLiteral("Cannot create the recording file '%1': %2")
                     .arg(name, file->Error()));
            return false;
        }
    }
    Fail(QStringLiteral("No free file name for the recording"));
    return false;
}

bool TRecorder::WriteLine(const QString& line, bool isRow) {
    // Each line reaches the system whole at once, so a crash or a pulled plug loses no
    // finished row; one cut short by a full disk is taken back.
    if (!FFile->AppendLine(line.toUtf8(), isRow)) {
        Fail(QStringLiteral("Cannot write the recording file '%1': %2")
                 .arg(FFile->Path(), FFile->Error()));
        return false;
    }
    FState.Size = FFile->Size();
    return true;
}

void TRecorder::Fail(const QString& message) {
    FError = message;
    FRecording = false;
    CloseFile();
    if (OnFailed)
        OnFailed();
}

void TRecorder::CloseFile() {
    // A file that got no row is removed, and no longer listed.
    if (FFile && !FFile->Close())
        FFiles.removeAll(FFile->Path());
    FFile.reset();
    FState.Open = false;
}
