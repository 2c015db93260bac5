#include "widgets/Dialogs.h"

#include "meter/cstMain.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace {

QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Veltrana"),
                     QStringLiteral("Marbrook"));
}

QString FolderKey(const QString& kind) {
    return QStringLiteral("SaveFolders/") + kind;
}

} // namespace

void IDialogs::ShowError(const QString& message) {
    MessageBox(QString::fromLatin1(cstMain::CaptionError), message, Critical, Ok);
}

bool IDialogs::Confirm(const QString& text) {
    return MessageBox(QString::fromLatin1(cstMain::CaptionConfirm), text, NoIcon, YesNo) ==
           ResultYes;
}

QString IDialogs::SaveDocument(QWidget* parent, const QString& kind, const QString& serialNumber,
                               const QString& filter, const QString& suffix) {
    QString path =
        SaveDocumentName(parent, filter, suffix,
                         SuggestedSavePath(kind, serialNumber, suffix, QDate::currentDate()));
    if (!path.isEmpty())
        RememberSaveFolder(kind, path);
    return path;
}

QString SuggestedSavePath(const QString& kind, const QString& serialNumber, const QString& suffix,
                          const QDate& day) {
    QString folder = Store().value(FolderKey(kind)).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // A serial number is the meter's text: only what a file name can hold on every system.
    QString serial = serialNumber.trimmed();
    serial.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    QStringList parts{QStringLiteral("KT580")};
    if (!serial.isEmpty())
        parts << serial;
    parts << kind << day.toString(QStringLiteral("yyyy-MM-dd"));
    return QDir(folder).filePath(parts.join(QLatin1Char('-')) + QLatin1Char('.') + suffix);
}

void RememberSaveFolder(const QString& kind, const QString& path) {
    QSettings store = Store();
    store.setValue(FolderKey(kind), QFileInfo(path).absolutePath());
}
