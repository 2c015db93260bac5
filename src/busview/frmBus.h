// The Bus page: the meters on the shared line, one row each (identity, state, latest values,
// counters, response times, interval achieved), the line's cycle and load under it, hints that
// name a likely fault, and per meter Pause and Resume. Choosing a row makes its meter the one
// the other pages show; "Export..." saves the table as CSV.
#pragma once

#include "bus/BusTable.h"
#include "link/frmModbus.h"
#include "widgets/Dialogs.h"

#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

class TFormBus : public QWidget {
public:
    TFormBus(TFormModbus& link, IDialogs& dialogs, QWidget* parent = nullptr);

    // Reads the link afresh; a timer calls it every second while the page is shown.
    void Refresh();
    // The rows as shown, for the export (and the tests).
    std::vector<QStringList> Rows() const { return FRows; }
    // Saves the table where the operator chooses, whole or not at all; false when cancelled
    // or the file could not be written (said in a box).
    bool Export();
    // The meter of a row becomes the one the pages show.
    void SelectRow(int row);
    void PauseSelected(bool pause);

    QTableWidget* Table() const { return FTable; }
    QLabel* Summary() const { return FSummary; }
    QLabel* Hints() const { return FHints; }

private:
    TBusMeterFacts Facts(int address) const;
    int AddressOfRow(int row) const;
    void ShowRows();

    TFormModbus& FLink;
    IDialogs& FDialogs;
    QTableWidget* FTable = nullptr;
    QLabel* FSummary = nullptr;
    QLabel* FHints = nullptr;
    QPushButton* FPause = nullptr;
    QPushButton* FResume = nullptr;
    std::vector<QStringList> FRows;
};
