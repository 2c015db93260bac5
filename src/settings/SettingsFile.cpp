#include "settings/SettingsFile.h"

#include "settings/BoundedFileRead.h"
#include "settings/FileDescriptor.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString FullPath(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

// The file is 8-bit text: one character per byte, so any byte a file holds comes back as it
// was.
QByteArray FileBytes(const QString& text) {
    return text.toLatin1();
}

bool StorableInFile(const QString& text) {
    return std::ranges::all_of(text, [](QChar c) { return c.unicode() <= 0xFF; });
}

QString OpenError(TFileReadStatus status, const QString& path) {
    return status == TFileReadStatus::TooLarge
               ? QStringLiteral("Cannot open file %1: it is too large").arg(FullPath(path))
               : QStringLiteral("Cannot open file %1").arg(FullPath(path));
}

bool WriteAt(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Written beside the target and renamed over it, so a failure at any point leaves an
// existing file exactly as it was.
enum class TReplace { Done, Failed, NoTemporary };
TReplace WriteReplacing(const QString& path, const std::string& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return TReplace::NoTemporary;
    // The write only fills a buffer: a full disk shows at the flush, which commit() would not
    // report, and the old file would be replaced by an empty one.
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.flush()) {
        file.cancelWriting();
        return TReplace::Failed;
    }
    if (file.commit())
        return TReplace::Done;
    // Written whole, but the folder took no name for it (the temporary file could not be
    // renamed over the target: Qt reports no finer reason).
    return TReplace::NoTemporary;
}

// For a writable file in a folder that takes no new file: the old content is rewritten in
// place. The file first grows to its new length, so a full disk fails before any byte of it
// changes; a write that fails later puts the old bytes back (their space is already there).
bool RewriteInPlace(const QString& path, const std::string& old, const std::string& bytes) {
    const QByteArray name = QFile::encodeName(path);
    TFd fd(::open(name.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size != static_cast<off_t>(old.size()))
        return false;
    if (bytes.size() > old.size()) {
        const int reserved = ::posix_fallocate(fd.Get(), 0, static_cast<off_t>(bytes.size()));
        if (reserved != 0) {
            [[maybe_unused]] const int ignored = ::ftruncate(fd.Get(), st.st_size);
            return false;
        }
    }
    const bool written = WriteAt(fd.Get(), bytes) &&
                         ::ftruncate(fd.Get(), static_cast<off_t>(bytes.size())) == 0 &&
                         ::fsync(fd.Get()) == 0;
    if (!written) {
        if (WriteAt(fd.Get(), old)) {
            [[maybe_unused]] const int ignored = ::ftruncate(fd.Get(), st.st_size);
            [[maybe_unused]] const int synced = ::fsync(fd.Get());
        }
        return false;
    }
    return fd.Close();
}

} // namespace

bool StoreSettings(TSettingsFileModel& model, const TMeterSettings& settings, QString& error) {
    for (const TSettingsField& field : MeterSettingsFields()) {
        if (field.Text && !StorableInFile(settings.*field.Text)) {
            error = QStringLiteral("%1 holds characters a settings file cannot store")
                        .arg(QLatin1StringView(field.Label));
            return false;
        }
    }
    for (const TSettingsField& field : MeterSettingsFields()) {
        const QByteArray value = field.Text ? FileBytes(settings.*field.Text)
                                            : QByteArray::number(settings.*field.Choice);
        model.SetValue(SettingsSection, field.Name,
                       std::string_view(value.constData(), static_cast<size_t>(value.size())));
    }
    return true;
}

bool RestoreSettings(const TSettingsFileModel& model, TMeterSettings& settings, QString& error) {
    TMeterSettings restored;
    for (const TSettingsField& field : MeterSettingsFields()) {
        const auto value = model.Value(SettingsSection, field.Name);
        if (!field.Text) {
            restored.*field.Choice = value ? ChoiceValue(*value) : 0;
            continue;
        }
        // An edit box would cut a longer text without a word.
        if (value && value->size() > static_cast<size_t>(SettingsTextMaxLength)) {
            error = QStringLiteral("the value of %1 is too long: more than %2 characters")
                        .arg(QLatin1StringView(field.Name))
                        .arg(SettingsTextMaxLength);
            return false;
        }
        restored.*field.Text =
            value ? QString::fromLatin1(value->data(), static_cast<qsizetype>(value->size()))
                  : QString();
    }
    settings = restored;
    return true;
}
int ChoiceValue(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.starts_with('$')) {
        base = 16;
        text.remove_prefix(1);
    }
    // Unsigned, so a second sign ("--5", "0x-5") is refused as not an integer.
    uint64_t magnitude = 0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, magnitude, base);
    if (text.empty() || failure != std::errc() || stop != end)
        return 0;
    if (magnitude > uint64_t{std::numeric_limits<int>::max()} + (negative ? 1 : 0))
        return 0;
    return negative ? static_cast<int>(-static_cast<int64_t>(magnitude))
                    : static_cast<int>(magnitude);
}

bool SaveSettingsFile(const QString& path, const TMeterSettings& settings, QString& error) {
    const TFileReadResult existing = ReadRegularFile(path);
    if (existing.Status == TFileReadStatus::Refused ||
        existing.Status == TFileReadStatus::TooLarge) {
        error = OpenError(existing.Status, path);
        return false;
    }
    TSettingsFileModel model = TSettingsFileModel::Parse(existing.Bytes);
    if (!StoreSettings(model, settings, error))
        return false;
    const std::string bytes = model.Serialize();

    const TReplace replaced = WriteReplacing(path, bytes);
    if (replaced == TReplace::Done)
        return true;
    // The folder takes no temporary file (it is not writable, or the name leaves no room for
    // the temporary one's): an existing file the user may write is rewritten where it is.
    if (replaced == TReplace::NoTemporary && existing.Status == TFileReadStatus::Read &&
        RewriteInPlace(path, existing.Bytes, bytes))
        return true;
    error = QStringLiteral("Cannot create file %1").arg(FullPath(path));
    return false;
}

bool LoadSettingsFile(const QString& path, TMeterSettings& settings, QString& error) {
    const TFileReadResult file = ReadRegularFile(path);
    if (file.Status != TFileReadStatus::Read) {
        error = OpenError(file.Status, path);
        return false;
    }
    QString refused;
    if (!RestoreSettings(TSettingsFileModel::Parse(file.Bytes), settings, refused)) {
        error = QStringLiteral("Cannot load file %1: %2").arg(FullPath(path), refused);
        return false;
    }
    return true;
}
