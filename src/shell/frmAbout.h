// The About box: the maker's logo, the program's version from its version record, the maker's
// web address as a link and the copyright line. A new one is made for every showing.
#pragma once

#include "shell/VersionRecord.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

class TFormAbout : public QDialog {
public:
    explicit TFormAbout(const TVersionLookup& lookup = ProgramVersionValue,
                        QWidget* parent = nullptr);

    // Opens the web address; tests put a recorder here instead of the desktop's browser.
    std::function<void(const QString& address)> OpenAddress;

    void LabelWWWClick();

    QLabel* Image1;
    QLabel* LabelVersion;
    QLabel* LabelWWW;
    QLabel* Label1;
    QPushButton* Button1;

    static constexpr char WebAddress[] = "https://www.veltrana.example/";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
};
