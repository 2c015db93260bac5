#include "metering/InputValueQuery.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

// Every letter once, so the average does not depend on which letters a text happens to use.
const QString Alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

// Qt's bottom() is the last pixel row; the layout counts from the row below it.
int BottomOf(const QWidget* w) {
    return w->y() + w->height();
}

} // namespace

TDialogUnits DialogUnits(const QFont& font) {
    const QFontMetrics m(font);
    const QSize size = m.size(Qt::TextSingleLine, Alphabet);
    return TDialogUnits{size.width() / 52, size.height()};
}

TInputValueDialog::TInputValueDialog(const QString& caption, const QString& prompt,
                                     const QFont* font, const QString& value)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(caption);
    if (font)
        setFont(*font);
    const TDialogUnits du = DialogUnits(this->font());

    FPrompt = new QLabel(this);
    FPrompt->setObjectName(QStringLiteral("Prompt"));
    FPrompt->setTextFormat(Qt::PlainText);
    FPrompt->setWordWrap(true);
    FPrompt->setText(prompt);
    // The label takes the width of its text, wrapped at words when it is wider than allowed.
    const int maxWidth = du.Horz(164);
    const QRect textRect = FPrompt->fontMetrics().boundingRect(
        QRect(0, 0, maxWidth, 100000), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, prompt);
    const int width = std::min(textRect.width(), maxWidth);
    // The label's own measure, so the wrapped lines it draws are the lines it has room for.
    const int height = FPrompt->heightForWidth(width);
    FPrompt->setGeometry(du.Horz(8), du.Vert(8), width, height > 0 ? height : textRect.height());

    FEdit = new QLineEdit(this);
    FEdit->setObjectName(QStringLiteral("Edit"));
    FEdit->setMaxLength(MaxLength);
    FEdit->setText(value);
    FEdit->selectAll();
    FEdit->setGeometry(FPrompt->x(), BottomOf(FPrompt) + 5, du.Horz(164),
                       FEdit->sizeHint().height());

    const int buttonTop = BottomOf(FEdit) + 15;
    FOk = new QPushButton(tr("OK"), this);
    FOk->setObjectName(QStringLiteral("OkButton"));
    FOk->setDefault(true);
    FOk->setGeometry(du.Horz(38), buttonTop, du.Horz(50), du.Vert(14));
    connect(FOk, &QPushButton::clicked, this, &QDialog::accept);

    // Esc rejects any QDialog, which makes this the cancel button.
    FCancel = new QPushButton(tr("Cancel"), this);
    FCancel->setObjectName(QStringLiteral("CancelButton"));
    FCancel->setAutoDefault(false);
    FCancel->setGeometry(du.Horz(92), buttonTop, du.Horz(50), du.Vert(14));
    connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(du.Horz(180), BottomOf(FCancel) + 13);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FEdit->setFocus();
}

bool InputValueQuery(const QString& caption, const QString& prompt, const QFont* font,
                     QString& value) {
    TInputValueDialog dialog(caption, prompt, font, value);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = dialog.Edit()->text();
    return true;
}
