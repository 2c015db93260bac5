#include "commissioning/ReportDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFile>
#include <QJsonDocument>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace {

constexpr double BandMm = 9; // the header's and the footer's height, inside the margins

// One page: the header, the document's slice of that page, the footer.
void PaintPage(QPainter& painter, QTextDocument& doc, const TCommissioningReport& report, int page,
               int pages, double band) {
    const QSizeF body = doc.pageSize();
    const double width = body.width();
    painter.save();
    painter.translate(0, band - page * body.height());
    doc.drawContents(&painter, QRectF(0, page * body.height(), width, body.height()));
    painter.restore();

    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(7.5);
    painter.setFont(font);
    painter.setPen(QColor(0x44, 0x44, 0x44));
    const double text = band * 0.6;
    painter.drawText(QRectF(0, 0, width, text), Qt::AlignLeft | Qt::AlignTop, ReportHeader(report));
    painter.drawLine(QPointF(0, text), QPointF(width, text));
    const double foot = band + body.height();
    painter.drawLine(QPointF(0, foot + band - text), QPointF(width, foot + band - text));
    painter.drawText(QRectF(0, foot + band - text, width, text), Qt::AlignRight | Qt::AlignBottom,
                     ReportFooter(report, page + 1, pages));
}

} // namespace

QByteArray ReportPdf(const TCommissioningReport& report) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setTitle(QStringLiteral("Commissioning Report %1").arg(report.Number));
        pdf.setCreator(QStringLiteral("KT580 utility"));
        pdf.setResolution(300);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(18, 12, 18, 12), QPageLayout::Millimeter));
        const QRect area = pdf.pageLayout().paintRectPixels(pdf.resolution());
        const double band = BandMm / 25.4 * pdf.resolution();
        QTextDocument doc;
        doc.documentLayout()->setPaintDevice(&pdf);
        doc.setHtml(ReportHtml(report));
        doc.setPageSize(QSizeF(area.width(), area.height() - 2 * band));
        const int pages = doc.pageCount();
        QPainter painter(&pdf);
        for (int page = 0; page < pages; ++page) {
            if (page > 0)
                pdf.newPage();
            PaintPage(painter, doc, report, page, pages, band);
        }
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
    // The JSON first; when the PDF then cannot be written, the JSON goes too: both or neither.
    if (!SaveWhole(ReportJsonPath(pdfPath), json, error))
        return false;
    if (SaveWhole(pdfPath, pdf, error))
        return true;
    QFile::remove(ReportJsonPath(pdfPath));
    return false;
}
