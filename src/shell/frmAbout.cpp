#include "shell/frmAbout.h"

#include "shell/ShellIcons.h"
#include "widgets/UiFont.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

TFormAbout::TFormAbout(const TVersionLookup& lookup, QWidget* parent) : QDialog(parent) {
    OpenAddress = [](const QString& address) {
        QDesktopServices::openUrl(QUrl::fromUserInput(address));
    };

    setWindowTitle(QStringLiteral("About"));
    setFont(UiFont());
    setFixedSize(303, 220);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    Image1 = new QLabel(this);
    Image1->setGeometry(24, 24, LogoWidth, LogoHeight);
    Image1->setPixmap(LogoPixmap(devicePixelRatioF()));

    LabelVersion = new QLabel(this);
    LabelVersion->setTextFormat(Qt::PlainText);
    LabelVersion->move(24, 112);
    LabelVersion->setText(VersionLabelText(QStringLiteral("Version"), lookup));
    LabelVersion->adjustSize();

    LabelWWW = new QLabel(QString::fromLatin1(WebAddress), this);
    LabelWWW->setTextFormat(Qt::PlainText);
    QFont link = UiFont(13);
    link.setUnderline(true);
    LabelWWW->setFont(link);
    QPalette palette = LabelWWW->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    LabelWWW->setPalette(palette);
    LabelWWW->setCursor(Qt::PointingHandCursor);
    LabelWWW->move(24, 144);
    LabelWWW->adjustSize();
    LabelWWW->installEventFilter(this);

    Label1 = new QLabel(QStringLiteral("Copyright \u00A9 2016 Veltrana Corporation.\n"
                                       "All rights reserved."),
                        this);
    Label1->setTextFormat(Qt::PlainText);
    Label1->move(24, 174);
    Label1->adjustSize();

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(232, 149, 49, 28);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TFormAbout::LabelWWWClick() {
    if (OpenAddress)
        OpenAddress(LabelWWW->text());
}

bool TFormAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == LabelWWW && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        LabelWWWClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFormAbout::showEvent(QShowEvent* event) {
    // The logo is drawn for the screen the box appears on, sharp at its scale factor.
    Image1->setPixmap(LogoPixmap(devicePixelRatioF()));
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}
