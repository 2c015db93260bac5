#include "comms/LogDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// Characters kept past the computed edge: kerning, the partly visible glyph, the elision mark.
constexpr qsizetype SpareCharacters = 4;

// The narrowest advance of a printable ASCII character in `font`.
qreal NarrowestAdvance(const QFont& font) {
    const QFontMetricsF metrics(font);
    qreal narrowest = metrics.horizontalAdvance(QLatin1Char(' '));
    for (char c = '!'; c <= '~'; ++c)
        narrowest = std::min(narrowest, metrics.horizontalAdvance(QLatin1Char(c)));
    return narrowest;
}

bool PlainAscii(const QString& text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
}

// A row of one line of left-aligned text and nothing else, drawn by a style whose item drawing
// is the common one: what DrawPlainRow reproduces.
bool PlainRow(const QStyleOptionViewItem& opt, const QStyle* style) {
    constexpr auto Extras = QStyleOptionViewItem::WrapText |
                            QStyleOptionViewItem::HasCheckIndicator |
                            QStyleOptionViewItem::HasDecoration;
    return style->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0 &&
           !(opt.features & Extras) &&
           !(opt.state & (QStyle::State_HasFocus | QStyle::State_Editing)) &&
           opt.direction == Qt::LeftToRight &&
           opt.displayAlignment == (Qt::AlignLeft | Qt::AlignVCenter) && !opt.text.isEmpty();
}

// The text of one line laid out in `width`, as the style's item drawing lays it out.
void LayOut(QTextLayout& layout, int width) {
    QTextOption option;
    option.setWrapMode(QTextOption::ManualWrap);
    option.setTextDirection(Qt::LeftToRight);
    option.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(width);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
}

} // namespace

qsizetype TLogDelegate::ShownLength(const QString& text, const QFont& font, int width) const {
    if (FNarrowest <= 0 || font != FFont) {
        FFont = font;
        FNarrowest = NarrowestAdvance(font);
    }
    if (FNarrowest < 1 || width < 0 || !PlainAscii(text))
        return text.size();
    const auto fit = static_cast<qsizetype>(std::ceil(width / FNarrowest));
    return std::min(text.size(), fit + SpareCharacters);
}

void TLogDelegate::DrawPlainRow(QPainter* painter, const QStyleOptionViewItem& opt) const {
    const QWidget* widget = opt.widget;
    const QStyle* style = widget->style();
    painter->save();
    painter->setClipRect(opt.rect);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    QPalette::ColorGroup group =
        opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
        group = QPalette::Inactive;
    painter->setPen(opt.palette.color(
        group, opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
    QTextLayout layout(opt.text, opt.font);
    LayOut(layout, textRect.width());
    const QRect aligned = QStyle::alignedRect(Qt::LayoutDirectionAuto, Qt::AlignVCenter,
                                              layout.boundingRect().size().toSize(), textRect);
    const QPointF at(textRect.x(), aligned.top());
    if (layout.lineAt(0).naturalTextWidth() > textRect.width()) {
        QTextLayout elided(
            QFontMetrics(opt.font).elidedText(opt.text, opt.textElideMode, textRect.width()),
            opt.font);
        LayOut(elided, textRect.width());
        elided.draw(painter, at);
    } else {
        layout.draw(painter, at);
    }
    painter->restore();
}

void TLogDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    // The visible part of the row ends at the view's right edge or the item's, whichever comes
    // first; past the item's edge the style elides, so the head kept must reach beyond it.
    if (const auto* view = qobject_cast<const QAbstractItemView*>(widget)) {
        const int right = std::min(view->viewport()->width(), opt.rect.right() + 1);
        opt.text.truncate(ShownLength(opt.text, opt.font, right - opt.rect.left()));
        if (PlainRow(opt, style)) {
            DrawPlainRow(painter, opt);
            return;
        }
    }
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
}
