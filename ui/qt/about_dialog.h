// The Qt front end's About box.
#pragma once

#include <QDialog>
#include <QRect>

/// The About box: caption "About", the keyboard help and an OK button, laid out
/// in dialog units of its 10-point Arial (or metric-compatible) font.
class AboutDialog : public QDialog {
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
    /// Pixels for a dialog-unit rectangle with this dialog's font.
    QRect dialog_rect(int x, int y, int width, int height) const;

  private:
    int base_x_ = 6;
    int base_y_ = 13;
};
