// Opening the Write Journal window on a long journal: writes a journal of N settings entries
// (100,000 by default, about 31 MB), then opens the window offscreen and prints the time until
// it shows the newest entry and the peak resident memory of the process before and after.
//
//   bench_journal [--entries N]
#include "ProcessStats.h"
#include "commissioning/JournalFile.h"
#include "commissioning/frmJournal.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Peak resident set size in KiB, from /proc; -1 when it cannot be read.
long PeakKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return -1;
}

// An entry of the size a settings write makes: a sent line and its outcome every tenth write.
QByteArray Lines(int k) {
    TJournalEntry e;
    e.Time = QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addSecs(k);
    e.Port = QStringLiteral("COM3");
    e.Baudrate = 19200;
    e.Parity = QStringLiteral("None");
    e.Address = 1 + k % 7;
    e.SerialNumber = QStringLiteral("KT580-1908%1").arg(k % 12, 4, 10, QLatin1Char('0'));
    e.SoftwareVersion = QStringLiteral("3.20");
    e.Write = {
        QStringLiteral("settings"),
        QStringLiteral("Communication, wiring, ratios and backlight (settings block 0x1100)"),
        {{QStringLiteral("CT1"), QStringLiteral("50 A"), QStringLiteral("100 A")},
         {QStringLiteral("Backlight Time"), QStringLiteral("7 min"), QStringLiteral("9 min")}}};
    e.Query = QStringLiteral("01,10,11,00,00,0D,1A,04,D2,00,01,25,80,00,03,00,00,01,90");
    e.Outcome = QStringLiteral("accepted");
    return JournalLine(e);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int entries = 100000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--entries"))
            entries = args[i + 1].toInt();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.jsonl"));
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        for (int k = 0; k < entries; ++k)
            out.write(Lines(k));
    }
    const double megabytes = static_cast<double>(QFileInfo(path).size()) / 1e6;
    const long peakBefore = PeakKiB();

    TJournalFile file(path);
    TScriptedDialogs dialogs;
    QElapsedTimer clock;
    clock.start();
    TFormJournal window(file, dialogs);
    window.show();
    QCoreApplication::processEvents();
    window.grab(); // painted once, the newest rows on view
    const qint64 ms = clock.elapsed();
    const bool newestOnTop = window.ShownCount() == entries &&
                             window.ShownEntry(0)->Time ==
                                 QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addSecs(entries - 1);

    std::printf("journal: %d entries, %.1f MB\n", entries, megabytes);
    std::printf("window open and painted: %lld ms (%s)\n", static_cast<long long>(ms),
                newestOnTop ? "all entries, newest first" : "ENTRIES MISSING");
    std::printf("peak resident memory: %ld KiB before opening, %ld KiB after (+%ld KiB)\n",
                peakBefore, PeakKiB(), PeakKiB() - peakBefore);
    std::printf("resident now: %ld KiB\n", ResidentKiB());
    return newestOnTop ? 0 : 1;
}
