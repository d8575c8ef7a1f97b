#include "ui/qt/picture_widget.h"

#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>

#include "ui/qt/row_copy.h"

namespace {

/// What lies outside the picture (the stock gray brush).
const QColor kOutsideGray(128, 128, 128);

}  // namespace

PictureWidget::PictureWidget(Window& win, QWidget* parent) : QWidget(parent), win_(win) {
    // Every pixel is painted here; Qt need not clear the area first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    // The right button probes the picture; it opens no menu.
    setContextMenuPolicy(Qt::PreventContextMenu);
}

void PictureWidget::paintEvent(QPaintEvent* event) {
    const ShownPicture shown = window_picture(win_);
    const int w = shown.pixels ? shown.width : 0;
    const int h = shown.pixels ? shown.height : 0;
    const qreal dpr = devicePixelRatioF();
    QPainter painter(this);
    if (!painter.isActive()) {
        // The window has no surface to paint on: the display server could not
        // back a window this large (out of memory for its shared image). Nothing
        // shows, and Qt would say so on every paint; a smaller picture may show.
        surface_lost();
        return;
    }

    // The pan position is the display pixel at the widget's top-left corner.
    const int pan_x = win_.pan_x;
    const int pan_y = win_.pan_y;
    // The picture's extent in this widget's logical coordinates.
    const QRectF picture_rect(-pan_x / dpr, -pan_y / dpr, w / dpr, h / dpr);
    bool drawn = false;
    if (w > 0 && h > 0) {
        // Fast path: the widget paints into the window's 32-bit backing store;
        // write the rows straight into it, flipped, with no intermediate image.
        QPaintEngine* engine = painter.paintEngine();
        QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
        const QTransform t = painter.deviceTransform();
        if (device && device->devType() == QInternal::Image && t.type() <= QTransform::TxScale &&
            std::abs(t.m11() - dpr) < 1e-6 && std::abs(t.m22() - dpr) < 1e-6) {
            QImage* target = static_cast<QImage*>(device);
            const QImage::Format f = target->format();
            if (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32_Premultiplied ||
                f == QImage::Format_ARGB32) {
                const QPoint origin(static_cast<int>(std::lround(t.dx())),
                                    static_cast<int>(std::lround(t.dy())));
                const QRect widget_device(origin,
                                          QSize(static_cast<int>(std::ceil(width() * dpr)),
                                                static_cast<int>(std::ceil(height() * dpr))));
                FlipCopy copy;
                copy.pixels = shown.pixels;
                copy.width = w;
                copy.height = h;
                copy.target = target->bits();
                copy.target_stride = target->bytesPerLine();
                copy.target_width = target->width();
                copy.target_height = target->height();
                copy.at_x = origin.x() - pan_x;
                copy.at_y = origin.y() - pan_y;
                copy.clip_x = widget_device.x();
                copy.clip_y = widget_device.y();
                copy.clip_width = widget_device.width();
                copy.clip_height = widget_device.height();
                copy_rows_flipped(copy);
                drawn = true;
                ++direct_paints;
            }
        }
        if (!drawn) {
            // Any other device: one image per row, each a plain blit at device scale.
            for (int row = pan_y; row < h; ++row) {
                if ((row - pan_y) / dpr > event->rect().bottom() + 1) break;
                QImage line(shown.pixels + static_cast<std::size_t>(h - 1 - row) *
                                               static_cast<std::size_t>(w) * 4,
                            w, 1, static_cast<qsizetype>(w) * 4, QImage::Format_RGB32);
                line.setDevicePixelRatio(dpr);
                painter.drawImage(QPointF(-pan_x / dpr, (row - pan_y) / dpr), line);
            }
            ++painter_paints;
        }
    }
    // Gray to the right of and below the picture.
    const QRectF all(rect());
    if (picture_rect.right() < all.right())
        painter.fillRect(
            QRectF(picture_rect.right(), 0, all.right() - picture_rect.right() + 1, all.height()),
            kOutsideGray);
    if (picture_rect.bottom() < all.bottom())
        painter.fillRect(QRectF(0, picture_rect.bottom(), picture_rect.right(),
                                all.bottom() - picture_rect.bottom() + 1),
                         kOutsideGray);
    painter.end();
    // The paint handler refreshes the status parts in order.
    window_paint_status(win_);
}

QSize PictureWidget::device_size() const {
    const qreal dpr = devicePixelRatioF();
    return QSize(static_cast<int>(std::lround(width() * dpr)),
                 static_cast<int>(std::lround(height() * dpr)));
}

void PictureWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize area = device_size();
    window_view_resized(win_, area.width(), area.height());
}

QPoint PictureWidget::device_point(const QMouseEvent* event) const {
    const QPointF at = event->position() * devicePixelRatioF();
    return QPoint(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
}

void PictureWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        drag_from_ = event->position();
        dragging_ = true;
        const QPoint at = device_point(event);
        window_press(win_, at.x(), at.y());
    } else if (event->button() == Qt::RightButton) {
        const QPoint at = device_point(event);
        window_probe(win_, at.x(), at.y());
    }
    event->accept();
}

void PictureWidget::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        // Whole device pixels only; the remainder waits for the next move.
        const qreal dpr = devicePixelRatioF();
        const QPointF moved = (event->position() - drag_from_) * dpr;
        const int dx = static_cast<int>(std::lround(moved.x()));
        const int dy = static_cast<int>(std::lround(moved.y()));
        if (dx != 0 || dy != 0) {
            drag_from_ += QPointF(dx, dy) / dpr;
            window_drag(win_, dx, dy);
        }
    }
    if (event->buttons() & Qt::RightButton) {
        const QPoint at = device_point(event);
        window_probe(win_, at.x(), at.y());
    }
    event->accept();
}

void PictureWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
    if (event->button() == Qt::RightButton) window_probe_end(win_);
    event->accept();
}

void PictureWidget::wheelEvent(QWheelEvent* event) {
    const QPoint angle = event->angleDelta();
    // Some systems turn Shift+wheel into a sideways wheel themselves.
    const bool sideways = (event->modifiers() & Qt::ShiftModifier) || angle.y() == 0;
    window_wheel(win_, angle.y() != 0 ? angle.y() : angle.x(), sideways);
    event->accept();
}

void PictureWidget::surface_lost() {
    if (surface_lost_pending_) return;
    surface_lost_pending_ = true;
    QTimer::singleShot(0, this, [this] {
        surface_lost_pending_ = false;
        // Inside a box the window logic cannot act yet: ask again a little later.
        if (!window_surface_lost(win_)) {
            surface_lost_pending_ = true;
            QTimer::singleShot(100, this, [this] {
                surface_lost_pending_ = false;
                surface_lost();
            });
        }
    });
}
