// What the benchmarks of the whole window share: running the event loop until a condition
// holds, and answering the Connection Settings dialog that comes up by itself with OK.
#pragma once

#include "shell/frmConnection.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QTimer>

#include <functional>

inline bool WaitFor(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The dialog runs its own modal loop 100 ms after the first show: a timer running inside that
// loop answers it. False when it never came up.
inline bool AnswerConnectionDialog(TFormKT580& window) {
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() == &window.FormConnection()) {
            answer.stop();
            window.FormConnection().ButtonOk->click();
        }
    });
    answer.start();
    return WaitFor([&] { return !answer.isActive() && !QApplication::activeModalWidget(); }, 10000);
}
