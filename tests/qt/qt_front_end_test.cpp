// The Qt front end on the offscreen platform: menus, status bar, picture area,
// keys, drops, the About and Frame Info boxes and the scopes window.
#include "ui/qt/qt_front_end.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QSizeGrip>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <vector>

#include "support/test_files.h"
#include "tools/frame_files.h"
#include "window_fixture.h"

namespace {

QRgb expected(int frame, int quadrant) {
    int c[3];
    quadrant_colour(frame, quadrant, c);
    return qRgb(c[0], c[1], c[2]);
}

}  // namespace

class QtFrontEndTest : public QObject {
    Q_OBJECT

  private:
    /// A fresh viewer and window per test, with error boxes recorded instead of shown.
    struct Fixture {
        Window win;
        MainWindow* main = nullptr;
        QStringList errors;
        explicit Fixture(const QByteArray& command_line = QByteArray()) {
            install_error_boxes(win);
            win.viewer.error_box = [](void* c, const char* m, const char*) {
                static_cast<QStringList*>(c)->append(QString::fromLatin1(m));
            };
            win.viewer.error_context = &errors;
            if (window_startup(win, command_line.isEmpty() ? nullptr : command_line.constData()) !=
                0)
                return;
            main = new MainWindow(win);
            main->show_error = [this](const QString& m, const QString&) { errors.append(m); };
            window_created(win);
            main->show();
            if (!QTest::qWaitForWindowExposed(main)) qWarning("window not exposed");
        }
        ~Fixture() {
            delete main;
            window_shutdown(win);
        }
    };

    QTemporaryDir dir_;

  private slots:
    void title_menus_ids_and_initial_checks() {
        Fixture f;
        QCOMPARE(f.main->windowTitle(), QStringLiteral("Karvelin"));
        const QList<QAction*> menus = f.main->menuBar()->actions();
        QStringList titles;
        for (QAction* m : menus) titles << m->text();
        QCOMPARE(titles, (QStringList{"File(&F)", "Size(&S)", "Color(&C)", "Playback", "Compare",
                                      "View(&V)", "Help(&H)"}));

        QStringList items;
        for (QAction* m : menus) {
            for (QAction* a : m->menu()->actions()) {
                items << (a->isSeparator() ? QStringLiteral("-")
                                           : QStringLiteral("%1 %2%3")
                                                 .arg(a->data().toInt())
                                                 .arg(a->text())
                                                 .arg(a->isChecked() ? " *" : ""));
            }
        }
        QCOMPARE(items, (QStringList{"101 Open(&O)...",
                                     "104 Go to Frame...",
                                     "107 Frame Info...",
                                     "105 Compare With...",
                                     "106 Close Compare",
                                     "-",
                                     "102 Exit(&X)",
                                     "201 Original Size(&O)",
                                     "202 1/2 Size(&H)",
                                     "203 1/4 Size(&Q) *",
                                     "204 1/8 Size(&E)",
                                     "103 Convert to BT.709(&C)",
                                     "110 Gamut Warning",
                                     "111 Range Warning",
                                     "301 Tick 16 ms",
                                     "302 23.976",
                                     "303 24",
                                     "304 25",
                                     "305 29.97",
                                     "306 30",
                                     "307 48",
                                     "308 50",
                                     "309 59.94",
                                     "310 60",
                                     "311 120",
                                     "312 From File *",
                                     "-",
                                     "320 Real Time *",
                                     "321 Every Frame",
                                     "401 Show A",
                                     "402 Show B",
                                     "403 Toggle A/B",
                                     "404 Wipe",
                                     "405 Side by Side",
                                     "406 Difference",
                                     "407 Signed Difference",
                                     "-",
                                     "410 Difference Gain x2",
                                     "411 Difference Gain /2",
                                     "-",
                                     "412 B One Frame Later",
                                     "413 B One Frame Earlier",
                                     "414 No Offset",
                                     "501 Scopes",
                                     "901 About(&A)..."}));
        QCOMPARE(f.main->action(kCmdGoToFrame)->shortcut(), QKeySequence(QStringLiteral("Ctrl+G")));
        QCOMPARE(f.main->action(kCmdFrameInfo)->shortcut(), QKeySequence(QStringLiteral("Ctrl+I")));
    }

    void status_parts_follow_the_width_and_texts() {
        Fixture f;
        PartStatusBar* bar = f.main->status();
        QVERIFY(bar->findChild<QSizeGrip*>() != nullptr);
        QCOMPARE(bar->part_text(1), QStringLiteral("Frame: 0/0"));
        QCOMPARE(bar->part_text(2), QStringLiteral("Step: 0"));
        QCOMPARE(bar->part_text(0), QString());
        for (int width : {960, 700, 1500}) {
            f.main->resize(width, f.main->height());
            QTRY_COMPARE(bar->width(), width);
            QCOMPARE(bar->part_right(0), width - 250);
            QCOMPARE(bar->part_right(1), width - 110);
            QCOMPARE(bar->part_right(2), width);
        }
        PartStatusBar fresh;
        QCOMPARE(fresh.part_text(0), QStringLiteral("hoge"));
    }

    void picture_area_matches_every_size_choice() {
        for (int i = 0; i < 3; ++i)
            QVERIFY(write_header_only_dpx(
                        dir_.filePath(QStringLiteral("uhd_%1.dpx").arg(i)).toStdString(), 3840,
                        2160) == 0);
        Fixture f(QFile::encodeName(dir_.filePath("uhd_0.dpx")));
        QCOMPARE(f.main->picture_device_size(), QSize(960, 540));
        const int status_height = f.main->status()->height();
        const struct {
            int id;
            QSize size;
        } choices[] = {{kCmdSizeHalf, {1920, 1080}},
                       {kCmdSizeEighth, {480, 270}},
                       {kCmdSizeOriginal, {3840, 2160}},
                       {kCmdSizeQuarter, {960, 540}},
                       {kCmdSizeQuarter, {960, 540}}};
        for (const auto& c : choices) {
            f.main->action(c.id)->trigger();
            QCOMPARE(f.main->picture_device_size(), c.size);
            QCOMPARE(f.main->status()->height(), status_height);
            int checked = 0;
            for (int id = kCmdSizeOriginal; id <= kCmdSizeEighth; ++id)
                checked += f.main->action(id)->isChecked() ? 1 : 0;
            QCOMPARE(checked, 1);
            QVERIFY(f.main->action(c.id)->isChecked());
        }
        QVERIFY(f.errors.isEmpty());
    }

    // A paint that cannot get its surface (Qt's painter cannot begin, as when
    // the display server cannot back the window) falls back to a smaller size
    // with one box. A paint event sent outside Qt's paint cycle meets a painter
    // that cannot begin in just that way.
    void paint_without_a_surface_falls_back_with_one_box() {
        for (int i = 0; i < 2; ++i)
            QVERIFY(write_header_only_dpx(
                        dir_.filePath(QStringLiteral("lost_%1.dpx").arg(i)).toStdString(), 1920,
                        1080) == 0);
        Fixture f(QFile::encodeName(dir_.filePath("lost_0.dpx")));
        f.main->action(kCmdSizeOriginal)->trigger();
        QCOMPARE(f.win.viewer.store.shift, 0);
        // No real paint may show the picture in between: the loss lasts until one does.
        f.main->picture()->setUpdatesEnabled(false);
        for (int expected_shift : {1, 2}) {
            QPaintEvent lost(f.main->picture()->rect());
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QPainter::begin"));
            QApplication::sendEvent(f.main->picture(), &lost);
            QApplication::sendEvent(f.main->picture(), &lost);
            QTRY_COMPARE(f.win.viewer.store.shift, expected_shift);
            QVERIFY(f.main->action(kCmdSizeOriginal + expected_shift)->isChecked());
        }
        QCOMPARE(f.errors, QStringList{QString::fromLatin1(kMsgNoMemory)});
        f.main->picture()->setUpdatesEnabled(true);
        QCOMPARE(f.main->picture_device_size(), QSize(480, 270));
    }

    void keys_drive_the_step_and_timer() {
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "keys", 3, 64, 32) == 0);
        Fixture f(QFile::encodeName(dir_.filePath("keys_0.dpx")));
        for (int i = 0; i < 3; ++i) QTest::keyClick(f.main, Qt::Key_Right);
        QCOMPARE(f.main->status()->part_text(2), QStringLiteral("Step: +3"));
        QVERIFY(f.main->timer().isActive());
        QCOMPARE(f.main->timer().interval(), 16);
        QCOMPARE(f.main->timer().timerType(), Qt::PreciseTimer);
        for (int i = 0; i < 5; ++i) QTest::keyClick(f.main, Qt::Key_Left);
        QCOMPARE(f.main->status()->part_text(2), QStringLiteral("Step: -2"));
        // Alt combinations and F10 belong to the menus.
        QTest::keyClick(f.main, Qt::Key_Right, Qt::AltModifier);
        QTest::keyClick(f.main, Qt::Key_F10);
        QCOMPARE(f.win.viewer.play.step, -2);
        // An auto-repeated press counts.
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(f.main, &repeat);
        QCOMPARE(f.win.viewer.play.step, -1);
        QTest::keyClick(f.main, Qt::Key_Space);
        QCOMPARE(f.main->status()->part_text(2), QStringLiteral("Step: 0"));
        QVERIFY(!f.main->timer().isActive());
        // The frame keys, each after the one before: from frame 0 of 3.
        const struct {
            Qt::Key key;
            const char* frame;
        } frame_keys[] = {{Qt::Key_PageDown, "Frame: 1/3"}, {Qt::Key_Period, "Frame: 2/3"},
                          {Qt::Key_Home, "Frame: 0/3"},     {Qt::Key_End, "Frame: 2/3"},
                          {Qt::Key_Comma, "Frame: 1/3"},    {Qt::Key_PageUp, "Frame: 0/3"}};
        for (const auto& k : frame_keys) {
            QTest::keyClick(f.main, Qt::Key_Right);
            QTest::keyClick(f.main, k.key);
            QCOMPARE(f.main->status()->part_text(1), QString::fromLatin1(k.frame));
            QVERIFY(!f.main->timer().isActive());
        }
        // Ctrl+G asks for a frame; what is typed is shown.
        QString prompt;
        f.main->ask_frame = [&](const QString& p, const QString&) -> std::optional<QString> {
            prompt = p;
            return QStringLiteral("2");
        };
        QTest::keyClick(f.main, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(prompt, QStringLiteral("Frame number (0 to 2):"));
        QCOMPARE(f.main->status()->part_text(1), QStringLiteral("Frame: 2/3"));
        // Read whole: long, or refused when longer than any frame number needs.
        for (const int zeros : {32, kFrameTextBytes}) {
            f.main->ask_frame = [zeros](const QString&, const QString&) -> std::optional<QString> {
                return QString(zeros, u'0') + QString::number(zeros == 32 ? 1 : 2);
            };
            QTest::keyClick(f.main, Qt::Key_G, Qt::ControlModifier);
            QCOMPARE(f.main->status()->part_text(1), QStringLiteral("Frame: 1/3"));
        }
        QVERIFY(!f.main->quit_requested);
        QTest::keyClick(f.main, Qt::Key_Q, Qt::ShiftModifier);
        QVERIFY(f.main->quit_requested);
    }

    void timer_plays_and_picture_is_right_way_up() {
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "play", 2, 256, 128) == 0);
        Fixture f(QFile::encodeName(dir_.filePath("play_1.dpx")));
        // Exact at whole scale factors; a fractional one may add the part of a
        // device pixel that a whole logical pixel spans.
        const QSize area = f.main->picture_device_size();
        QVERIFY(area.width() >= 64 && area.width() <= 65 && area.height() >= 32 &&
                area.height() <= 33);
        QImage shot = f.main->picture()->grab().toImage();
        QCOMPARE(shot.pixel(5, 5), expected(1, 0));
        QCOMPARE(shot.pixel(40, 5), expected(1, 1));
        QCOMPARE(shot.pixel(5, 25), expected(1, 2));
        QCOMPARE(shot.pixel(40, 25), expected(1, 3));
        // Step +2 on two frames settles on frame 0 (the jump to the other end).
        QTest::keyClick(f.main, Qt::Key_Right);
        QTest::keyClick(f.main, Qt::Key_Right);
        QTRY_COMPARE(f.main->status()->part_text(1), QStringLiteral("Frame: 0/2"));
        QTest::qWait(50);
        // The window's own backing store, as the screen shows it.
        f.main->picture()->repaint();
        QVERIFY(f.main->picture()->direct_paints > 0);
        // Device pixels throughout: with a scale factor the picture still has one
        // device pixel per display pixel.
        const qreal dpr = f.main->devicePixelRatioF();
        const QPoint at = f.main->picture()->mapTo(f.main, QPoint(0, 0)) * dpr;
        // The offscreen platform grabs scaled windows at their logical size, so the
        // backing store is compared pixel for pixel only without scaling.
        QImage screen = f.main->screen()->grabWindow(f.main->winId()).toImage();
        if (dpr == 1.0)
            QVERIFY2(screen.width() >= at.x() + 64,
                     qPrintable(QStringLiteral("screen %1x%2, picture at %3,%4")
                                    .arg(screen.width())
                                    .arg(screen.height())
                                    .arg(at.x())
                                    .arg(at.y())));
        if (dpr == 1.0) {
            QCOMPARE(screen.pixel(at.x() + 5, at.y() + 5), expected(0, 0));
            QCOMPARE(screen.pixel(at.x() + 60, at.y() + 30), expected(0, 3));
            QCOMPARE(screen.pixel(at.x() + 5, at.y() + 25), expected(0, 2));
        }
        shot = f.main->picture()->grab().toImage();
        QCOMPARE(shot.pixel(40, 5), expected(0, 1));
        // Outside the picture is gray.
        if (shot.width() > 70) QCOMPARE(shot.pixel(70, 5), qRgb(128, 128, 128));
    }

    void playback_menu_one_shot_timer_and_timeline() {
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "line", 4, 256, 128) == 0);
        Fixture f(QFile::encodeName(dir_.filePath("line_0.dpx")));
        f.main->action(kCmdRate50)->trigger();
        for (int id = kCmdRateTick; id <= kCmdRateFromFile; ++id)
            QCOMPARE(f.main->action(id)->isChecked(), id == kCmdRate50);
        QCOMPARE(f.main->status()->part_text(3), QStringLiteral("50 fps"));
        f.main->action(kCmdEveryFrame)->trigger();
        QVERIFY(f.main->action(kCmdEveryFrame)->isChecked());
        QVERIFY(!f.main->action(kCmdRealTime)->isChecked());

        // One shot at a time, armed again after every tick while playing.
        QTest::keyClick(f.main, Qt::Key_Right);
        QVERIFY(f.main->timer().isSingleShot());
        QVERIFY(f.main->timer().isActive());
        QVERIFY(f.main->timer().interval() <= 20);
        QTRY_COMPARE(f.main->status()->part_text(1), QStringLiteral("Frame: 2/4"));
        QVERIFY(f.main->timer().isActive());
        const QString playing = f.main->status()->part_text(3);
        QVERIFY2(playing.contains(QStringLiteral("/50 fps, ")) && playing.endsWith(" dropped"),
                 qPrintable(playing));

        // A click on the strip: paused at the frame under the mouse.
        TimelineWidget* strip = f.main->timeline();
        QCOMPARE(strip->device_width(), f.main->picture_device_size().width());
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() * 7 / 8, 4));
        QVERIFY(!f.main->timer().isActive());
        QCOMPARE(f.main->status()->part_text(1), QStringLiteral("Frame: 3/4"));
        QCOMPARE(f.main->status()->part_text(2), QStringLiteral("Step: 0"));
        QImage shot = f.main->picture()->grab().toImage();
        QCOMPARE(shot.pixel(2, 2), expected(3, 0));
        QCOMPARE(f.main->status()->part_text(3), QStringLiteral("50 fps"));
    }

    void drop_opens_the_first_local_file() {
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "drop", 3, 64, 32) == 0);
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "other", 2, 64, 32) == 0);
        Fixture f;
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(dir_.filePath("drop_2.dpx")),
                      QUrl::fromLocalFile(dir_.filePath("other_0.dpx"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(f.main, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.main, &drop);
        QCOMPARE(f.main->status()->part_text(0), QStringLiteral("drop_2.dpx"));
        QCOMPARE(f.main->status()->part_text(1), QStringLiteral("Frame: 2/3"));
        QCOMPARE(display_width(f.win.viewer.store), 16);
        QVERIFY(f.errors.isEmpty());

        QMimeData remote;
        remote.setUrls({QUrl(QStringLiteral("https://example.org/a_1.dpx"))});
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &remote, Qt::LeftButton,
                                Qt::NoModifier);
        refused.setAccepted(false);
        QApplication::sendEvent(f.main, &refused);
        QVERIFY(!refused.isAccepted());
    }

    // A frame dropped with Ctrl held opens B: the status bar gains a second row
    // (the picture area keeps its size), the Compare keys work as shortcuts that
    // leave playback running, and Close Compare takes the row away again.
    void ctrl_drop_compares_with_a_row_of_metrics_and_keys_that_do_not_pause() {
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "src", 3, 1280, 640) == 0);
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "enc", 3, 1280, 640) == 0);
        Fixture f(QFile::encodeName(dir_.filePath("src_0.dpx")));
        const QSize picture = f.main->picture_device_size();
        const int bar = f.main->status()->height();
        QVERIFY(!f.main->action(kCmdToggleAB)->isEnabled());
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(dir_.filePath("enc_0.dpx"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::ControlModifier);
        QApplication::sendEvent(f.main, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                        Qt::ControlModifier);
        QApplication::sendEvent(f.main, &drop);
        QVERIFY(f.errors.isEmpty());
        QCOMPARE(f.main->status()->part_text(0), QStringLiteral("src_0.dpx"));
        QVERIFY(f.main->action(kCmdToggleAB)->isEnabled());
        QVERIFY(f.main->action(kCmdWipe)->isChecked());
        QTRY_COMPARE(f.main->status()->line(),
                     QStringLiteral("A src_0.dpx  B enc_0.dpx  identical"));
        QVERIFY(f.main->status()->height() > bar);
        QCOMPARE(f.main->picture_device_size(), picture);

        QTest::keyClick(f.main, Qt::Key_Right);
        QTest::keyClick(f.main, Qt::Key_T);
        QCOMPARE(f.win.compare.mode, kCompareShowA);
        QTest::keyClick(f.main, Qt::Key_T);
        QCOMPARE(f.win.compare.mode, kCompareShowB);
        QCOMPARE(f.win.viewer.play.step, 1);
        QVERIFY(f.main->timer().isActive());
        QTest::keyClick(f.main, Qt::Key_Space);

        f.main->action(kCmdCloseCompare)->trigger();
        QCOMPARE(f.main->status()->line(), QString());
        QTRY_COMPARE(f.main->status()->height(), bar);
        QCOMPARE(f.main->picture_device_size(), picture);
        // Without a comparison the letter is just another key: it pauses.
        QTest::keyClick(f.main, Qt::Key_Right);
        QTest::keyClick(f.main, Qt::Key_T);
        QCOMPARE(f.win.viewer.play.step, 0);
    }

    void open_dialog_cancel_changes_nothing() {
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "cancel", 2, 64, 32) == 0);
        Fixture f;
        QString started_from = QStringLiteral("unset");
        f.main->ask_open_file = [&](const QString& start) {
            started_from = start;
            return QString();
        };
        f.main->action(kCmdOpen)->trigger();
        QCOMPARE(started_from, QString());
        QVERIFY(f.errors.isEmpty());
        f.main->ask_open_file = [&](const QString& start) {
            started_from = start;
            return dir_.filePath("cancel_1.dpx");
        };
        f.main->action(kCmdOpen)->trigger();
        QCOMPARE(f.main->status()->part_text(1), QStringLiteral("Frame: 1/2"));
        QTest::keyClick(f.main, Qt::Key_Right);
        f.main->ask_open_file = [&](const QString& start) {
            started_from = start;
            return QString();
        };
        f.main->action(kCmdOpen)->trigger();
        QCOMPARE(started_from, dir_.filePath("cancel_1.dpx"));
        QCOMPARE(f.win.viewer.play.step, 1);
        QVERIFY(f.errors.isEmpty());
    }

    void about_box_texts_layout_and_closing() {
        AboutDialog about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About"));
        QStringList texts;
        for (QLabel* l : about.findChildren<QLabel*>()) texts << l->text();
        QCOMPARE(texts.size(), 7);
        QCOMPARE(texts[0], QStringLiteral("Karvelin"));
        QCOMPARE(texts.mid(2),
                 (QStringList{"Keyboard operation", "[->]: Move forward", "[<-]: Move backward",
                              "[Q]: Quit", "Other keys: Pause"}));
        QList<QPushButton*> buttons = about.findChildren<QPushButton*>();
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons[0]->text(), QStringLiteral("OK"));
        QCOMPARE(buttons[0]->geometry(), about.dialog_rect(55, 102, 40, 14));
        QCOMPARE(about.size(), about.dialog_rect(0, 0, 150, 120).size());
        // Dialog units scale with the font: 4 horizontal units are one average
        // character, 8 vertical units one line.
        QVERIFY(about.dialog_rect(0, 0, 4, 8).width() >= 5);
        QVERIFY(about.dialog_rect(0, 0, 4, 8).height() >= 12);

        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(!about.isVisible());
        about.show();
        buttons[0]->click();
        QVERIFY(!about.isVisible());
    }

    void about_command_shows_box_then_repaints() {
        Fixture f;
        int shown = 0;
        f.main->show_about = [&] { ++shown; };
        const int paints = f.main->picture()->direct_paints + f.main->picture()->painter_paints;
        f.main->action(kCmdAbout)->trigger();
        QCOMPARE(shown, 1);
        QVERIFY(f.main->picture()->direct_paints + f.main->picture()->painter_paints > paints);
    }

    // File > Frame Info... and Ctrl+I raise the box with the current frame's
    // listing; the box's text is read-only, selectable and copyable.
    void frame_info_box_lists_the_frame() {
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "info", 2, 64, 32) == 0);
        Fixture f(QFile::encodeName(dir_.filePath("info_1.dpx")));
        QStringList shown;
        f.main->show_text = [&](const QString& title, const QString& text) {
            shown << title + "|" + text.section(QLatin1Char('\n'), 0, 0);
        };
        f.main->action(kCmdFrameInfo)->trigger();
        QTest::keyClick(f.main, Qt::Key_I, Qt::ControlModifier);
        const QString want = "Frame Info|file: " + dir_.filePath("info_1.dpx");
        QCOMPARE(shown, (QStringList{want, want}));

        TextBox box(nullptr, QStringLiteral("Frame Info"), QStringLiteral("a: 1\nb: 2\n"));
        auto* field = box.findChild<QPlainTextEdit*>(QStringLiteral("text"));
        QVERIFY(field != nullptr);
        QVERIFY(field->isReadOnly());
        QVERIFY(field->textInteractionFlags() & Qt::TextSelectableByKeyboard);
        QCOMPARE(field->toPlainText(), QStringLiteral("a: 1\nb: 2\n"));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        field->selectAll();
        field->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("a: 1\nb: 2\n"));
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(!box.isVisible());
    }

    // View > Scopes opens a window of its own that draws the scopes once the
    // poll finds them drawn; closing it takes the check mark away.
    void scopes_window_draws_and_closes() {
        QVERIFY(write_quadrant_sequence(dir_.path().toStdString(), "scope", 2, 256, 128) == 0);
        Fixture f(QFile::encodeName(dir_.filePath("scope_0.dpx")));
        f.main->action(kCmdScopes)->trigger();
        ScopesWindow* scopes = f.main->scopes();
        QVERIFY(scopes != nullptr);
        QVERIFY(scopes->isVisible());
        QVERIFY(f.main->action(kCmdScopes)->isChecked());
        QTRY_VERIFY(scopes->drawn_paints > 0);
        const QImage grabbed = scopes->grab().toImage();
        // The vectorscope's 75% targets are drawn: some pixel of their colour.
        bool target = false;
        for (int y = 0; y < grabbed.height() && !target; ++y)
            for (int x = grabbed.width() / 2; x < grabbed.width() && !target; ++x)
                target = grabbed.pixel(x, y) == qRgb(200, 170, 60);
        QVERIFY(target);
        scopes->close();
        QVERIFY(!f.main->action(kCmdScopes)->isChecked());
        f.main->action(kCmdScopes)->trigger();
        QVERIFY(scopes->isVisible());
        f.main->action(kCmdScopes)->trigger();
        QVERIFY(!scopes->isVisible());
    }

    void command_line_words_join_into_one_path() {
        char prog[] = "karvelin";
        char a[] = "/tmp/My";
        char b[] = "Clip_001.dpx";
        char* argv[] = {prog, a, b, nullptr};
        QCOMPARE(command_line_path(3, argv), QByteArray("/tmp/My Clip_001.dpx"));
        QCOMPARE(command_line_path(1, argv), QByteArray());
        QCOMPARE(virtual_key_for(Qt::Key_Q, Qt::ShiftModifier), kKeyQ);
        QCOMPARE(virtual_key_for(Qt::Key_Q, Qt::AltModifier), -1);
        QVERIFY(virtual_key_for(Qt::Key_Escape, Qt::NoModifier) != kKeyLeft);
    }
};

QTEST_MAIN(QtFrontEndTest)
#include "qt_front_end_test.moc"
