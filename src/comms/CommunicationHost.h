// Puts the Communication window into the main window: the monitor listens to the link from the
// start, the window is built the first time it is opened (from the Readings menu or by a
// double-click on the status bar's statistics panel) and stays until the program ends.
#pragma once

#include "comms/CommMonitor.h"

#include <QObject>
#include <QPointer>

#include <memory>

class IDialogs;
class TFormCommunication;
class ILinkPort;
class QWidget;

class TCommunicationHost : public QObject {
public:
    // `statisticsPanel` opens the window on a double-click; `parent` owns the window.
    TCommunicationHost(ILinkPort& link, IDialogs& dialogs, QWidget* parent,
                       QWidget* statisticsPanel);
    ~TCommunicationHost() override;

    void Open();
    TCommMonitor& Monitor() { return FMonitor; }
    // A copy of the counters since the connect, for reports.
    TCommCounters Counters() const { return FMonitor.Counters(); }
    // The window, once it has been opened.
    TFormCommunication* Window() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ILinkPort& FLink;
    IDialogs& FDialogs;
    QWidget* FParent;
    QWidget* FPanel;
    TCommMonitor FMonitor;
    QPointer<TFormCommunication> FWindow;
};
