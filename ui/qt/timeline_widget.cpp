#include "ui/qt/timeline_widget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "ui/playback_logic.h"

TimelineWidget::TimelineWidget(Window& win, QWidget* parent) : QWidget(parent), win_(win) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Logical pixels: the strip's device height is what the window logic draws.
    setFixedHeight(static_cast<int>(std::ceil(kTimelineHeight / devicePixelRatioF())));
}

int TimelineWidget::device_width() const {
    return static_cast<int>(std::lround(width() * devicePixelRatioF()));
}

int TimelineWidget::device_x(const QMouseEvent* event) const {
    return static_cast<int>(std::floor(event->position().x() * devicePixelRatioF()));
}

void TimelineWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const ShownPicture strip = window_timeline_picture(win_, device_width());
    if (!strip.pixels) {
        painter.fillRect(rect(), QColor(0x30, 0x30, 0x30));
        return;
    }
    // Row 0 is the bottom line: mirrored into a top-down image.
    QImage image(strip.pixels, strip.width, strip.height, static_cast<qsizetype>(strip.width) * 4,
                 QImage::Format_RGB32);
    QImage shown = image.mirrored(false, true);
    shown.setDevicePixelRatio(devicePixelRatioF());
    painter.drawImage(QPointF(0, 0), shown);
}

void TimelineWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = true;
    window_timeline_press(win_, device_x(event), device_width());
    update();
}

void TimelineWidget::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_ || !(event->buttons() & Qt::LeftButton)) return;
    window_timeline_drag(win_, device_x(event), device_width());
    update();
}

void TimelineWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = false;
}
