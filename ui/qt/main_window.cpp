#include "ui/qt/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ui/playback_logic.h"
#include "ui/qt/about_dialog.h"
#include "ui/qt/picture_widget.h"
#include "ui/qt/qt_support.h"
#include "ui/qt/signal_windows.h"
#include "ui/qt/status_bar.h"
#include "ui/qt/timeline_widget.h"

namespace {

constexpr const char* kTitle = "Karvelin";

MainWindow& main_of(void* context) {
    return *static_cast<MainWindow*>(context);
}

void error_box_hook(void* context, const char* message, const char* caption) {
    auto* show = static_cast<std::function<void(const QString&, const QString&)>*>(context);
    (*show)(QString::fromLocal8Bit(message), QString::fromLocal8Bit(caption));
}

void plain_error_box(const QString& message, const QString& caption) {
    // Modal, no owner, the message and a single OK button.
    QMessageBox box(QMessageBox::NoIcon, caption, message, QMessageBox::Ok);
    box.exec();
}

std::function<void(const QString&, const QString&)> g_plain_error_box = plain_error_box;

}  // namespace

void install_error_boxes(Window& win) {
    win.viewer.error_box = error_box_hook;
    win.viewer.error_context = &g_plain_error_box;
}

MainWindow::MainWindow(Window& win) : win_(win) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    build_menus();
    // The picture above the timeline strip; fit_picture counts the strip in
    // the frame around the picture, as it does the menu and status bars.
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    picture_ = new PictureWidget(win_, central);
    timeline_ = new TimelineWidget(win_, central);
    column->addWidget(picture_, 1);
    column->addWidget(timeline_, 0);
    setCentralWidget(central);
    status_ = new PartStatusBar(this);
    setStatusBar(status_);

    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    timer_.setInterval(kTimerMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        window_tick(win_);
        // Still playing (the tick may have run into a box that paused): the
        // next frame's time.
        if (win_.timer_running) arm_timer();
    });
    scopes_poll_.setSingleShot(true);
    scopes_poll_.setTimerType(Qt::PreciseTimer);
    connect(&scopes_poll_, &QTimer::timeout, this, [this] { window_scopes_poll(win_); });

    ask_open_file = [this](const QString& start) {
        QFileDialog::Options options = QFileDialog::HideNameFilterDetails;
        // The visible names are the familiar ones; the patterns behind them
        // are what the file systems here understand.
        const QString filters = QStringLiteral(
            "DPX/RGB Files (*.dpx, *.[rgb]) (*.dpx *.r *.g *.b);;All Files (*.*) (*)");
        return QFileDialog::getOpenFileName(this, QString(), start, filters, nullptr, options);
    };
    show_error = plain_error_box;
    show_about = [this] {
        AboutDialog about(this);
        about.exec();
    };
    show_text = [this](const QString& title, const QString& text) {
        TextBox box(this, title, text);
        box.exec();
    };
    ask_frame = [this](const QString& prompt, const QString& start) -> std::optional<QString> {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Go to Frame"), prompt,
                                                   QLineEdit::Normal, start, &ok);
        if (!ok) return std::nullopt;
        return text;
    };
    install_front_end();
}

MainWindow::~MainWindow() {
    // No wake may reach this window once it is gone.
    window_stop_background(win_);
    timer_.stop();
    scopes_poll_.stop();
    install_error_boxes(win_);
}

void MainWindow::build_menus() {
    struct Item {
        int id;  // 0 = separator
        const char* text;
    };
    auto add_menu = [this](const char* title, std::initializer_list<Item> items) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(title));
        for (const Item& item : items) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            QAction* a = menu->addAction(QString::fromLatin1(item.text));
            a->setData(item.id);
            const int id = item.id;
            connect(a, &QAction::triggered, this, [this, id] { window_command(win_, id); });
            actions_[id] = a;
        }
    };
    add_menu("File(&F)", {{kCmdOpen, "Open(&O)..."},
                          {kCmdGoToFrame, "Go to Frame..."},
                          {kCmdFrameInfo, "Frame Info..."},
                          {kCmdCompareWith, "Compare With..."},
                          {kCmdCloseCompare, "Close Compare"},
                          {0, nullptr},
                          {kCmdExit, "Exit(&X)"}});
    add_menu("Size(&S)", {{kCmdSizeOriginal, "Original Size(&O)"},
                          {kCmdSizeHalf, "1/2 Size(&H)"},
                          {kCmdSizeQuarter, "1/4 Size(&Q)"},
                          {kCmdSizeEighth, "1/8 Size(&E)"}});
    add_menu("Color(&C)", {{kCmdConvert, "Convert to BT.709(&C)"},
                           {kCmdGamutWarning, "Gamut Warning"},
                           {kCmdRangeWarning, "Range Warning"}});
    add_menu("Playback", {{kCmdRateTick, "Tick 16 ms"},
                          {kCmdRate23976, "23.976"},
                          {kCmdRate24, "24"},
                          {kCmdRate25, "25"},
                          {kCmdRate2997, "29.97"},
                          {kCmdRate30, "30"},
                          {kCmdRate48, "48"},
                          {kCmdRate50, "50"},
                          {kCmdRate5994, "59.94"},
                          {kCmdRate60, "60"},
                          {kCmdRate120, "120"},
                          {kCmdRateFromFile, "From File"},
                          {0, nullptr},
                          {kCmdRealTime, "Real Time"},
                          {kCmdEveryFrame, "Every Frame"}});
    add_menu("Compare", {{kCmdShowA, "Show A"},
                         {kCmdShowB, "Show B"},
                         {kCmdToggleAB, "Toggle A/B"},
                         {kCmdWipe, "Wipe"},
                         {kCmdSideBySide, "Side by Side"},
                         {kCmdDifference, "Difference"},
                         {kCmdSignedDifference, "Signed Difference"},
                         {0, nullptr},
                         {kCmdGainUp, "Difference Gain x2"},
                         {kCmdGainDown, "Difference Gain /2"},
                         {0, nullptr},
                         {kCmdOffsetLater, "B One Frame Later"},
                         {kCmdOffsetEarlier, "B One Frame Earlier"},
                         {kCmdOffsetZero, "No Offset"}});
    add_menu("View(&V)", {{kCmdScopes, "Scopes"}});
    add_menu("Help(&H)", {{kCmdAbout, "About(&A)..."}});
    actions_[kCmdGoToFrame]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    actions_[kCmdFrameInfo]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    // The comparison's keys are shortcuts, so that none of them pauses playback.
    // They work while a comparison is open: until then their items are
    // disabled, and the keys pause like any other.
    const struct {
        int id;
        QKeyCombination key;
    } compare_keys[] = {{kCmdShowA, Qt::Key_A},
                        {kCmdShowB, Qt::Key_B},
                        {kCmdToggleAB, Qt::Key_T},
                        {kCmdWipe, Qt::Key_W},
                        {kCmdSideBySide, Qt::Key_S},
                        {kCmdDifference, Qt::Key_D},
                        {kCmdSignedDifference, Qt::SHIFT | Qt::Key_D},
                        {kCmdGainUp, Qt::Key_G},
                        {kCmdGainDown, Qt::SHIFT | Qt::Key_G},
                        {kCmdOffsetLater, Qt::Key_BracketRight},
                        {kCmdOffsetEarlier, Qt::Key_BracketLeft},
                        {kCmdOffsetZero, Qt::Key_0}};
    for (const auto& k : compare_keys) actions_[k.id]->setShortcut(QKeySequence(k.key));
    for (int id : {kCmdCloseCompare, kCmdShowA, kCmdShowB, kCmdToggleAB, kCmdWipe, kCmdSideBySide,
                   kCmdDifference, kCmdSignedDifference, kCmdGainUp, kCmdGainDown, kCmdOffsetLater,
                   kCmdOffsetEarlier, kCmdOffsetZero})
        actions_[id]->setEnabled(false);
    // Qt toggles a checkable item before it reports the click; the window logic,
    // called from that report, then sets the marks it wants, so exactly one Size
    // item stays checked even when the checked one is chosen again.
    for (int id : {kCmdSizeOriginal, kCmdSizeHalf, kCmdSizeQuarter, kCmdSizeEighth, kCmdConvert,
                   kCmdGamutWarning, kCmdRangeWarning, kCmdScopes, kCmdShowA, kCmdShowB, kCmdWipe,
                   kCmdSideBySide, kCmdDifference, kCmdSignedDifference}) {
        QAction* a = actions_[id];
        a->setCheckable(true);
        a->setChecked(id == kCmdSizeQuarter);
    }

    // Two radio groups; the window logic sets the marks (none of the rates is
    // checked when --rate names a rate the menu does not list).
    auto* rates = new QActionGroup(this);
    auto* modes = new QActionGroup(this);
    for (QActionGroup* g : {rates, modes})
        g->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int id = kCmdRateTick; id <= kCmdRateFromFile; ++id) {
        actions_[id]->setCheckable(true);
        rates->addAction(actions_[id]);
    }
    for (int id : {kCmdRealTime, kCmdEveryFrame}) {
        actions_[id]->setCheckable(true);
        modes->addAction(actions_[id]);
    }
    actions_[kCmdRateTick]->setChecked(true);
    actions_[kCmdRealTime]->setChecked(true);
}

void MainWindow::arm_timer() {
    const std::int64_t delay_us = window_tick_delay_us(win_);
    timer_.start(static_cast<int>(std::min<std::int64_t>((delay_us + 999) / 1000, INT_MAX)));
}

QAction* MainWindow::action(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::install_front_end() {
    FrontEnd& f = win_.front;
    f.context = this;
    f.fit_picture = [](void* c, int w, int h) { main_of(c).fit_picture(w, h); };
    f.repaint = [](void* c) { main_of(c).repaint_now(); };
    f.set_status = [](void* c, int part, const char* text) {
        main_of(c).status()->set_part(part, QString::fromLocal8Bit(text));
    };
    f.start_timer = [](void* c) { main_of(c).arm_timer(); };
    f.stop_timer = [](void* c) { main_of(c).timer().stop(); };
    f.quit = [](void* c) {
        main_of(c).quit_requested = true;
        QCoreApplication::exit(0);
    };
    f.close_window = [](void* c) { main_of(c).close(); };
    f.ask_open_file = [](void* c, char* path, int capacity) {
        MainWindow& m = main_of(c);
        const QString chosen = m.ask_open_file(QFile::decodeName(QByteArray(path)));
        if (chosen.isEmpty()) return false;
        const QByteArray bytes = QFile::encodeName(chosen);
        if (bytes.size() >= capacity) {
            // Too long for the current path: refused rather than cut short.
            ::show_error(m.window_state().viewer, kMsgCantOpen);
            return false;
        }
        std::memcpy(path, bytes.constData(), static_cast<std::size_t>(bytes.size()) + 1);
        return true;
    };
    f.show_about = [](void* c) { main_of(c).show_about(); };
    f.ask_frame = [](void* c, const char* prompt, char* text, int capacity) {
        const std::optional<QString> typed =
            main_of(c).ask_frame(QString::fromLatin1(prompt), QString::fromLatin1(text));
        if (!typed) return false;
        // The window logic takes digits only and refuses anything else; a text
        // too long for it is refused whole, not cut into another number.
        const QByteArray bytes = typed->toUtf8();
        std::snprintf(text, static_cast<std::size_t>(capacity), "%s",
                      bytes.size() < capacity ? bytes.constData() : "");
        return true;
    };
    f.check_menu = [](void* c, int id, bool on) {
        if (QAction* a = main_of(c).action(id)) a->setChecked(on);
    };
    f.beep = [](void*) { QApplication::beep(); };
    f.show_text = [](void* c, const char* title, const char* text) {
        main_of(c).show_text(QString::fromLatin1(title), QString::fromLocal8Bit(text));
    };
    f.show_scopes = [](void* c, bool shown) { main_of(c).show_scopes(shown); };
    f.repaint_scopes = [](void* c) {
        if (ScopesWindow* s = main_of(c).scopes()) s->repaint();
    };
    f.start_scopes_poll = [](void* c, int ms) { main_of(c).scopes_poll().start(ms); };
    f.enable_menu = [](void* c, int id, bool on) {
        if (QAction* a = main_of(c).action(id)) a->setEnabled(on);
    };
    f.set_compare_line = [](void* c, const char* text) {
        main_of(c).status()->set_line(QString::fromLocal8Bit(text));
    };
    // From the metrics worker's thread: a queued call, run by this window's
    // event loop (dropped if the window is gone by then).
    f.wake = [](void* c) {
        MainWindow* m = &main_of(c);
        QMetaObject::invokeMethod(
            m, [m] { window_compare_ready(m->window_state()); }, Qt::QueuedConnection);
    };
    win_.viewer.error_box = error_box_hook;
    win_.viewer.error_context = &show_error;
}

QSize MainWindow::picture_device_size() const {
    const qreal dpr = picture_->devicePixelRatioF();
    return QSize(static_cast<int>(std::lround(picture_->width() * dpr)),
                 static_cast<int>(std::lround(picture_->height() * dpr)));
}

void MainWindow::settle_layouts() {
    // The window's own layout places the central widget; the column in it
    // places the picture and the strip only when it is activated too.
    if (layout()) layout()->activate();
    if (centralWidget() && centralWidget()->layout()) centralWidget()->layout()->activate();
}

void MainWindow::fit_picture(int width, int height) {
    const qreal dpr = devicePixelRatioF();
    // Logical size whose device size covers the display exactly (or by the
    // fraction of a pixel a non-integer scale factor forces).
    const QSize want(static_cast<int>(std::ceil(width / dpr)),
                     static_cast<int>(std::ceil(height / dpr)));
    // The window with its frame stays inside the screen's available area, so the
    // status bar is always on screen; a larger picture is panned.
    QRect available;
    if (QScreen* s = screen()) available = s->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    auto bounded = [&](QSize wanted) {
        return available.isEmpty() ? wanted : wanted.boundedTo(available.size() - frame);
    };
    settle_layouts();
    // The frame around the picture: menu bar above, the timeline strip and
    // the status bar below. The strip's height is its own fixed one, whether
    // or not the column has placed it yet.
    auto around = [this] {
        return size() - centralWidget()->size() + QSize(0, timeline_->height());
    };
    resize(bounded(want + around()));
    settle_layouts();
    // A menu bar that wrapped at the new width changes the extra height; one more
    // pass settles it.
    const QSize settled = bounded(want + around());
    if (settled != size()) {
        resize(settled);
        settle_layouts();
    }
    if (available.isEmpty()) return;
    const QRect outer = frameGeometry();
    const int x =
        std::max(available.left(), std::min(outer.left(), available.right() + 1 - outer.width()));
    const int y =
        std::max(available.top(), std::min(outer.top(), available.bottom() + 1 - outer.height()));
    if (x != outer.left() || y != outer.top()) move(x, y);
}

void MainWindow::show_scopes(bool shown) {
    if (!shown) {
        if (scopes_) scopes_->hide();
        return;
    }
    if (!scopes_) {
        scopes_ = new ScopesWindow(win_, this);
        // Beside the main window, on its right.
        scopes_->move(frameGeometry().right() + 8, frameGeometry().top());
    }
    scopes_->show();
}

void MainWindow::repaint_now() {
    picture_->repaint();
    // The playhead and the cached frames follow at the next paint of the strip.
    timeline_->update();
}

void MainWindow::open_dropped(const QString& local_path, bool compare) {
    const QByteArray bytes = QFile::encodeName(local_path);
    if (compare)
        window_compare_drop(win_, bytes.constData());
    else
        window_drop(win_, bytes.constData());
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const int vk = virtual_key_for(event->key(), event->modifiers());
    if (vk < 0) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    // Auto-repeated presses count like the system's repeated key-down messages.
    window_key(win_, vk);
    event->accept();
}

namespace {

QString first_local_file(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return QString();
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return QString();
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!first_local_file(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QString path = first_local_file(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    // Dropped with Ctrl held: the sequence to compare with.
    open_dropped(path, (event->modifiers() & Qt::ControlModifier) != 0);
}
