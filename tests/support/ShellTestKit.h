// What the window tests share: a private configuration folder check, the stored connection
// values, the per-user port map, and modal dialogs answered from inside their own loop. The
// meter simulator itself is support/SimProcess.h.
#pragma once

#include "support/SimProcess.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
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

} // namespace shelltest
