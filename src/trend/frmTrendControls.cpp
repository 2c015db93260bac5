// The Trend page's controls: the list of quantities to tick, the span and the buttons above the
// chart, the readout and the recording state below it.
#include "trend/frmTrendControls.h"

#include "meter/ValueColours.h"
#include "trend/ChartedQuantities.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The list's tick boxes: the style draws an unticked box as an outline only, in a shade of the
// window colour (Fusion: darkened by 1.4, lightened by 1.1), which on a dark palette is as dark
// as the list. The window colour handed to the style is chosen so that the outline reads
// against the list's base on light and dark palettes alike.
class TTickListDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QColor base = option->palette.color(QPalette::Base);
        const TRgb outline =
            ReadableOn(TRgb{128, 128, 128}, TRgb{base.red(), base.green(), base.blue()});
        const int window = std::min(255, outline.G * 140 / 110);
        option->palette.setColor(QPalette::Window, QColor(window, window, window));
    }
};

QPushButton* NamedButton(const QString& text, const QString& name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

QLabel* NamedLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

TTrendControls::TTrendControls(QWidget* page, const std::function<QWidget*()>& makeChartView) {
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(8, 8, 8, 8);
    BuildQuantityList(page);
    layout->addWidget(ListQuantities);
    auto* right = new QVBoxLayout;
    right->addLayout(BuildBar(page));
    right->addWidget(makeChartView(), 1);
    LabelReadout = NamedLabel(QStringLiteral("LabelReadout"), page);
    LabelReadout->setText(QStringLiteral("Point at the chart to read its values; drag to zoom, "
                                         "wheel to zoom, middle button to pan."));
    LabelRecording = NamedLabel(QStringLiteral("LabelRecording"), page);
    right->addWidget(LabelReadout);
    right->addWidget(LabelRecording);
    layout->addLayout(right, 1);
}

// The numeric quantities, each with a tick box that shows it on the chart.
void TTrendControls::BuildQuantityList(QWidget* page) {
    ListQuantities = new QListWidget(page);
    ListQuantities->setObjectName(QStringLiteral("ListQuantities"));
    ListQuantities->setFixedWidth(150);
    ListQuantities->setItemDelegate(new TTickListDelegate(ListQuantities));
    const auto& all = MeteringQuantities();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!Charted(all[i]))
            continue;
        auto* item = new QListWidgetItem(all[i].Name, ListQuantities);
        item->setData(Qt::UserRole, static_cast<int>(i));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

// The span choice and the buttons above the chart.
QHBoxLayout* TTrendControls::BuildBar(QWidget* page) {
    ComboSpan = new QComboBox(page);
    ComboSpan->setObjectName(QStringLiteral("ComboSpan"));
    ComboSpan->addItems({QStringLiteral("Last 1 minute"), QStringLiteral("Last 5 minutes"),
                         QStringLiteral("Last 15 minutes"), QStringLiteral("Last 60 minutes"),
                         QStringLiteral("Since Connect")});
    ComboSpan->setCurrentIndex(1);
    ButtonPause = NamedButton(QStringLiteral("Pause"), QStringLiteral("ButtonPause"), page);
    ButtonRecord = NamedButton(QStringLiteral("Record..."), QStringLiteral("ButtonRecord"), page);
    ButtonSaveImage =
        NamedButton(QStringLiteral("Save Image..."), QStringLiteral("ButtonSaveImage"), page);
    auto* bar = new QHBoxLayout;
    bar->addWidget(ComboSpan);
    bar->addWidget(ButtonPause);
    bar->addStretch(1);
    bar->addWidget(ButtonSaveImage);
    bar->addWidget(ButtonRecord);
    return bar;
}

void TTrendControls::SetShown(int quantity, bool shown) {
    for (int row = 0; row < ListQuantities->count(); ++row) {
        QListWidgetItem* item = ListQuantities->item(row);
        if (item->data(Qt::UserRole).toInt() == quantity)
            item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
    }
}

QList<int> TTrendControls::Shown() const {
    QList<int> shown;
    for (int row = 0; row < ListQuantities->count(); ++row) {
        const QListWidgetItem* item = ListQuantities->item(row);
        if (item->checkState() == Qt::Checked)
            shown << item->data(Qt::UserRole).toInt();
    }
    return shown;
}
