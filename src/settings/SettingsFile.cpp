#include "settings/SettingsFile.h"

#include "settings/BoundedFileRead.h"

#include <QFileInfo>
#include <QSaveFile>
#include <charconv>
#include <limits>

namespace {

QString FullPath(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

void StoreSettings(TSettingsFileModel& model, const TMeterSettings& settings) {
    for (const TSettingsField& field : MeterSettingsFields()) {
        const QByteArray value = field.Text ? (settings.*field.Text).toUtf8()
                                            : QByteArray::number(settings.*field.Choice);
        model.SetValue(SettingsSection, field.Name,
                       std::string_view(value.constData(), static_cast<size_t>(value.size())));
    }
}

TMeterSettings RestoreSettings(const TSettingsFileModel& model) {
    TMeterSettings settings;
    for (const TSettingsField& field : MeterSettingsFields()) {
        const auto value = model.Value(SettingsSection, field.Name);
        if (field.Text)
            settings.*field.Text =
                value ? QString::fromUtf8(value->data(), static_cast<qsizetype>(value->size()))
                      : QString();
        else
            settings.*field.Choice = value ? ChoiceValue(*value) : 0;
    }
    return settings;
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
    if (existing.Status == TFileReadStatus::Refused) {
        error = QStringLiteral("Cannot open file %1").arg(FullPath(path));
        return false;
    }
    TSettingsFileModel model = TSettingsFileModel::Parse(existing.Bytes);
    StoreSettings(model, settings);
    const std::string bytes = model.Serialize();

    // Written beside the target and renamed over it, so a failure at any point leaves
    // an existing file exactly as it was.
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                             static_cast<qint64>(bytes.size()) &&
                         file.commit();
    if (!written) {
        file.cancelWriting();
        error = QStringLiteral("Cannot create file %1").arg(FullPath(path));
        return false;
    }
    return true;
}

bool LoadSettingsFile(const QString& path, TMeterSettings& settings, QString& error) {
    const TFileReadResult file = ReadRegularFile(path);
    if (file.Status != TFileReadStatus::Read) {
        error = QStringLiteral("Cannot open file %1").arg(FullPath(path));
        return false;
    }
    settings = RestoreSettings(TSettingsFileModel::Parse(file.Bytes));
    return true;
}
