#include "ui/qt/status_bar.h"

#include <QPainter>
#include <algorithm>

PartStatusBar::PartStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
    // paintEvent fills the whole bar, so a changed status text repaints the bar
    // alone, not the main window's strip beneath it as well, on every tick.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(row_height());
    texts_[0] = QStringLiteral("hoge");
}

int PartStatusBar::row_height() const {
    return fontMetrics().height() + 8;
}

void PartStatusBar::set_line(const QString& text) {
    if (text == line_) return;
    const bool rows_change = text.isEmpty() != line_.isEmpty();
    line_ = text;
    if (rows_change) {
        const int rows = line_.isEmpty() ? 1 : 2;
        setMinimumHeight(rows * row_height());
        setMaximumHeight(line_.isEmpty() ? QWIDGETSIZE_MAX : rows * row_height());
    }
    update();
}

int PartStatusBar::part_right(int part) const {
    if (part < 0 || part >= kStatusParts) return width();
    // The fourth part is as wide as its text needs, and takes no room when empty.
    const int info = texts_[kStatusParts - 1].isEmpty()
                         ? 0
                         : fontMetrics().horizontalAdvance(texts_[kStatusParts - 1]) + 12;
    int edges[kStatusParts];
    status_part_edges(width(), info, edges);
    return std::max(0, edges[part]);
}

void PartStatusBar::set_part(int part, const QString& text) {
    if (part < 0 || part >= kStatusParts || texts_[part] == text) return;
    texts_[part] = text;
    update();
}

void PartStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    // With a second row the parts take the upper one.
    const int parts_height = line_.isEmpty() ? height() : row_height();
    if (!line_.isEmpty()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(4, parts_height, width() - 8, height() - parts_height),
                   Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, line_);
    }
    int left = 0;
    for (int part = 0; part < kStatusParts; ++part) {
        const int right = part_right(part);
        if (right <= left) continue;
        QRect box(left, 1, right - left - 2, parts_height - 2);
        if (part < kStatusParts - 1 && right < width()) {
            // A sunken divider at the part's right edge.
            p.setPen(palette().color(QPalette::Dark));
            p.drawLine(right - 2, 3, right - 2, parts_height - 4);
            p.setPen(palette().color(QPalette::Light));
            p.drawLine(right - 1, 3, right - 1, parts_height - 4);
        }
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(box.adjusted(4, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                   texts_[part]);
        left = right;
    }
}
