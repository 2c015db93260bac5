#include "widgets/Dialogs.h"

#include "link/cstMain.h"

void IDialogs::ShowError(const QString& message) {
    MessageBox(QString::fromLatin1(cstMain::CaptionError), message, Critical, Ok);
}

bool IDialogs::Confirm(const QString& text) {
    return MessageBox(QString::fromLatin1(cstMain::CaptionConfirm), text, NoIcon, YesNo) ==
           ResultYes;
}
