#include "commissioning/CommissioningReport.h"

#include "commissioning/SettingsText.h"
#include "meter/SettingsBlocks.h"
#include "meter/VersionRules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QStringList>

namespace {

QString Esc(const QString& text) {
    return text.toHtmlEscaped();
}

QString Number(double x, int decimals) {
    return QLocale().toString(x, 'f', decimals);
}

QString Row(const QStringList& cells, const char* tag = "td") {
    QString row = QStringLiteral("<tr>");
    // An empty cell holds a space: the text layout ends a table whose last row has an empty
    // cell short of its border, and the next heading sits on the line.
    for (const QString& c : cells)
        row += QStringLiteral("<%1>%2</%1>")
                   .arg(QLatin1String(tag), c.isEmpty() ? QStringLiteral("&nbsp;") : c);
    return row + QStringLiteral("</tr>");
}

// A heading row with the widths of the columns in percent; a table that goes on over a page
// repeats it at the top of the next.
QString HeadRow(const QStringList& cells, std::initializer_list<int> widths) {
    QString row = QStringLiteral("<thead><tr>");
    auto width = widths.begin();
    for (const QString& c : cells)
        row += QStringLiteral("<th width=\"%1%\" style=\"background-color: #e8e8e8;\">%2</th>")
                   .arg(width != widths.end() ? *width++ : 0)
                   .arg(c);
    return row + QStringLiteral("</tr></thead>");
}

QString VerdictColour(TVerdict v) {
    switch (v) {
    case TVerdict::Good:
        return QStringLiteral("#1b7a1b");
    case TVerdict::Warning:
        return QStringLiteral("#a86400");
    case TVerdict::Fault:
        return QStringLiteral("#b00000");
    case TVerdict::CannotJudge:
        break;
    }
    return QStringLiteral("#555555");
}

QString OverallColour(TOverall o) {
    switch (o) {
    case TOverall::Passed:
        return VerdictColour(TVerdict::Good);
    case TOverall::PassedWithRemarks:
        return VerdictColour(TVerdict::Warning);
    case TOverall::NotPassed:
        break;
    }
    return VerdictColour(TVerdict::Fault);
}

const char* const EnergyNames[EnergyCount] = {"Ep_total", "Eq_total", "Ep_imp",
                                              "Ep_exp",   "Eq_imp",   "Eq_exp"};

// Counters in tenths of kWh or kvarh; the short layout has the two totals only.
std::vector<TReportEnergy> EnergyOf(const TMeterMemory& memory, const QString& version) {
    std::vector<TReportEnergy> out;
    const int count = ExtendedLayout(version) ? EnergyCount : 2;
    for (int k = 0; k < count; ++k) {
        const auto& raw = memory.Energy()[static_cast<std::size_t>(k)];
        if (!raw)
            continue;
        const bool reactive = EnergyNames[k][1] == 'q';
        out.push_back({QString::fromLatin1(EnergyNames[k]), *raw / 10.0,
                       reactive ? QStringLiteral("kvarh") : QStringLiteral("kWh")});
    }
    return out;
}

// The averages of the window as one measurement: what the installation check of a report
// judges, so its values and the measurement table agree.
std::optional<TMeasurement> AverageMeasurement(const TMeterMemory& memory,
                                               const TSnapshot& snapshot) {
    if (snapshot.Samples == 0)
        return memory.LastMeasurement();
    TMeasurement m;
    for (int q = 0; q < QuantityCount; ++q)
        m.Values[static_cast<std::size_t>(q)] = snapshot.Stats[static_cast<std::size_t>(q)].Average;
    if (memory.LastMeasurement())
        m.LoadType = memory.LastMeasurement()->LoadType;
    return m;
}

} // namespace

TInstallInputs InstallInputs(const TMeterMemory& memory) {
    TInstallInputs in;
    in.Measurement = memory.LastMeasurement();
    if (memory.BlockRead(sbGeneral)) {
        in.VoltageWiring = memory.Settings().VoltageWiring;
        in.CTPrimary = memory.Settings().CT1.toDouble();
        in.LoadConvention = memory.Settings().LoadConvention;
    }
    return in;
}

TReportReads ReportReadsSince(const TMeterMemory& memory, std::uint64_t mark, int samples) {
    TReportReads reads;
    reads.Identity = memory.ReadSince(rbIdentity, mark);
    reads.SoftwareVersion = memory.SoftwareVersion();
    reads.SerialNumber = memory.ReadSince(rbSerialNumber, mark);
    for (std::uint16_t block : ReportLayoutBlocks(reads.SoftwareVersion))
        if (memory.ReadSince(block, mark))
            reads.SettingsBlocks.push_back(block);
    reads.Energy = memory.ReadSince(rbEnergy, mark);
    reads.Samples = samples;
    return reads;
}

TCommissioningReport BuildReport(const TMeterMemory& memory,
                                 const IMeasurementSnapshot& measurements, std::int64_t nowMs,
                                 const std::vector<TJournalEntry>& session) {
    TCommissioningReport r;
    if (const auto& id = memory.Identity()) {
        const qsizetype open = id->DevType.indexOf(QStringLiteral(" ("));
        r.DeviceType = open < 0 ? id->DevType : id->DevType.left(open);
        r.Model = open < 0 ? QString() : id->DevType.mid(open + 2).chopped(1);
        r.HardwareVersion = id->HardVersion;
        r.SoftwareVersion = id->SoftVersion;
        r.ReleaseDate = id->ReleaseDate;
    }
    r.SerialNumber = memory.SerialNumber().value_or(QString());
    const bool relayAlarm = RelayAlarmLayout(r.SoftwareVersion);
    for (std::uint16_t block : ReportLayoutBlocks(r.SoftwareVersion)) {
        if (!memory.BlockRead(block))
            continue;
        for (const TSettingsField* f : BlockFields(block, relayAlarm))
            r.Settings.push_back({QString::fromLatin1(f->Label), QString::fromLatin1(f->Name),
                                  SettingValueText(*f, memory.Settings())});
    }
    r.Energy = EnergyOf(memory, r.SoftwareVersion);
    r.Snapshot = measurements.Snapshot(nowMs);
    r.Scaling = memory.Scaling();
    TInstallInputs inputs = InstallInputs(memory);
    inputs.Measurement = AverageMeasurement(memory, r.Snapshot);
    r.Checks = CheckInstallation(inputs);
    for (const TJournalEntry& e : session)
        if (e.SerialNumber && *e.SerialNumber == r.SerialNumber && !r.SerialNumber.isEmpty())
            r.Journal.push_back(e);
    r.Overall = OverallVerdict(r.Checks, r.Journal);
    return r;
}

QJsonObject ReportJson(const TCommissioningReport& r) {
    QJsonArray settings;
    for (const TReportSetting& s : r.Settings)
        settings.append(
            QJsonObject{{"setting", s.Caption}, {"field", s.Field}, {"value", s.Value}});
    QJsonArray energy;
    for (const TReportEnergy& e : r.Energy)
        energy.append(QJsonObject{
            {"counter", e.Name}, {"value", RoundToStep(e.Value, 0.1)}, {"unit", e.Unit}});
    QJsonArray quantities;
    for (int q = 0; q < QuantityCount; ++q) {
        const TQuantityInfo& info = QuantityInfo(q);
        const TQuantityStats& st = r.Snapshot.Stats[static_cast<std::size_t>(q)];
        const double step = QuantityStep(q, r.Scaling);
        quantities.append(QJsonObject{{"quantity", QString::fromLatin1(info.Name)},
                                      {"unit", QString::fromLatin1(info.Unit)},
                                      {"average", RoundToStep(st.Average, step)},
                                      {"minimum", RoundToStep(st.Minimum, step)},
                                      {"maximum", RoundToStep(st.Maximum, step)}});
    }
    QJsonArray checks;
    for (const TCheckResult& c : r.Checks)
        checks.append(QJsonObject{{"check", c.Check},
                                  {"verdict", VerdictText(c.Verdict)},
                                  {"values", c.Values},
                                  {"advice", c.Advice}});
    QJsonArray journal;
    for (const TJournalEntry& e : r.Journal)
        journal.append(QJsonDocument::fromJson(JournalLine(e)).object());
    return QJsonObject{
        {"reportNumber", r.Number},
        {"time", IsoTime(r.Time)},
        {"utilityVersion", r.UtilityVersion},
        {"site", r.Site},
        {"technician", r.Technician},
        {"notes", r.Notes},
        {"port", QStringLiteral("COM%1").arg(r.Line.PortNum)},
        {"line", QJsonObject{{"baudrate", r.Line.Baudrate},
                             {"parity", ParityName(r.Line.Parity)},
                             {"stopBits", StopBitsName(r.Line.StopBits).toDouble()},
                             {"address", r.Line.Address}}},
        {"identity", QJsonObject{{"deviceType", r.DeviceType},
                                 {"model", r.Model},
                                 {"hardwareVersion", r.HardwareVersion},
                                 {"softwareVersion", r.SoftwareVersion},
                                 {"releaseDate", r.ReleaseDate},
                                 {"serialNumber", r.SerialNumber}}},
        {"overall", QJsonObject{{"verdict", OverallText(r.Overall.Verdict)},
                                {"reasons", QJsonArray::fromStringList(r.Overall.Reasons)}}},
        {"settings", settings},
        {"energy", energy},
        {"measurements", QJsonObject{{"seconds", r.SnapshotSeconds},
                                     {"samples", r.Snapshot.Samples},
                                     {"quantities", quantities}}},
        {"installationCheck", checks},
        {"communication", QJsonObject{{"sent", static_cast<double>(r.SentCount)},
                                      {"errors", static_cast<double>(r.ErrorCount)}}},
        {"journal", journal},
    };
}

namespace {

const QString Table = QStringLiteral(
    "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\" "
    "style=\"border-color: #999999; border-style: solid; border-collapse: collapse;\">");
const QString TableEnd = QStringLiteral("</table>");

QString Heading(const QString& text) {
    return QStringLiteral("<h2 style=\"font-size: 12pt; margin-top: 14px;\">%1</h2>").arg(text);
}

QString Bold(const char* text) {
    return QStringLiteral("<b>%1</b>").arg(QLatin1String(text));
}

QString SiteSection(const TCommissioningReport& r) {
    return Heading(QStringLiteral("Site")) + Table + Row({Bold("Site"), Esc(r.Site)}) +
           Row({Bold("Technician"), Esc(r.Technician)}) +
           Row({Bold("Date"), Esc(IsoTime(r.Time))}) +
           Row({Bold("Notes"), Esc(r.Notes).replace(QLatin1Char('\n'), QStringLiteral("<br>"))}) +
           TableEnd;
}

QString MeterSection(const TCommissioningReport& r) {
    const QString line = LineSettingText(r.Line.Baudrate, r.Line.Parity, r.Line.StopBits) +
                         QStringLiteral(", address %1").arg(r.Line.Address);
    return Heading(QStringLiteral("Meter")) + Table +
           Row({Bold("Model"), Esc(r.Model), Bold("Device type"), Esc(r.DeviceType)}) +
           Row({Bold("Serial number"), Esc(r.SerialNumber), Bold("Release date"),
                Esc(r.ReleaseDate)}) +
           Row({Bold("Hardware version"), Esc(r.HardwareVersion), Bold("Software version"),
                Esc(r.SoftwareVersion)}) +
           Row({Bold("Port"), QStringLiteral("COM%1").arg(r.Line.PortNum), Bold("Line"), line}) +
           TableEnd;
}

QString ChecksSection(const TCommissioningReport& r) {
    QString h = Heading(QStringLiteral("Installation check")) + Table +
                HeadRow({QStringLiteral("Check"), QStringLiteral("Verdict"),
                         QStringLiteral("Values"), QStringLiteral("What was found, what to check")},
                        {20, 11, 34, 35});
    for (const TCheckResult& c : r.Checks)
        h += Row({Esc(c.Check),
                  QStringLiteral("<span style=\"color: %1;\"><b>%2</b></span>")
                      .arg(VerdictColour(c.Verdict), Esc(VerdictText(c.Verdict))),
                  Esc(c.Values), Esc(c.Advice)});
    return h + TableEnd;
}

QString MeasurementSection(const TCommissioningReport& r) {
    QString h = Heading(QStringLiteral("Measurements over the last %1 s").arg(r.SnapshotSeconds));
    if (r.Snapshot.Samples == 0)
        return h + QStringLiteral("<p>No measurements were polled in the last %1 s.</p>")
                       .arg(r.SnapshotSeconds);
    h += (r.Snapshot.Samples == 1 ? QStringLiteral("<p>1 reading.</p>")
                                  : QStringLiteral("<p>%1 readings.</p>").arg(r.Snapshot.Samples)) +
         Table +
         HeadRow({QStringLiteral("Quantity"), QStringLiteral("Average"), QStringLiteral("Minimum"),
                  QStringLiteral("Maximum"), QStringLiteral("Unit")},
                 {32, 18, 18, 18, 14});
    for (int q = 0; q < QuantityCount; ++q) {
        const TQuantityInfo& info = QuantityInfo(q);
        const TQuantityStats& st = r.Snapshot.Stats[static_cast<std::size_t>(q)];
        const int decimals = StepDecimals(QuantityStep(q, r.Scaling));
        h += Row({QString::fromLatin1(info.Name), Number(st.Average, decimals),
                  Number(st.Minimum, decimals), Number(st.Maximum, decimals),
                  QString::fromLatin1(info.Unit)});
    }
    return h + TableEnd;
}

QString SettingsSection(const TCommissioningReport& r) {
    QString h = Heading(QStringLiteral("Settings")) + Table +
                HeadRow({QStringLiteral("Setting"), QStringLiteral("Value"),
                         QStringLiteral("Setting"), QStringLiteral("Value")},
                        {25, 25, 25, 25});
    // Two settings a row.
    for (std::size_t k = 0; k < r.Settings.size(); k += 2) {
        QStringList cells{Esc(r.Settings[k].Caption), Esc(r.Settings[k].Value)};
        if (k + 1 < r.Settings.size())
            cells << Esc(r.Settings[k + 1].Caption) << Esc(r.Settings[k + 1].Value);
        else
            cells << QString() << QString();
        h += Row(cells);
    }
    return h + TableEnd;
}

QString OverallSection(const TCommissioningReport& r) {
    QString h = Heading(QStringLiteral("Result")) +
                QStringLiteral("<p style=\"font-size: 14pt; color: %1;\"><b>%2</b></p><ul>")
                    .arg(OverallColour(r.Overall.Verdict), Esc(OverallText(r.Overall.Verdict)));
    for (const QString& reason : r.Overall.Reasons)
        h += QStringLiteral("<li>%1</li>").arg(Esc(reason));
    return h + QStringLiteral("</ul>");
}

QString EnergySection(const TCommissioningReport& r) {
    QString h =
        Heading(QStringLiteral("Energy counters at handover")) + Table +
        HeadRow({QStringLiteral("Counter"), QStringLiteral("Reading"), QStringLiteral("Unit")},
                {32, 36, 32});
    for (const TReportEnergy& e : r.Energy)
        h += Row({Esc(e.Name), Number(e.Value, 1), Esc(e.Unit)});
    return h + TableEnd;
}

QString JournalSection(const TCommissioningReport& r) {
    QString h = Heading(QStringLiteral("Changes made in this session"));
    if (r.Journal.empty())
        return h + QStringLiteral("<p>None.</p>");
    h += Table + HeadRow({QStringLiteral("Time"), QStringLiteral("What"), QStringLiteral("Changes"),
                          QStringLiteral("Outcome")},
                         {12, 22, 48, 18});
    for (const TJournalEntry& e : r.Journal) {
        QStringList changes;
        for (const TWriteChange& c : e.Write.Changes)
            changes << Esc(ChangeText(c));
        h += Row({Esc(e.Time.toLocalTime().toString(QStringLiteral("HH:mm:ss"))), Esc(e.Write.What),
                  changes.join(QStringLiteral("<br>")), Esc(ReportOutcome(e))});
    }
    return h + TableEnd;
}

} // namespace

QString ReportHtml(const TCommissioningReport& r) {
    return QStringLiteral(
               "<html><body style=\"font-family: 'Liberation Sans', sans-serif; font-size: "
               "9pt;\"><h1 style=\"font-size: 18pt;\">Commissioning Report</h1>") +
           QStringLiteral("<p>KT580 three-phase power and energy meter &mdash; %1<br>Report "
                          "number <b>%2</b></p>")
               .arg(Esc(r.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm"))), Esc(r.Number)) +
           SiteSection(r) + MeterSection(r) + OverallSection(r) + ChecksSection(r) +
           EnergySection(r) + MeasurementSection(r) + SettingsSection(r) +
           Heading(QStringLiteral("Communication")) +
           QStringLiteral("<p>Frames sent: %1; failed queries: %2.</p>")
               .arg(r.SentCount)
               .arg(r.ErrorCount) +
           JournalSection(r) +
           QStringLiteral("<p><br><br><br></p><table width=\"100%\" cellpadding=\"4\"><tr>"
                          "<td width=\"50%\">_____________________________<br>Technician, "
                          "date</td><td width=\"50%\">_____________________________<br>"
                          "Customer, date</td></tr></table>") +
           QStringLiteral("<p style=\"color: #666666; font-size: 7pt;\">Made with the KT580 "
                          "utility %1.</p></body></html>")
               .arg(Esc(r.UtilityVersion));
}

QString ReportHeader(const TCommissioningReport& r) {
    return QStringLiteral("Commissioning Report %1 \u2014 %2 \u2014 meter %3")
        .arg(r.Number, r.Site.simplified(), r.SerialNumber);
}

QString ReportFooter(const TCommissioningReport& r, int page, int pages) {
    return QStringLiteral("%1 \u2014 page %2 of %3")
        .arg(r.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
        .arg(page)
        .arg(pages);
}
