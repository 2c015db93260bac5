#include "comms/LogFile.h"

#include <QSaveFile>

TLogFormat LogFormatFor(const QString& path) {
    return path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ? TLogFormat::Csv
                                                                      : TLogFormat::Text;
}

namespace {

bool WriteLine(QIODevice& out, const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    return out.write(bytes) == bytes.size();
}

} // namespace

bool WriteLog(QIODevice& out, const TFrameLog& log, bool errorsOnly, TLogFormat format,
              const QTimeZone& zone) {
    if (format == TLogFormat::Csv && !WriteLine(out, LogCsvHeader()))
        return false;
    for (std::size_t i = 0; i < log.Size(); ++i) {
        const TLogEntry& e = log.At(i);
        if (errorsOnly && !e.IsError())
            continue;
        if (!WriteLine(out, format == TLogFormat::Csv ? LogLineCsv(e, zone) : LogLineText(e, zone)))
            return false;
    }
    return true;
}

bool SaveLogFile(const QString& path, const TFrameLog& log, bool errorsOnly, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    if (!WriteLog(file, log, errorsOnly, LogFormatFor(path)) || !file.flush()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
