// The Trend page on a link without a window: scripted dialogs, a stepped clock.
#pragma once

#include "link/frmModbus.h"
#include "support/FakeShell.h"
#include "support/ScriptedDialogs.h"
#include "trend/TrendDialogs.h"
#include "trend/frmTrend.h"

#include <deque>

class TScriptedTrendDialogs : public ITrendDialogs {
public:
    bool RecordOptions(QWidget*, TRecordOptions& options) override {
        ++RecordAsked;
        if (Records.empty())
            return false;
        options = Records.front();
        Records.pop_front();
        return true;
    }

    std::deque<TRecordOptions> Records;
    int RecordAsked = 0;
};

struct TTrendRig {
    TTrendRig() : Link(Shell, Dialogs), Page(Link, Dialogs, TrendDialogs) {
        Shell.Page = TPage::Trend;
        Page.Now = [this] { return Clock; };
        Page.Recorder().Now = [this] { return Clock; };
        Page.ProgramVersion = QStringLiteral("2.2.0.0");
    }
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TScriptedTrendDialogs TrendDialogs;
    TFormModbus Link;
    TFormTrend Page;
    qint64 Clock = 1772370309000;
};
