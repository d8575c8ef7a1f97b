// The timeline strip under the picture: draws the window logic's timeline
// picture and turns presses and drags with the left button into its calls.
#pragma once

#include <QWidget>

#include "ui/window_logic.h"

/// kTimelineHeight device pixels tall, as wide as the picture area.
class TimelineWidget : public QWidget {
  public:
    explicit TimelineWidget(Window& win, QWidget* parent = nullptr);
    /// The strip's width in device pixels, as the window logic counts it.
    int device_width() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int device_x(const QMouseEvent* event) const;

    Window& win_;
    bool pressed_ = false;
};
