// The Installation Check page: the verdicts of the installation check on the live values, the
// verdict over all of them on top and one row per rule below, renewed with every measurement
// the link reads while the page is shown.
#pragma once

#include "commissioning/InstallCheck.h"

#include <QColor>
#include <QWidget>

class QLabel;
class QTableWidget;
class TMeterMemory;

class TFormInstallCheck : public QWidget {
public:
    explicit TFormInstallCheck(TMeterMemory& memory, QWidget* parent = nullptr);

    // Judges again from what the memory holds now.
    void Refresh();
    const std::vector<TCheckResult>& Results() const { return FResults; }
    // The colour the verdict of a row is shown in, and the table's background behind it.
    QColor VerdictForeground(int row) const;
    QColor TableBackground() const;
    // The overall verdict above the table and its colour.
    QString VerdictLine() const;
    QColor VerdictLineColour() const;

protected:
    // A new palette (a dark one) renews the verdict colours.
    void changeEvent(QEvent* event) override;

private:
    void SetUpGrid();

    TMeterMemory& FMemory;
    QLabel* LabelVerdict;
    QLabel* LabelBasis;
    QTableWidget* GridChecks;
    std::vector<TCheckResult> FResults;
};
