#include "commissioning/ReportDocument.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

QByteArray ReportPdf(const TCommissioningReport& report) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setTitle(QStringLiteral("Commissioning Report"));
        pdf.setCreator(QStringLiteral("KT580 utility"));
        pdf.setResolution(300);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter));
        QTextDocument doc;
        doc.setHtml(ReportHtml(report));
        doc.print(&pdf);
    }
    return bytes;
}

QString ReportJsonPath(const QString& pdfPath) {
    if (pdfPath.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return pdfPath.chopped(4) + QStringLiteral(".json");
    return pdfPath + QStringLiteral(".json");
}

bool SaveWhole(const QString& path, const QByteArray& bytes, QString& error) {
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                         file.flush() && file.commit();
    if (!written) {
        error = QStringLiteral("Cannot create file %1").arg(path);
        file.cancelWriting();
    }
    return written;
}

bool WriteReport(const TCommissioningReport& report, const QString& pdfPath, QString& error) {
    const QByteArray pdf = ReportPdf(report);
    const QByteArray json = QJsonDocument(ReportJson(report)).toJson(QJsonDocument::Indented);
    if (pdf.isEmpty()) {
        error = QStringLiteral("Cannot create file %1").arg(pdfPath);
        return false;
    }
    return SaveWhole(ReportJsonPath(pdfPath), json, error) && SaveWhole(pdfPath, pdf, error);
}
