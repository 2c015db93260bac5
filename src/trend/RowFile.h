// A recording file written a line at a time, each line whole or not at all: a write cut short
// (a full disk, a file size limit) is taken back to the end of the last whole line, nothing is
// buffered to be written later, and a file that never got a row is removed when it is closed.
// The system calls go through a seam so the rule can be tested against any disk.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

struct TFileOps {
    // A new file (never an existing one): a descriptor, or -1 with the reason.
    std::function<int(const QString& path, QString& error)> Create;
    // Writes up to `size` bytes: the count written, or -1 with the reason.
    std::function<std::int64_t(int fd, const char* data, std::int64_t size, QString& error)> Write;
    std::function<void(int fd, std::int64_t size)> Truncate;
    std::function<void(int fd)> Close;
    std::function<void(const QString& path)> Remove;
};

// The operating system's calls (O_EXCL creation, write retried on EINTR and on short counts).
TFileOps SystemFileOps();

class TRowFile {
public:
    explicit TRowFile(TFileOps ops = SystemFileOps());
    ~TRowFile();
    TRowFile(const TRowFile&) = delete;
    TRowFile& operator=(const TRowFile&) = delete;

    enum class TOpened : std::uint8_t { Yes, Exists, Failed };
    // Creates the file; Exists when the name is taken (it is never touched).
    TOpened Open(const QString& path);
    // Appends the line and a line break whole; false (and the reason in Error()) when it
    // could not, the file then ending with its last whole line.
    bool AppendLine(const QByteArray& line, bool isRow);
    // Closes the file; one without a row is removed. True when it was kept.
    bool Close();

    bool IsOpen() const { return FFd >= 0; }
    const QString& Path() const { return FPath; }
    std::int64_t Size() const { return FSize; }
    int Rows() const { return FRows; }
    const QString& Error() const { return FError; }

private:
    TFileOps FOps;
    int FFd = -1;
    QString FPath;
    std::int64_t FSize = 0;
    int FRows = 0;
    QString FError;
};
