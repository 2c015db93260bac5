#include "commissioning/DataFolder.h"

#include <QDir>
#include <QStandardPaths>

QString UserDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Veltrana/Marbrook");
}

QString EnsureUserDataFolder() {
    const QString folder = UserDataFolder();
    return QDir().mkpath(folder) ? folder : QString();
}
