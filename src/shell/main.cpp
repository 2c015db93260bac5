// kt580-utility: the desktop utility for the KT580 meter. It takes no options.
#include "shell/QtDialogs.h"
#include "shell/SignalWatch.h"
#include "shell/frmMain.h"
#include "widgets/ProgramStyle.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

int main(int /*argc*/, char* argv[]) {
    // Before anything else, so a stop request during start-up waits for the window and ends the
    // program the way closing it does.
    SignalWatch::InstallHandlers();
    // The utility takes no options: Qt sees the program name only.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    // Buttons carry no icons in any dialog, whatever the desktop's theme would add.
    InstallProgramStyle();
    // The installed desktop entry and icon name the window for the desktop's task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral("kt580-utility"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kt580-utility")));
    // Numbers follow the operator's regional settings, never grouped.
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(locale);

    TQtDialogs dialogs;
    TFormKT580 FormKT580(dialogs);
    TSignalWatch stopRequests([&FormKT580](int) { FormKT580.CloseFromOutside(); });
    FormKT580.show();
    return app.exec();
}
