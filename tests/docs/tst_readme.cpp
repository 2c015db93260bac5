// The README is the first thing a technician or a developer reads: its set-up commands must
// run what they say, its tables must render as tables, and the option tables of the tools must
// list each option the program takes exactly once.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include "support/SimProcess.h"

namespace {

QString SourcePath(const QString& relative) {
    return qEnvironmentVariable("KT_SOURCE_DIR") + "/" + relative;
}

QStringList ReadmeLines() {
    QFile file(SourcePath(QStringLiteral("README.md")));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split('\n');
}

// The section of the README under the heading that starts with title, up to the next
// heading of the same or a higher level.
QStringList Section(const QStringList& lines, const QString& title) {
    QStringList out;
    int level = 0;
    for (const QString& line : lines) {
        const int hashes = static_cast<int>(line.indexOf(QRegularExpression("[^#]")));
        const bool heading = line.startsWith('#') && hashes > 0 && line.at(hashes) == ' ';
        if (level > 0 && heading && hashes <= level) {
            break;
        }
        if (level > 0) {
            out << line;
        } else if (heading && line.mid(hashes + 1).startsWith(title)) {
            level = hashes;
        }
    }
    return out;
}

// Every "--name" at the start of a table row's first cell.
QStringList TableOptions(const QStringList& lines) {
    QStringList out;
    static const QRegularExpression row(R"(^\| `(--[a-z0-9-]+))");
    for (const QString& line : lines) {
        const auto m = row.match(line);
        if (m.hasMatch()) {
            out << m.captured(1);
        }
    }
    return out;
}

QSet<QString> HelpOptions(const QString& program) {
    QProcess p;
    p.start(program, {QStringLiteral("--help")});
    p.waitForFinished(30000);
    const QString text = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    QSet<QString> out;
    static const QRegularExpression option(R"(^\s{2}(--[a-z0-9-]+))",
                                           QRegularExpression::MultilineOption);
    for (auto it = option.globalMatch(text); it.hasNext();) {
        out.insert(it.next().captured(1));
    }
    return out;
}

} // namespace

class TReadmeTest : public QObject {
    Q_OBJECT

private slots:
    void setUpCommandsExist();
    void tablesAreWhole();
    void simulatorOptionsOnceEach();
    void quickStartSaysFactorySetting();
};

void TReadmeTest::setUpCommandsExist() {
    const QStringList lines = ReadmeLines();
    QVERIFY(!lines.isEmpty());
    // Exactly two set-up commands: one runs the utility, one runs every test.
    static const QRegularExpression command(R"(^    bash (scripts/[a-z-]+\.sh)$)");
    QStringList found;
    for (const QString& line : Section(lines, QStringLiteral("Building from source"))) {
        const auto m = command.match(line);
        if (m.hasMatch()) {
            found << m.captured(1);
        }
    }
    QCOMPARE(found, (QStringList{"scripts/run.sh", "scripts/test.sh"}));
    for (const QString& script : found) {
        QVERIFY2(QFile::exists(SourcePath(script)), qPrintable(script));
    }
}

void TReadmeTest::tablesAreWhole() {
    // A row that follows a blank line but is no table's header row (the next line is not the
    // |---| rule) shows as raw text: the blank line broke its table.
    const QStringList lines = ReadmeLines();
    static const QRegularExpression rule(R"(^\|(\s*:?-+:?\s*\|)+\s*$)");
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith('|') && lines[i - 1].trimmed().isEmpty() &&
            !rule.match(lines[i + 1]).hasMatch()) {
            QFAIL(qPrintable(QString("README line %1 is a table row cut off from its table: %2")
                                 .arg(i + 1)
                                 .arg(lines[i])));
        }
    }
}

void TReadmeTest::simulatorOptionsOnceEach() {
    const QStringList table =
        TableOptions(Section(ReadmeLines(), QStringLiteral("Meter simulator")));
    const QSet<QString> listed(table.begin(), table.end());
    QCOMPARE(table.size(), listed.size()); // no option twice
    QCOMPARE(listed, HelpOptions(SimBinary()));
}

void TReadmeTest::quickStartSaysFactorySetting() {
    // The quick start comes before any building, and tells the meter's factory line setting
    // (indexOf matches a whole line).
    const QStringList lines = ReadmeLines();
    const qsizetype quick = lines.indexOf(QRegularExpression("## Quick start.*"));
    const qsizetype build = lines.indexOf(QRegularExpression("## Building from source.*"));
    QVERIFY(quick > 0);
    QVERIFY(quick < build);
    const QString text = Section(lines, QStringLiteral("Quick start")).join(' ');
    for (const char* needed : {"address 1", "19200", "Find Meter", "Connect"}) {
        QVERIFY2(text.contains(QLatin1String(needed)), needed);
    }
}

QTEST_GUILESS_MAIN(TReadmeTest)
#include "tst_readme.moc"
