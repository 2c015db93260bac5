#include "trend/RecordFiles.h"

#include <QFileInfo>

bool NeedsNewFile(const TSplitRule& rule, const TRecordFileState& file, const TRecordRow& row) {
    if (!file.Open || row.Serial != file.Serial)
        return true;
    if (file.Rows == 0)
        return false;
    switch (rule.Kind) {
    case TSplitRule::Daily:
        return row.Date != file.FirstRowDate;
    case TSplitRule::Size:
        return rule.MaxBytes > 0 && file.Size + row.Bytes > rule.MaxBytes;
    }
    return false;
}

QString RecordFileName(const QString& chosen, int n) {
    if (n <= 1)
        return chosen;
    const QFileInfo info(chosen);
    const QString suffix = info.suffix();
    const QString name = info.fileName();
    const QString stem = suffix.isEmpty() ? name : name.left(name.size() - suffix.size() - 1);
    QString numbered = stem + QStringLiteral("-%1").arg(n);
    if (!suffix.isEmpty())
        numbered += QLatin1Char('.') + suffix;
    const qsizetype slash = chosen.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? numbered : chosen.left(slash + 1) + numbered;
}
