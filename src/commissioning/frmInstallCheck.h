// The Installation Check page: the verdicts of the installation check on the live values, one
// row per rule, renewed with every measurement the link reads while the page is shown.
#pragma once

#include "commissioning/InstallCheck.h"

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

private:
    TMeterMemory& FMemory;
    QLabel* LabelBasis;
    QTableWidget* GridChecks;
    std::vector<TCheckResult> FResults;
};
