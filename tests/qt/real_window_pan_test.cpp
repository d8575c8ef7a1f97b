// The viewer's window on a real X server (Xvfb, 1280x1024), driven by real input
// events from xdotool: an Original Size 4K picture is larger than the screen, so
// the window stays inside the screen with its status bar, the picture pans with
// the wheel and a drag, and the right button probes a known pixel.
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/qt/qt_front_end.h"
#include "window_fixture.h"

namespace {

void xdotool(const QStringList& args) {
    QVERIFY2(QProcess::execute(QStringLiteral("xdotool"), args) == 0,
             qPrintable(args.join(QLatin1Char(' '))));
}

QString at(int v) {
    return QString::number(v);
}

/// The 8-bit colour of screen pixel `p`.
QRgb screen_pixel(const QPoint& p) {
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(0, p.x(), p.y(), 1, 1).toImage();
    return shot.pixel(0, 0) & 0xFFFFFF;
}

QRgb quadrant(int q) {
    int c[3];
    quadrant_colour(0, q, c);
    return qRgb(c[0], c[1], c[2]) & 0xFFFFFF;
}

}  // namespace

class RealWindowPanTest : public QObject {
    Q_OBJECT

  private slots:
    void original_4k_pans_inside_the_screen_and_probes_a_known_pixel() {
        QTemporaryDir dir;
        QVERIFY(write_quadrant_sequence(dir.path().toStdString(), "uhd", 1, 3840, 2160) == 0);
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("uhd_0.dpx")));
        Window win;
        install_error_boxes(win);
        QCOMPARE(window_startup(win, path.constData()), 0);
        {
            MainWindow main(win);
            QStringList errors;
            main.show_error = [&](const QString& m, const QString&) { errors << m; };
            window_created(win);
            main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main));
            main.action(kCmdSizeOriginal)->trigger();

            // Inside the screen, status bar included; the picture area shows part
            // of the 3840x2160 picture at one screen pixel per picture pixel.
            const QRect screen = main.screen()->availableGeometry();
            QTRY_VERIFY(screen.contains(main.frameGeometry()));
            const QRect bar(main.status()->mapToGlobal(QPoint(0, 0)), main.status()->size());
            QVERIFY(main.status()->isVisible());
            QVERIFY(screen.contains(bar));
            const QSize area = main.picture_device_size();
            QVERIFY(area.width() < 3840 && area.height() < 2160);
            QCOMPARE(win.view_width, area.width());

            // Nineteen notches right (Shift) and ten down, 96 pixels a notch: the
            // quadrants meet at (1920 - 1824, 1080 - 960) of the area. Then a drag
            // of the picture 50 right and 30 down moves the meeting point with it.
            const QPoint origin = main.picture()->mapToGlobal(QPoint(0, 0));
            xdotool({"mousemove", at(origin.x() + 400), at(origin.y() + 300)});
            xdotool({"keydown", "shift"});
            xdotool({"click", "--repeat", "19", "--delay", "30", "5"});
            xdotool({"keyup", "shift"});
            xdotool({"click", "--repeat", "10", "--delay", "30", "5"});
            QTRY_COMPARE(win.pan_y, 960);
            QCOMPARE(win.pan_x, 1824);
            xdotool({"mousedown", "1"});
            xdotool({"mousemove", at(origin.x() + 425), at(origin.y() + 315)});
            xdotool({"mousemove", at(origin.x() + 450), at(origin.y() + 330)});
            xdotool({"mouseup", "1"});
            QTRY_COMPARE(win.pan_x, 1824 - 50);
            QCOMPARE(win.pan_y, 960 - 30);
            QTest::qWait(100);
            const QPoint meet = origin + QPoint(1920 - 1774, 1080 - 930);
            QTRY_COMPARE(screen_pixel(meet + QPoint(-2, -2)), quadrant(0));
            QCOMPARE(screen_pixel(meet + QPoint(1, -2)), quadrant(1));
            QCOMPARE(screen_pixel(meet + QPoint(-2, 1)), quadrant(2));
            QCOMPARE(screen_pixel(meet + QPoint(1, 1)), quadrant(3));

            // The right button over the pixel 10 right of and 20 below the
            // meeting point: source pixel (1930, 1100), whose stored samples are
            // the quadrant's colour in the top byte and the column in the low one.
            const QPoint probe = meet + QPoint(10, 20);
            xdotool({"mousemove", at(probe.x()), at(probe.y())});
            xdotool({"mousedown", "3"});
            int c[3];
            quadrant_colour(0, 3, c);
            const int low = 1930 & 0xFF;
            const QString want = QStringLiteral("x 1930 y 1100  R %1 G %2 B %3  (%4 %5 %6)")
                                     .arg(c[0] << 8 | low)
                                     .arg(c[1] << 8 | low)
                                     .arg(c[2] << 8 | low)
                                     .arg(c[0])
                                     .arg(c[1])
                                     .arg(c[2]);
            QTRY_COMPARE(main.status()->part_text(0), want);
            xdotool({"mouseup", "3"});
            QTRY_COMPARE(main.status()->part_text(0), QStringLiteral("uhd_0.dpx"));
            QVERIFY(errors.isEmpty());
        }
        window_shutdown(win);
    }
};

QTEST_MAIN(RealWindowPanTest)
#include "real_window_pan_test.moc"
