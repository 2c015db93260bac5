// When a recording begins a new file, and what that file is called: the name chosen, then the
// same name with -2, -3 ... before its suffix. A name that exists is never reused.
#pragma once

#include <QDate>
#include <QString>

#include <cstdint>

struct TSplitRule {
    enum TKind { Daily, Size };
    TKind Kind = Daily;
    std::int64_t MaxBytes = 0; // with Size
};

// The file being written: the local date of its first row, its size so far and the serial
// number of the meter it belongs to.
struct TRecordFileState {
    bool Open = false;
    QDate FirstRowDate;
    std::int64_t Size = 0;
    int Rows = 0;
    QString Serial;
};

// The row to be written: its local date, its size and the serial number of the meter now
// connected (empty while it is not read yet).
struct TRecordRow {
    QDate Date;
    std::int64_t Bytes = 0;
    QString Serial;
};

// True when the next row belongs in a new file: none is open, the row comes from another meter
// than the file names (or one not identified yet), the local day changed (Daily), or the row
// would take the file past its limit (Size). A file always takes its first row, however large,
// so a limit below one row still makes progress.
bool NeedsNewFile(const TSplitRule& rule, const TRecordFileState& file, const TRecordRow& row);

// File number n (from 1) of a recording chosen as `chosen`: "run.csv", "run-2.csv", ...;
// a name without a suffix gets "-n" at its end.
QString RecordFileName(const QString& chosen, int n);
