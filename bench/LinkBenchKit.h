// The main window's side of the link and a set of dialogs that answer nothing, for benchmarks
// that run the link without the shell.
#pragma once

#include "link/LinkViews.h"
#include "widgets/Dialogs.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>

class TBenchShell : public ILinkShell {
public:
    TPage ActivePage() const override { return TPage::RTMetering; }
    bool Connected() const override { return FConnected; }
    void SetConnected(bool value) override { FConnected = value; }
    bool DisconnectRequested() const override { return FDisconnecting; }
    void RefreshStatusAddress() override {}
    void SetStatusText(int panel, const QString& text) override {
        if (panel == 3)
            Statistics = text;
    }
    bool FConnected = false;
    bool FDisconnecting = false;
    // What the statistics panel shows last.
    QString Statistics;
};

class TNoDialogs : public IDialogs {
public:
    TResult MessageBox(const QString&, const QString&, TIcon, TButtons) override {
        return ResultOk;
    }
    int Choose(const QString&, const QString&, TIcon, const QStringList&) override { return -1; }
    bool OpenLocation(const QString&) override { return false; }
    bool InputValue(const QString&, const QString&, const QFont*, QString&) override {
        return false;
    }
    QString OpenFileName(QWidget*) override { return {}; }
    QString SaveFileName(QWidget*) override { return {}; }
    QString SaveDocumentName(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString RecordingFileName(QWidget*, const QString&) override { return {}; }
    bool ReportDetails(QWidget*, QString&, QString&, QString&) override { return false; }
};

// Starts the simulator (KT_SIM_PATH) with the given options and waits for its first line, the
// terminal's path; false, with a message, when it did not start.
inline bool StartSimulator(QProcess& sim, const QStringList& args) {
    sim.start(QStringLiteral(KT_SIM_PATH), args);
    if (!sim.waitForStarted() || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return false;
    }
    sim.readLine();
    return true;
}
