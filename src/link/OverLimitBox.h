// The "over limit" box: the meter refused the values of a write of the operator's (exception
// 4). Shown from the event loop, never from inside a master event: its modal loop would
// otherwise run the master's timers while the master is still dispatching, and the cycle would
// re-enter itself. A closing program does not wait for the operator; the journal keeps the
// refusal.
#pragma once

#include "widgets/Dialogs.h"

#include <QObject>

#include <string>

class TOverLimitBox {
public:
    explicit TOverLimitBox(IDialogs& dialogs) : FDialogs(dialogs) {}

    // An exception answer to the query text `query` (placeholder address) while the program
    // is or is not closing.
    void ExceptionAnswer(const std::string& query, int code, bool closing);

private:
    void ShowPending();

    IDialogs& FDialogs;
    int FPending = 0;
    bool FShowing = false;
    QObject FDeferContext;
};
