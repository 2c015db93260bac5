#include "shell/PortListMarks.h"

#include "platform/PortInfo.h"

#include <QComboBox>
#include <QFont>
#include <QSignalBlocker>

#include <algorithm>

namespace {

constexpr unsigned LastPort = 128;

void MarkEntry(QComboBox* combo, int index, const TPortInfo& info, const QFont& bold) {
    combo->setItemData(index, info.Present ? QVariant(bold) : QVariant(), Qt::FontRole);
    combo->setItemData(index, QString::fromStdString(PortReachText(info)), Qt::ToolTipRole);
}

} // namespace

void MarkPresentPorts(QComboBox* combo, const std::string& root) {
    QFont bold = combo->font();
    bold.setBold(true);
    for (int i = 0; i < combo->count(); ++i)
        MarkEntry(combo, i, DescribeComPort(static_cast<unsigned>(i + 1), root), bold);
}

bool FillPortList(QComboBox* combo, bool onlyPresent, const std::vector<unsigned>& keep,
                  const std::string& root) {
    const QSignalBlocker quiet(combo);
    const unsigned chosen = ChosenPort(combo);
    QFont bold = combo->font();
    bold.setBold(true);
    combo->clear();
    bool anyPresent = false;
    for (unsigned n = 1; n <= LastPort; ++n) {
        const TPortInfo info = DescribeComPort(n, root);
        anyPresent = anyPresent || info.Present;
        if (onlyPresent && !info.Present && std::find(keep.begin(), keep.end(), n) == keep.end())
            continue;
        combo->addItem(QStringLiteral("COM%1").arg(n), n);
        MarkEntry(combo, combo->count() - 1, info, bold);
    }
    combo->setCurrentIndex(std::max(combo->findData(chosen), 0));
    return anyPresent;
}

unsigned ChosenPort(const QComboBox* combo) {
    return combo->currentData().toUInt();
}
