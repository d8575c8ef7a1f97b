// Playback as a user sees it: the real viewer window driven by its own 16 ms
// timer on sequences in the page cache. Reports frames shown per second and the
// milliseconds each tick takes (load + paint) for 3840x2160 and 7680x4320 at
// every size, conversion off and on, and the time from start to the first
// painted picture.
//
//   karvelin-playback-bench [--seconds S] [--dir FOLDER] [--paint fast|plain|both]
//                           [--only-off 1] [--copy-only 1]
//
// --paint both plays every case twice, side by side: with large pictures written
// to the backing store by streaming stores ("fast", what the viewer does) and
// with plain stores ("plain"). Before the playback table, the two copies are
// timed alone at three picture sizes. The last column counts paint events per
// tick: the picture should be painted once, and the main window only where the
// status bar lies (it must never repaint the whole window).
//
// Runs on whatever Qt platform is current (xcb under Xvfb, or offscreen).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPaintEvent>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/frame_files.h"
#include "ui/qt/qt_front_end.h"

namespace {

using Clock = std::chrono::steady_clock;

/// Writes `count` DPX frames `<dir>/<stem>_<n>.dpx` unless they exist, with a
/// pattern that changes per frame, then reads them once so they sit in the cache.
int prepare_sequence(const std::string& dir, const std::string& stem, int width, int height,
                     int count) {
    std::filesystem::create_directories(dir);
    const std::vector<std::uint8_t> header = make_dpx_header(width, height);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 6);
    for (int f = 0; f < count; ++f) {
        const std::string name = dir + "/" + stem + "_" + std::to_string(f) + ".dpx";
        const std::uintmax_t size = header.size() + row.size() * static_cast<std::size_t>(height);
        std::error_code ec;
        if (std::filesystem::file_size(name, ec) != size) {
            std::FILE* out = std::fopen(name.c_str(), "wb");
            if (!out) return -1;
            std::fwrite(header.data(), 1, header.size(), out);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    std::uint8_t* p = &row[static_cast<std::size_t>(x) * 6];
                    p[0] = static_cast<std::uint8_t>(x + f * 8);
                    p[2] = static_cast<std::uint8_t>(y + f * 4);
                    p[4] = static_cast<std::uint8_t>((x ^ y) + f);
                    p[1] = p[3] = p[5] = 0x80;
                }
                std::fwrite(row.data(), 1, row.size(), out);
            }
            if (std::fclose(out) != 0) return -1;
        }
        // Into the page cache.
        std::FILE* in = std::fopen(name.c_str(), "rb");
        if (!in) return -1;
        static std::vector<char> sink(1 << 22);
        while (std::fread(sink.data(), 1, sink.size(), in) > 0) {
        }
        std::fclose(in);
    }
    return 0;
}

void run_events_for(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

/// Counts paint events per widget: one picture paint per tick is the goal, and a
/// paint of the main window itself would mean a second full-window pass.
struct PaintCounter : QObject {
    QObject* picture = nullptr;
    QObject* status = nullptr;
    QObject* window = nullptr;
    long long picture_paints = 0, status_paints = 0, window_paints = 0, other_paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            if (watched == picture)
                ++picture_paints;
            else if (watched == status)
                ++status_paints;
            else if (watched == window)
                ++window_paints;
            else
                ++other_paints;
        }
        return false;
    }
};

/// Times the flipped copy alone, plain and streaming stores in turn on the same
/// picture, a few rounds interleaved so that a burst of load elsewhere hits both.
void compare_copies(int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 7);
    QImage target(width, height + 40, QImage::Format_RGB32);
    target.fill(0);
    FlipCopy c;
    c.pixels = pixels.data();
    c.width = width;
    c.height = height;
    c.target = target.bits();
    c.target_stride = target.bytesPerLine();
    c.target_width = target.width();
    c.target_height = target.height();
    c.at_y = 20;  // below a menu bar, as in the window
    c.clip_width = target.width();
    c.clip_height = target.height();
    struct Variant {
        const char* name;
        std::int64_t stream_from_pixels;
        double best_ms = 1e9;
        double total_ms = 0;
    } variants[2] = {{"plain", INT64_MAX}, {"stream", 0}};
    const int rounds = 15;
    for (int r = 0; r < rounds; ++r) {
        for (Variant& v : variants) {
            const auto t0 = Clock::now();
            copy_rows_flipped(c, v.stream_from_pixels);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            v.best_ms = std::min(v.best_ms, ms);
            v.total_ms += ms;
        }
    }
    std::printf("flipped copy %dx%d:", width, height);
    for (const Variant& v : variants)
        std::printf("  %s %.2f ms (best %.2f)", v.name, v.total_ms / rounds, v.best_ms);
    std::printf("  -> plain/stream %.2fx\n", variants[0].total_ms / variants[1].total_ms);
}

struct Result {
    double fps = 0;
    double ms_per_tick = 0;
    double ms_per_paint = 0;
    double picture_paints_per_tick = 0;
    double status_paints_per_tick = 0;
    double window_paints_per_tick = 0;
};

Result measure(MainWindow& main, Window& win, PaintCounter& counter, int shift, int convert,
               double seconds) {
    window_command(win, kCmdSizeOriginal + shift);
    if (win.viewer.store.convert != convert) window_command(win, kCmdConvert);
    window_key(win, kKeyRight);  // step +1, timer running
    run_events_for(0.3);         // settle: first frames, window size
    main.ticks = 0;
    main.tick_nanoseconds = 0;
    const long long paints0 = main.picture()->direct_paints + main.picture()->painter_paints;
    main.picture()->paint_nanoseconds = 0;
    counter.picture_paints = counter.status_paints = counter.window_paints = 0;
    const auto t0 = Clock::now();
    run_events_for(seconds);
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    Result r;
    r.fps = static_cast<double>(main.ticks) / elapsed;
    r.ms_per_tick = main.ticks ? static_cast<double>(main.tick_nanoseconds) / 1e6 /
                                     static_cast<double>(main.ticks)
                               : 0;
    const long long paints =
        main.picture()->direct_paints + main.picture()->painter_paints - paints0;
    r.ms_per_paint =
        paints ? static_cast<double>(main.picture()->paint_nanoseconds) / 1e6 / paints : 0;
    if (main.ticks > 0) {
        const double t = static_cast<double>(main.ticks);
        r.picture_paints_per_tick = static_cast<double>(counter.picture_paints) / t;
        r.status_paints_per_tick = static_cast<double>(counter.status_paints) / t;
        r.window_paints_per_tick = static_cast<double>(counter.window_paints) / t;
    }
    window_key(win, ' ');  // pause
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const auto process_start = Clock::now();
    double seconds = 3;
    std::string dir = (std::filesystem::temp_directory_path() / "karvelin-playback-bench").string();
    std::string paint = "fast";
    bool only_off = false;
    bool copy_only = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
        if (std::strcmp(argv[i], "--paint") == 0) paint = argv[i + 1];
        if (std::strcmp(argv[i], "--only-off") == 0) only_off = std::atoi(argv[i + 1]) != 0;
        if (std::strcmp(argv[i], "--copy-only") == 0) copy_only = std::atoi(argv[i + 1]) != 0;
    }
    if (paint != "fast" && paint != "plain" && paint != "both") {
        std::fprintf(stderr, "--paint takes fast, plain or both\n");
        return 2;
    }
    if (prepare_sequence(dir, "uhd", 3840, 2160, 8) != 0 ||
        prepare_sequence(dir, "fuhd", 7680, 4320, 4) != 0) {
        std::fprintf(stderr, "cannot write the bench sequences under %s\n", dir.c_str());
        return 1;
    }

    // Start-up to the first painted picture, the viewer's own order.
    const auto t_start = Clock::now();
    QApplication app(argc, argv);
    static Window win;
    install_error_boxes(win);
    const std::string first = dir + "/uhd_0.dpx";
    if (window_startup(win, first.c_str()) != 0) return 1;
    MainWindow main(win);
    window_created(win);
    main.show();
    while (main.picture()->direct_paints + main.picture()->painter_paints == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double startup_ms =
        std::chrono::duration<double, std::milli>(Clock::now() - t_start).count();
    (void)process_start;

    std::printf("platform %s, %g s per case, 16 ms timer (62.5 fps at most)\n",
                qPrintable(QGuiApplication::platformName()), seconds);
    std::printf("start-up to first painted 3840x2160 picture at 1/4: %.0f ms\n\n", startup_ms);
    {
        compare_copies(7680, 4320);
        compare_copies(3840, 2160);
        compare_copies(1920, 1080);
        std::printf("\n");
        if (copy_only) return 0;
    }
    PaintCounter counter;
    counter.picture = main.picture();
    counter.status = main.status();
    counter.window = &main;
    app.installEventFilter(&counter);
    std::printf("%-10s %-9s %-8s %-6s %8s %10s %10s  %s\n", "sequence", "size", "convert", "paint",
                "fps", "ms/tick", "of it paint", "paints/tick picture,status,window");
    const char* size_names[] = {"Original", "1/2", "1/4", "1/8"};
    const struct {
        const char* name;
        const char* file;
    } sequences[] = {{"3840x2160", "uhd_0.dpx"}, {"7680x4320", "fuhd_0.dpx"}};
    for (const auto& s : sequences) {
        main.open_dropped(QString::fromStdString(dir + "/" + s.file));
        for (int convert = 0; convert <= (only_off ? 0 : 1); ++convert) {
            for (int shift = 0; shift <= 3; ++shift) {
                for (const char* method : {"fast", "plain"}) {
                    if (paint != "both" && paint != method) continue;
                    main.picture()->stream_from_pixels =
                        std::strcmp(method, "fast") == 0 ? kStreamFromPixels : INT64_MAX;
                    const Result r = measure(main, win, counter, shift, convert, seconds);
                    std::printf("%-10s %-9s %-8s %-6s %8.1f %10.2f %10.2f  %.2f,%.2f,%.2f\n",
                                s.name, size_names[shift], convert ? "on" : "off", method, r.fps,
                                r.ms_per_tick, r.ms_per_paint, r.picture_paints_per_tick,
                                r.status_paints_per_tick, r.window_paints_per_tick);
                    std::fflush(stdout);
                }
            }
        }
    }
    window_shutdown(win);
    return 0;
}
