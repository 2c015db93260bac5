#include "link/LinkStatus.h"

#include "meter/cstMain.h"

void TLinkStatus::FrameSent(const std::string& frame) {
    FTraffic.FrameSent(frame);
    Show();
}

void TLinkStatus::DataReceived(const std::string& data) {
    FTraffic.DataReceived(data);
    FShell.SetStatusText(2, FTraffic.RxText());
}

void TLinkStatus::LineLost() {
    FLineLost = true;
    Show();
}

void TLinkStatus::ReadEnded(bool answered) {
    if (FReadsFailing == !answered)
        return;
    FReadsFailing = !answered;
    Show();
}

void TLinkStatus::QueryEnded(bool idle) {
    if (idle) {
        FTraffic.ClearTraffic();
        Show();
    }
    ShowStatistics();
}

void TLinkStatus::QueryAbandoned() {
    FTraffic.QueryAbandoned();
}

void TLinkStatus::CycleEnded() {
    FLineLost = false;
    FReadsFailing = false;
    FTraffic.ClearTraffic();
    FShell.SetStatusText(1, QString());
    FShell.SetStatusText(2, QString());
}

void TLinkStatus::Show() {
    // While the port's device is gone, the frames go nowhere, and while the reads go
    // unanswered the frames tell the operator little: the first panel says why.
    if (FLineLost)
        FShell.SetStatusText(
            1, QString::fromLatin1(cstMain::PortGone).arg(QStringLiteral("COM%1").arg(FPortNum())));
    else if (FReadsFailing && FFailureCause)
        FShell.SetStatusText(1, QString::fromLatin1(cstMain::ReadsFailing).arg(FFailureCause()));
    else
        FShell.SetStatusText(1, FTraffic.TxText());
    FShell.SetStatusText(2, FTraffic.RxText());
}

void TLinkStatus::ShowStatistics() {
    if (const auto text = FTraffic.AfterResponse())
        FShell.SetStatusText(3, *text);
}
