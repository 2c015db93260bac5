// Records the metering reads to CSV files while it runs: one row per metering cycle, each
// appended whole or not at all, so however the run ends (stop, disconnect, a vanished port,
// the program closing, a full disk) every file holds complete rows only. Files are never
// overwritten, one that got no row is removed, and each file holds the rows of one meter.
#pragma once

#include "meter/MeterEvents.h"
#include "trend/CsvRecord.h"
#include "trend/RecordFiles.h"
#include "trend/RowFile.h"
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

struct TRecordOptions {
    QString Path;
    TSplitRule Split;
};

// What the first comment line of each file names.
struct TRecordMeta {
    QString SerialNumber;
    QString MeterVersion;
    QString ProgramVersion;
    QString ProgramName = QStringLiteral("kt580-utility");
};

class TRecorder : public IMeterEvents {
public:
    TRecorder();
    ~TRecorder() override;
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // Begins a recording; the first file is created with the first row. False (and the
    // reason in Error()) when the path is empty.
    bool Start(const TRecordOptions& options, std::function<TRecordMeta()> meta);
    // Writes the cycle begun, if any, and closes the file.
    void Stop();
    bool Recording() const { return FRecording; }

    // Files written so far, in order, and the rows on disk in all of them.
    const QStringList& Files() const { return FFiles; }
    std::int64_t Rows() const { return FRows; }
    // Why the recording stopped by itself (a file that cannot be created or written).
    const QString& Error() const { return FError; }

    // The time source, ms since the epoch; tests step it.
    std::function<std::int64_t()> Now;
    // Called once when the recording stops by itself, after Error() is set.
    std::function<void()> OnFailed;
    // How files are created and written; tests put a disk of their own here.
    TFileOps FileOps = SystemFileOps();

    // IMeterEvents: the metering reads, and the end of the cycle.
    void MeteringRead(const TMeterModel& meter, const TMeterReading& reading) override;
    void MeteringLost(const TMeterModel& meter, TMeteringBlock block) override;
    void CycleEnded() override;

private:
    void Write(const std::optional<TCsvCycle>& cycle);
    bool OpenNext(const TCsvCycle& first, const TRecordMeta& meta);
    bool WriteLine(const QString& line, bool isRow);
    void Fail(const QString& message);
    void CloseFile();

    bool FRecording = false;
    TRecordOptions FOptions;
    std::function<TRecordMeta()> FMeta;
    TCycleAssembler FCycles;
    TScaling FLastScaling;
    std::unique_ptr<TRowFile> FFile;
    TRecordFileState FState;
    int FNextNumber = 1;
    QStringList FFiles;
    std::int64_t FRows = 0;
    QString FError;
};

// The local offset from UTC at a moment, in seconds.
int LocalOffsetSeconds(std::int64_t msecsSinceEpoch);
