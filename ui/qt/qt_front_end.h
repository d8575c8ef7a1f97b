// The Qt 6 Widgets front end: the main window with its menu bar, picture area
// and three-part status bar, the About box and the error boxes. All decisions
// are the window logic's; these classes only turn Qt events into its calls and
// carry out what it asks.
#pragma once

#include <QDialog>
#include <QMainWindow>
#include <QStatusBar>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>

#include "ui/window_logic.h"

class QAction;

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

/// A status bar with three parts whose right edges are w - 250, w - 110 and the
/// far right, and a size grip.
class PartStatusBar : public QStatusBar {
  public:
    explicit PartStatusBar(QWidget* parent = nullptr);
    /// Sets the text of part `part` (0..2) and redraws it when it changed.
    void set_part(int part, const QString& text);
    const QString& part_text(int part) const { return texts_[part]; }
    /// Right edge of part `part` in pixels from the bar's left edge.
    int part_right(int part) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString texts_[kStatusParts];
};

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

/// The main window. Owns nothing of the viewer's state: `win` belongs to the
/// caller, which runs window_startup before and window_shutdown after.
class MainWindow : public QMainWindow {
  public:
    explicit MainWindow(Window& win);
    ~MainWindow() override;

    Window& window_state() { return win_; }
    PictureWidget* picture() const { return picture_; }
    PartStatusBar* status() const { return status_; }
    QTimer& timer() { return timer_; }
    /// The menu action with command id `id`, or null.
    QAction* action(int id) const;
    /// The picture area's size in device pixels.
    QSize picture_device_size() const;

    /// Replaceable for tests: the Open dialog (returns the chosen path, or empty
    /// on Cancel), the error box and the About box.
    std::function<QString(const QString& start)> ask_open_file;
    /// The Go to Frame dialog: the text typed, or nothing on Cancel.
    std::function<std::optional<QString>(const QString& prompt, const QString& start)> ask_frame;
    std::function<void(const QString& message, const QString& caption)> show_error;
    std::function<void()> show_about;
    /// Set when Q asked the program to end.
    bool quit_requested = false;

    /// Resizes the window so that the picture area is width x height device
    /// pixels, or as much of it as the screen's available area holds with the
    /// menu bar, the status bar and the window frame; keeps the window on screen.
    void fit_picture(int width, int height);
    /// Paints the picture (and with it the status parts) now.
    void repaint_now();
    /// Opens a local file as a drop would.
    void open_dropped(const QString& local_path);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void build_menus();
    void install_front_end();

    Window& win_;
    PictureWidget* picture_ = nullptr;
    PartStatusBar* status_ = nullptr;
    QTimer timer_;
    std::map<int, QAction*> actions_;
};

/// The key code the window logic understands for a Qt key press, or -1 when the
/// key belongs to the menus (Alt combinations, Alt alone and F10).
int virtual_key_for(int qt_key, Qt::KeyboardModifiers modifiers);

/// Joins the arguments after the program name with single spaces: the shell split
/// an unquoted name with spaces into words, and the viewer takes one path.
QByteArray command_line_path(int argc, char** argv);

/// Makes the error boxes of the viewer modal Qt message boxes.
void install_error_boxes(Window& win);
