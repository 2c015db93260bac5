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

// The file being written: the local date of its first row and its size so far.
struct TRecordFileState {
    bool Open = false;
    QDate FirstRowDate;
    std::int64_t Size = 0;
    int Rows = 0;
};

// True when the next row belongs in a new file: none is open, the local day changed (Daily),
// or the row would take the file past its limit (Size). A file always takes its first row,
// however large, so a limit below one row still makes progress.
bool NeedsNewFile(const TSplitRule& rule, const TRecordFileState& file, const QDate& rowDate,
                  std::int64_t rowBytes);

// File number n (from 1) of a recording chosen as `chosen`: "run.csv", "run-2.csv", ...;
// a name without a suffix gets "-n" at its end.
QString RecordFileName(const QString& chosen, int n);
