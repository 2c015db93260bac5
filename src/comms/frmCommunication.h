// The Communication window: what the line is doing (counters since the connect), how fast the
// meter answers, the likely cause when it does not, and the frame log. Non-modal; it only shows
// what the monitor keeps, and refreshes itself only while it is visible.
#pragma once

#include <QWidget>

#include <functional>
#include <span>
#include <utility>

class IDialogs;
class TCommMonitor;
class QCheckBox;
class QLabel;
class QLayout;
class QListView;
class TLogModel;
class QPushButton;
class QTimer;

class TFormCommunication : public QWidget {
public:
    TFormCommunication(TCommMonitor& monitor, IDialogs& dialogs, QWidget* parent = nullptr);

    // Brings every figure and the log up to date; the refresh timer calls it while shown.
    void Refresh();
    void ResetClick();
    void SaveLogClick();

    static constexpr int RefreshMs = 500;
    // The meter's serial number, for the name a saved log is offered under; empty if unknown.
    std::function<QString()> MeterSerial;

    QLabel* LabelVerdict;
    QCheckBox* CheckErrorsOnly;
    QCheckBox* CheckPause;
    QPushButton* ButtonReset;
    QPushButton* ButtonSaveLog;
    QListView* ListLog;
    TLogModel* LogModel;
    QTimer* TimerRefresh;

    // A figure's value label by its caption's key ("sent", "answered", "median", ...).
    QLabel* Value(const char* key) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* CreateFigures(const QString& title,
                           std::span<const std::pair<const char*, const char*>> rows);
    QWidget* CreateVerdict();
    QLayout* CreateLogButtons();
    QWidget* CreateLog();
    QWidget* CreateCounters();
    QWidget* CreateTiming();
    QLabel* AddRow(class QGridLayout* grid, int row, const char* key, const QString& caption);
    void UpdateLog();

    TCommMonitor& FMonitor;
    IDialogs& FDialogs;
};
