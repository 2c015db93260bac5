// The Trend page on the link rig without a window: scripted dialogs, a stepped clock.
#pragma once

#include "support/LinkRig.h"
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

struct TTrendRig : TLinkRig {
    TTrendRig() {
        Shell.Page = TPage::Trend;
        Page.Now = [this] { return Clock; };
        Page.Recorder().Now = [this] { return Clock; };
        Page.ProgramVersion = QStringLiteral("2.2.0.0");
    }
    TScriptedTrendDialogs TrendDialogs;
    TFormTrend Page{Link, Dialogs, TrendDialogs};
    qint64 Clock = 1772370309000;
};
