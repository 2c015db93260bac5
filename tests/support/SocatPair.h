// Two pseudo-terminals joined back to back by socat, as two serial adapters wired to each
// other: a program may serve one end as a device while a test or a peer uses the other.
#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

class TSocatPair {
public:
    static bool Installed() { return QFileInfo(QStringLiteral("/usr/bin/socat")).isExecutable(); }

    // Starts socat and waits until it has named both ends.
    TSocatPair() {
        FProcess.start(QStringLiteral("/usr/bin/socat"),
                       {"-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"});
        if (!FProcess.waitForStarted(5000))
            return;
        QString err;
        const QRegularExpression pty(QStringLiteral("PTY is (\\S+)"));
        (void)QTest::qWaitFor(
            [&] {
                err += QString::fromLocal8Bit(FProcess.readAllStandardError());
                FEnds.clear();
                for (auto it = pty.globalMatch(err); it.hasNext();)
                    FEnds << it.next().captured(1);
                return FEnds.size() >= 2;
            },
            5000);
    }
    // Ends socat by its own process id.
    ~TSocatPair() {
        FProcess.terminate();
        FProcess.waitForFinished(3000);
    }
    TSocatPair(const TSocatPair&) = delete;
    TSocatPair& operator=(const TSocatPair&) = delete;

    // The two terminals' paths; fewer than two when socat did not come up.
    const QStringList& Ends() const { return FEnds; }

private:
    QProcess FProcess;
    QStringList FEnds;
};
