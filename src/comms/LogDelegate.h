// Draws the rows of the frame log. A row is one line of text that often runs past the view's
// right edge (the bytes of a long answer). The standard item drawing lays the line's text out
// five or six times per row (for each sub-rectangle, the elision, the drawing) and shapes all of
// it; at a refresh twice a second with every row in view new, that is most of what the open
// window costs. This delegate hands on only the head of the line that can reach the visible part
// of the row, with characters to spare, and under the Fusion style draws a plain row (text only,
// not being edited, without focus) itself with one layout, as that style's item drawing does;
// other rows and styles go through the style. The pixels drawn, the elision at the item's edge
// and the size the view is given are those of the whole line.
#pragma once

#include <QStyledItemDelegate>

class TLogDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    // The characters of `text` that can show within `width` pixels in `font`: all of them
    // unless the text is plain ASCII, whose glyphs are no narrower than the font's narrowest.
    qsizetype ShownLength(const QString& text, const QFont& font, int width) const;
    void DrawPlainRow(QPainter* painter, const QStyleOptionViewItem& opt) const;

    // The font of the last row drawn and its narrowest ASCII advance (one font per view).
    mutable QFont FFont;
    mutable qreal FNarrowest = 0;
};
