// The picture area of the Qt main window: paints the display buffer and turns
// drags, the wheel and the right button into the window logic's pan and probe.
#pragma once

#include <QPointF>
#include <QWidget>

#include "ui/window_logic.h"

/// Draws the display buffer at one device pixel per display pixel, its pan
/// position at the top-left corner, and fills the rest with gray. A picture larger
/// than the widget is panned by dragging with the left button and with the wheel
/// (Shift: sideways); holding the right button probes the pixel under the mouse.
class PictureWidget : public QWidget {
  public:
    explicit PictureWidget(Window& win, QWidget* parent = nullptr);
    /// Paints that wrote straight into the window's backing store, and paints
    /// that went through QPainter row by row (a pixmap, a printer, a grab).
    int direct_paints = 0;
    int painter_paints = 0;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    /// The widget's size in device pixels.
    QSize device_size() const;
    /// The device pixel under the mouse, from the widget's top-left corner.
    QPoint device_point(const QMouseEvent* event) const;
    /// Hands a paint that found no surface to the window logic, from the event
    /// loop rather than from inside the paint, once however many paints fail.
    void surface_lost();

    Window& win_;
    bool surface_lost_pending_ = false;
    /// Where the left button last dragged the picture from, in widget coordinates.
    QPointF drag_from_;
    bool dragging_ = false;
};
