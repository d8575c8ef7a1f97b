// The Qt front end's windows for the signal checks: the Frame Info box and the
// scopes window. Both only show what the window logic gives them.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>

#include "scopes/scopes.h"
#include "ui/signal_logic.h"

/// A modal box with `text` in a read-only, selectable field (Ctrl+A, Ctrl+C
/// copy it), a fixed-pitch font, and a Close button.
class TextBox : public QDialog {
  public:
    TextBox(QWidget* parent, const QString& title, const QString& text);
};

/// The scopes window: draws window_scopes_picture at one device pixel per
/// pixel, dark grey where none is drawn yet; closing it tells the window logic.
class ScopesWindow : public QWidget {
  public:
    explicit ScopesWindow(Window& win, QWidget* parent = nullptr);
    /// Paints that found a scopes picture to draw.
    int drawn_paints = 0;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    Window& win_;
};
