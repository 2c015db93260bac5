#include "link/OverLimitBox.h"

#include "meter/QueryPlan.h"
#include "meter/cstMain.h"

#include <QTimer>

void TOverLimitBox::ExceptionAnswer(const std::string& query, int code, bool closing) {
    // A meter that refuses its reads this way has no write of the operator's to report,
    // however often it is polled.
    if (code != 4 || !IsWriteQuery(query) || closing)
        return;
    ++FPending;
    QTimer::singleShot(0, &FDeferContext, [this] { ShowPending(); });
}

void TOverLimitBox::ShowPending() {
    // A box already open shows the ones that arrived meanwhile when it is closed.
    if (FShowing)
        return;
    FShowing = true;
    while (FPending > 0) {
        --FPending;
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionConfirm),
                            QString::fromLatin1(cstMain::OverLimit), IDialogs::NoIcon,
                            IDialogs::Ok);
    }
    FShowing = false;
}
