// The link's three status panels: the frame sent last (or why the frames tell little: the
// port's device is gone, the reads go unanswered), the answer received last, and the error
// statistics. The link tells it what happens on the line; it writes the panels through the
// shell.
#pragma once

#include "link/LinkViews.h"
#include "link/TrafficStats.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class TLinkStatus {
public:
    // `portNum` names the port in the notice that its device is gone.
    TLinkStatus(ILinkShell& shell, std::function<std::uint16_t()> portNum)
        : FShell(shell), FPortNum(std::move(portNum)) {}

    const TTrafficStats& Traffic() const { return FTraffic; }
    void ResetCounts() { FTraffic.Reset(); }
    void SetFailureCause(std::function<QString()> cause) { FFailureCause = std::move(cause); }
    bool ReadsFailing() const { return FReadsFailing; }

    void QueryStarted() { FTraffic.QueryStarted(); }
    void FrameSent(const std::string& frame);
    void DataReceived(const std::string& data);
    void ResponseError() { FTraffic.ResponseError(); }
    // The device under the open port has gone.
    void LineLost();
    // A read ended, answered or not: the first panel names the cause while reads fail.
    void ReadEnded(bool answered);
    // The query's end has been handled; `idle`: nothing more will be polled on this page.
    void QueryEnded(bool idle);
    // The query on the line was cut short by the port closing under it.
    void QueryAbandoned();
    void CycleEnded();
    // The traffic panels: the last frames, or the notice why they tell little.
    void Show();

private:
    void ShowStatistics();

    ILinkShell& FShell;
    std::function<std::uint16_t()> FPortNum;
    TTrafficStats FTraffic;
    // The device under the open port has gone; cleared when the cycle ends.
    bool FLineLost = false;
    std::function<QString()> FFailureCause;
    bool FReadsFailing = false;
};
