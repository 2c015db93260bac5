// What the shell's tests share: a private configuration folder check, the stored connection
// values, modal dialogs answered from inside their own loop, and the meter simulator on a
// terminal mapped as a COM port.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace shelltest {

// Tests run with XDG_CONFIG_HOME pointing at a folder of their own; anything else could reach
// the real user's settings and port map.
inline bool PrivateConfig() {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    return !config.isEmpty() && QDir(config) != QDir(QDir::homePath() + "/.config");
}

inline QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrana", "Marbrook");
}

inline void ClearStore() {
    QSettings s = Store();
    s.clear();
    s.sync();
}

inline QString PortMapDir() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/Veltrana/Marbrook/ports";
}

// Maps COMn to target (a path that may not exist) in the private port map.
inline bool MapPort(int n, const QString& target) {
    QDir().mkpath(PortMapDir());
    const QString link = PortMapDir() + QString("/COM%1").arg(n);
    QFile::remove(link);
    return QFile::link(target, link);
}

inline void UnmapPort(int n) {
    QFile::remove(PortMapDir() + QString("/COM%1").arg(n));
}

// True when nobody holds the exclusive lock of the terminal at path.
inline bool LockFree(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// Calls onModal with every modal window that is open, from inside its modal loop, every few
// milliseconds while it lives; onModal is expected to close the window.
class TModalWatcher {
public:
    explicit TModalWatcher(std::function<void(QWidget*)> onModal) : FOnModal(std::move(onModal)) {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible() && !FBusy) {
                FBusy = true;
                ++Seen;
                FOnModal(modal);
                FBusy = false;
            }
        });
        FTimer.start();
    }
    int Seen = 0;

private:
    std::function<void(QWidget*)> FOnModal;
    QTimer FTimer;
    bool FBusy = false;
};

inline QString Bin(const char* relative) {
    return qEnvironmentVariable("KT_BIN_DIR") + "/" + relative;
}

// kt580-sim for one test, registered as COMn, logging every request on its stderr.
class TSim {
public:
    explicit TSim(int com, const QStringList& extra = {}) {
        FProcess.start(Bin("tools/kt580-sim/kt580-sim"),
                       QStringList{"--com", QString::number(com), "--log"} + extra);
        if (FProcess.waitForStarted() && FProcess.waitForReadyRead(5000))
            FPath = QString::fromLocal8Bit(FProcess.readLine()).trimmed();
    }
    ~TSim() { Stop(); }
    const QString& Path() const { return FPath; }

    // Stops it by its own process id and returns every request it received, as hex texts.
    QStringList Stop() {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.terminate();
            if (!FProcess.waitForFinished(5000)) {
                FProcess.kill();
                FProcess.waitForFinished();
            }
            FLog += QString::fromLocal8Bit(FProcess.readAllStandardError());
        }
        QStringList requests;
        for (const QString& line : FLog.split('\n')) {
            const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
            if (fields.size() >= 3 && fields[1] == "RX") {
                QStringList bytes;
                for (int i = 2; i < fields.size() && fields[i].size() == 2; ++i)
                    bytes << fields[i];
                requests << bytes.join(' ');
            }
        }
        return requests;
    }

private:
    QProcess FProcess;
    QString FPath;
    QString FLog;
};

} // namespace shelltest
