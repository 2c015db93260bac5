#include "shell/VersionRecord.h"

std::optional<QString> ProgramVersionValue(const QString& name) {
    if (name == QLatin1String("FileVersion"))
        return QStringLiteral(KT_FILE_VERSION);
    if (name == QLatin1String("Comments"))
        return QStringLiteral(KT_COMMENTS);
    return std::nullopt;
}

QString VersionLabelText(const QString& designText, const TVersionLookup& lookup) {
    if (!lookup)
        return QString();
    QString text = designText;
    if (const auto version = lookup(QStringLiteral("FileVersion"))) {
        // "2.2.0.0" shows as 2.2.0: the build number means nothing to an operator.
        const qsizetype dot = version->lastIndexOf(QLatin1Char('.'));
        text += QLatin1Char(' ') + (dot < 0 ? QString() : version->left(dot));
    }
    if (const auto comments = lookup(QStringLiteral("Comments")))
        text += QStringLiteral(" (") + *comments + QLatin1Char(')');
    return text;
}

QString ProgramVersionText(const TVersionLookup& lookup) {
    return VersionLabelText(QString(), lookup).trimmed();
}
