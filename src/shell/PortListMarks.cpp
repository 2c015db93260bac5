#include "shell/PortListMarks.h"

#include "platform/PortInfo.h"

#include <QComboBox>
#include <QFont>

void MarkPresentPorts(QComboBox* combo, const std::string& root) {
    QFont bold = combo->font();
    bold.setBold(true);
    for (int i = 0; i < combo->count(); ++i) {
        const TPortInfo info = DescribeComPort(static_cast<unsigned>(i + 1), root);
        combo->setItemData(i, info.Present ? QVariant(bold) : QVariant(), Qt::FontRole);
        combo->setItemData(i, QString::fromStdString(PortReachText(info)), Qt::ToolTipRole);
    }
}
