// Saving the frame log: as text (one line per frame) or CSV, chosen by the file's suffix,
// written completely or not at all.
#pragma once

#include "comms/FrameLog.h"

#include <QString>

class QIODevice;

enum class TLogFormat { Text, Csv };

// CSV for a name ending in ".csv" (any case), text otherwise.
TLogFormat LogFormatFor(const QString& path);

// Writes the log's entries (only failed queries' with errorsOnly) to `out`; false as soon as a
// write fails.
bool WriteLog(QIODevice& out, const TFrameLog& log, bool errorsOnly, TLogFormat format,
              const QTimeZone& zone = QTimeZone::systemTimeZone());

// Writes the file through a temporary and renames it into place only when every write and the
// flush succeeded: the old file stays untouched otherwise. False with the reason in `error`.
bool SaveLogFile(const QString& path, const TFrameLog& log, bool errorsOnly, QString& error);
