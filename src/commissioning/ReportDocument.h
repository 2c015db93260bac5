// Writes a commissioning report: the PDF (Qt's own PDF writer, A4) and, beside it, the same
// content as JSON. Each file is complete or untouched.
#pragma once

#include "commissioning/CommissioningReport.h"

#include <QByteArray>
#include <QString>

// The PDF of the report, in memory.
QByteArray ReportPdf(const TCommissioningReport& report);

// The JSON file beside a PDF: the same name with ".json" in place of ".pdf".
QString ReportJsonPath(const QString& pdfPath);

// Writes both files, each through a save file; false with the reason when either could not be
// written, and then neither is left (a JSON of that name from before goes too).
bool WriteReport(const TCommissioningReport& report, const QString& pdfPath, QString& error);

// Writes bytes to a file through a save file: the old file stays until the new one is whole.
bool SaveWhole(const QString& path, const QByteArray& bytes, QString& error);
