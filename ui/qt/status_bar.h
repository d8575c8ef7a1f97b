// The Qt main window's status bar.
#pragma once

#include <QStatusBar>
#include <QString>

#include "ui/window_logic.h"

/// A status bar with three parts whose right edges are w - 250, w - 110 and the
/// far right, and a size grip; a fourth part, as wide as its text, takes the far
/// right when it has one (status_part_edges), and a second row under them
/// while a comparison has something to say.
class PartStatusBar : public QStatusBar {
  public:
    explicit PartStatusBar(QWidget* parent = nullptr);
    /// Sets the text of part `part` (0..kStatusParts - 1) and redraws it when it changed.
    void set_part(int part, const QString& text);
    const QString& part_text(int part) const { return texts_[part]; }
    /// Right edge of part `part` in pixels from the bar's left edge.
    int part_right(int part) const;
    /// A second row under the parts, as wide as the bar (the comparison's
    /// metrics); an empty text removes it and the bar is one row high again.
    void set_line(const QString& text);
    const QString& line() const { return line_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    /// Height of one row of parts.
    int row_height() const;

    QString texts_[kStatusParts];
    QString line_;
};
