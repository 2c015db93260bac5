// The write journal window: every entry of the journal file, newest first, filtered by meter,
// following the file as it grows, and exported as CSV (every matching entry of the file)
// through the dialog seam.
#pragma once

#include "commissioning/WriteJournal.h"

#include <QDialog>

#include <optional>

class IDialogs;
class QComboBox;
class QFileSystemWatcher;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class TJournalFile;
class TJournalModel;

class TFormJournal : public QDialog {
public:
    TFormJournal(TJournalFile& file, IDialogs& dialogs, QWidget* parent = nullptr);

    // Reads what the file has gained and shows it (the window also does so by itself whenever
    // the file changes).
    void Reload();
    // The meter chosen in the filter: empty for all meters.
    void SetMeterFilter(const QString& serialNumber);
    // The entries shown: how many, and one by row, newest first.
    int ShownCount() const;
    std::optional<TJournalEntry> ShownEntry(int row) const;
    void ButtonExportClick();

    QComboBox* ComboMeter;
    QTableView* GridEntries;
    QPlainTextEdit* EditDetails;
    QLabel* LabelStatus;
    QPushButton* ButtonExport;

private:
    void BuildTop();
    void BuildGrid();
    void FillMeters();
    void ApplyFilter();
    void ShowStatus();
    void ShowDetails();
    void Watch();

    TJournalFile& FFile;
    IDialogs& FDialogs;
    TJournalModel* FModel;
    QFileSystemWatcher* FWatcher;
};
