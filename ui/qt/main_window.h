// The Qt main window: the menu bar, the picture area and the status bar, and
// the hooks through which the window logic drives them.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>

#include "ui/window_logic.h"

class PartStatusBar;
class PictureWidget;
class QAction;
class ScopesWindow;
class TimelineWidget;

/// The main window. Owns nothing of the viewer's state: `win` belongs to the
/// caller, which runs window_startup before and window_shutdown after.
class MainWindow : public QMainWindow {
  public:
    explicit MainWindow(Window& win);
    ~MainWindow() override;

    Window& window_state() { return win_; }
    PictureWidget* picture() const { return picture_; }
    /// The timeline strip under the picture.
    TimelineWidget* timeline() const { return timeline_; }
    PartStatusBar* status() const { return status_; }
    /// The one-shot playback timer, armed with window_tick_delay_us.
    QTimer& timer() { return timer_; }
    /// Arms the playback timer for the next frame of the run.
    void arm_timer();
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
    /// The Frame Info box: a title and the listing.
    std::function<void(const QString& title, const QString& text)> show_text;
    /// The scopes window, made when first shown (null before).
    ScopesWindow* scopes() const { return scopes_; }
    /// The one-shot timer of the window logic's scopes poll.
    QTimer& scopes_poll() { return scopes_poll_; }
    /// Opens the scopes window beside this one, or hides it.
    void show_scopes(bool shown);
    /// Set when Q asked the program to end.
    bool quit_requested = false;

    /// Resizes the window so that the picture area is width x height device
    /// pixels, or as much of it as the screen's available area holds with the
    /// menu bar, the status bar and the window frame; keeps the window on screen.
    void fit_picture(int width, int height);
    /// Paints the picture (and with it the status parts) now.
    void repaint_now();
    /// Opens a local file as a drop would; with `compare`, as B (a drop with Ctrl held).
    void open_dropped(const QString& local_path, bool compare = false);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void build_menus();
    void install_front_end();
    /// Brings every widget's geometry up to date with the window's size.
    void settle_layouts();

    Window& win_;
    PictureWidget* picture_ = nullptr;
    TimelineWidget* timeline_ = nullptr;
    PartStatusBar* status_ = nullptr;
    QTimer timer_;
    QTimer scopes_poll_;
    ScopesWindow* scopes_ = nullptr;
    std::map<int, QAction*> actions_;
};

/// Makes the error boxes of the viewer modal Qt message boxes.
void install_error_boxes(Window& win);
