#include "ui/qt/qt_front_end.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QInputDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSizeGrip>
#include <QStyle>
#include <QStyleOption>
#include <QUrl>
#include <QWheelEvent>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ui/qt/row_copy.h"

#ifndef KARVELIN_VERSION
#define KARVELIN_VERSION "0.0"
#endif

namespace {

constexpr const char* kTitle = "Karvelin";
/// What lies outside the picture (the stock gray brush).
const QColor kOutsideGray(128, 128, 128);

}  // namespace

// ---------------------------------------------------------------- picture

PictureWidget::PictureWidget(Window& win, QWidget* parent) : QWidget(parent), win_(win) {
    // Every pixel is painted here; Qt need not clear the area first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    // The right button probes the picture; it opens no menu.
    setContextMenuPolicy(Qt::PreventContextMenu);
}

void PictureWidget::paintEvent(QPaintEvent* event) {
    const FrameStore& store = win_.viewer.store;
    const int w = store.pixels ? display_width(store) : 0;
    const int h = store.pixels ? display_height(store) : 0;
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
                copy.pixels = store.pixels;
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
                QImage line(store.pixels + static_cast<std::size_t>(h - 1 - row) *
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
    // The paint handler refreshes the three status parts in order.
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

// ---------------------------------------------------------------- status bar

PartStatusBar::PartStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
    // paintEvent fills the whole bar, so a changed status text repaints the bar
    // alone, not the main window's strip beneath it as well, on every tick.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(fontMetrics().height() + 8);
    texts_[0] = QStringLiteral("hoge");
}

int PartStatusBar::part_right(int part) const {
    const int w = width();
    switch (part) {
        case 0:
            return std::max(0, w - 250);
        case 1:
            return std::max(0, w - 110);
        default:
            return w;
    }
}

void PartStatusBar::set_part(int part, const QString& text) {
    if (part < 0 || part >= kStatusParts || texts_[part] == text) return;
    texts_[part] = text;
    update();
}

void PartStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    int left = 0;
    for (int part = 0; part < kStatusParts; ++part) {
        const int right = part_right(part);
        if (right <= left) continue;
        QRect box(left, 1, right - left - 2, height() - 2);
        if (part < kStatusParts - 1) {
            // A sunken divider at the part's right edge.
            p.setPen(palette().color(QPalette::Dark));
            p.drawLine(right - 2, 3, right - 2, height() - 4);
            p.setPen(palette().color(QPalette::Light));
            p.drawLine(right - 1, 3, right - 1, height() - 4);
        }
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(box.adjusted(4, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                   texts_[part]);
        left = right;
    }
}

// ---------------------------------------------------------------- About box

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("About"));
    setModal(true);
    // Arial 10 pt; fontconfig gives its metric-compatible substitute where Arial
    // itself is not installed, so the dialog units come out the same size.
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    setFont(font);
    const QFontMetrics fm(font);
    // Dialog base units as the system computes them: the average width of the 52
    // letters, rounded, and the font's height.
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    base_x_ = std::max(1, (letters / 26 + 1) / 2);
    base_y_ = std::max(1, fm.height());

    auto label = [&](const char* text, int x, int y, int w, int h, bool centred) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setGeometry(dialog_rect(x, y, w, h));
        l->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        return l;
    };
    label("Karvelin", 5, 6, 140, 8, true);
    label("Version " KARVELIN_VERSION, 62, 18, 70, 8, true);
    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched
    frame->setGeometry(dialog_rect(6, 30, 138, 66));
    label("Keyboard operation", 15, 34, 110, 8, false);
    label("[->]: Move forward", 30, 46, 90, 8, false);
    label("[<-]: Move backward", 30, 58, 90, 8, false);
    label("[Q]: Quit", 30, 70, 90, 8, false);
    label("Other keys: Pause", 30, 82, 90, 8, false);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(dialog_rect(55, 102, 40, 14));
    ok->setDefault(true);
    ok->setAutoDefault(true);
    // OK, Esc (reject) and the close box all simply end the dialog.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(dialog_rect(0, 0, 150, 120).size());
}

QRect AboutDialog::dialog_rect(int x, int y, int width, int height) const {
    auto px = [](int units, int base, int div) { return (units * base + div / 2) / div; };
    return QRect(px(x, base_x_, 4), px(y, base_y_, 8), px(width, base_x_, 4),
                 px(height, base_y_, 8));
}

// ---------------------------------------------------------------- main window

namespace {

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
    picture_ = new PictureWidget(win_, this);
    setCentralWidget(picture_);
    status_ = new PartStatusBar(this);
    setStatusBar(status_);

    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTimerMs);
    connect(&timer_, &QTimer::timeout, this, [this] { window_tick(win_); });

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
    timer_.stop();
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
                          {0, nullptr},
                          {kCmdExit, "Exit(&X)"}});
    add_menu("Size(&S)", {{kCmdSizeOriginal, "Original Size(&O)"},
                          {kCmdSizeHalf, "1/2 Size(&H)"},
                          {kCmdSizeQuarter, "1/4 Size(&Q)"},
                          {kCmdSizeEighth, "1/8 Size(&E)"}});
    add_menu("Color(&C)", {{kCmdConvert, "Convert to BT.709(&C)"}});
    add_menu("Help(&H)", {{kCmdAbout, "About(&A)..."}});
    actions_[kCmdGoToFrame]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    // Qt toggles a checkable item before it reports the click; the window logic,
    // called from that report, then sets the marks it wants, so exactly one Size
    // item stays checked even when the checked one is chosen again.
    for (int id : {kCmdSizeOriginal, kCmdSizeHalf, kCmdSizeQuarter, kCmdSizeEighth, kCmdConvert}) {
        QAction* a = actions_[id];
        a->setCheckable(true);
        a->setChecked(id == kCmdSizeQuarter);
    }
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
    f.start_timer = [](void* c) { main_of(c).timer().start(); };
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
    win_.viewer.error_box = error_box_hook;
    win_.viewer.error_context = &show_error;
}

QSize MainWindow::picture_device_size() const {
    const qreal dpr = picture_->devicePixelRatioF();
    return QSize(static_cast<int>(std::lround(picture_->width() * dpr)),
                 static_cast<int>(std::lround(picture_->height() * dpr)));
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
    if (layout()) layout()->activate();
    // The frame around the picture: menu bar above, status bar below.
    resize(bounded(want + (size() - picture_->size())));
    if (layout()) layout()->activate();
    // A menu bar that wrapped at the new width changes the extra height; one more
    // pass settles it.
    const QSize settled = bounded(want + (size() - picture_->size()));
    if (settled != size()) {
        resize(settled);
        if (layout()) layout()->activate();
    }
    if (available.isEmpty()) return;
    const QRect outer = frameGeometry();
    const int x =
        std::max(available.left(), std::min(outer.left(), available.right() + 1 - outer.width()));
    const int y =
        std::max(available.top(), std::min(outer.top(), available.bottom() + 1 - outer.height()));
    if (x != outer.left() || y != outer.top()) move(x, y);
}

void MainWindow::repaint_now() {
    picture_->repaint();
}

void MainWindow::open_dropped(const QString& local_path) {
    const QByteArray bytes = QFile::encodeName(local_path);
    window_drop(win_, bytes.constData());
}

int virtual_key_for(int qt_key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & Qt::AltModifier) return -1;
    switch (qt_key) {
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_F10:
            return -1;
        case Qt::Key_Right:
            return kKeyRight;
        case Qt::Key_Left:
            return kKeyLeft;
        case Qt::Key_PageUp:
            return kKeyPageUp;
        case Qt::Key_PageDown:
            return kKeyPageDown;
        case Qt::Key_Home:
            return kKeyHome;
        case Qt::Key_End:
            return kKeyEnd;
        case Qt::Key_Comma:
            return kKeyComma;
        case Qt::Key_Period:
            return kKeyPeriod;
        case Qt::Key_Shift:
            return 0x10;
        case Qt::Key_Control:
            return 0x11;
        default:
            break;
    }
    // Letters and digits have the same codes in both worlds; everything else is
    // just "another key" and pauses.
    if ((qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) ||
        (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9))
        return qt_key;
    return 0xFF;
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
    open_dropped(path);
}

QByteArray command_line_path(int argc, char** argv) {
    QByteArray path;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) path += ' ';
        path += argv[i];
    }
    return path;
}
