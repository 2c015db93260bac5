// Reads a whole file the operator chose, refusing anything that is not a plain file of
// bounded size: a FIFO or a device would block or never end.
#pragma once

#include <QString>
#include <string>

enum class TFileReadStatus { Read, Missing, Refused, TooLarge };

struct TFileReadResult {
    TFileReadStatus Status;
    std::string Bytes;
};

inline constexpr qint64 SettingsFileSizeLimit = qint64{1024} * 1024;

TFileReadResult ReadRegularFile(const QString& path, qint64 limit = SettingsFileSizeLimit);
