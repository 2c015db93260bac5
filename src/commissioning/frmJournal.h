// The write journal window: every entry of the journal file, newest first, filtered by meter,
// and exported as CSV through the dialog seam.
#pragma once

#include "commissioning/WriteJournal.h"

#include <QDialog>

#include <vector>

class IDialogs;
class QComboBox;
class QPushButton;
class QTableWidget;
class TJournalFile;

class TFormJournal : public QDialog {
public:
    TFormJournal(TJournalFile& file, IDialogs& dialogs, QWidget* parent = nullptr);

    // Reads the file again and shows it.
    void Reload();
    // The meter chosen in the filter: empty for all meters.
    void SetMeterFilter(const QString& serialNumber);
    // The entries shown, newest first.
    const std::vector<TJournalEntry>& Shown() const { return FShown; }
    void ButtonExportClick();

    QComboBox* ComboMeter;
    QTableWidget* GridEntries;
    QPushButton* ButtonExport;

private:
    void Fill();

    TJournalFile& FFile;
    IDialogs& FDialogs;
    std::vector<TJournalEntry> FAll;
    std::vector<TJournalEntry> FShown;
};
