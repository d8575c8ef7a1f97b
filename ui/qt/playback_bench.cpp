// Playback as a user sees it: the real viewer window driven by its own 16 ms
// timer on sequences in the page cache. Reports frames shown per second and the
// milliseconds each tick takes (load + paint) for 3840x2160 and 7680x4320 at
// every size, conversion off and on, and the time from start to the first
// painted picture.
//
//   karvelin-playback-bench [--seconds S] [--dir FOLDER]
//
// Runs on whatever Qt platform is current (xcb under Xvfb, or offscreen).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
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

struct Result {
    double fps = 0;
    double ms_per_tick = 0;
    double ms_per_paint = 0;
};

Result measure(MainWindow& main, Window& win, int shift, int convert, double seconds) {
    window_command(win, kCmdSizeOriginal + shift);
    if (win.viewer.store.convert != convert) window_command(win, kCmdConvert);
    window_key(win, kKeyRight);  // step +1, timer running
    run_events_for(0.3);         // settle: first frames, window size
    main.ticks = 0;
    main.tick_nanoseconds = 0;
    const long long paints0 = main.picture()->direct_paints + main.picture()->painter_paints;
    main.picture()->paint_nanoseconds = 0;
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
    window_key(win, ' ');  // pause
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const auto process_start = Clock::now();
    double seconds = 3;
    std::string dir = (std::filesystem::temp_directory_path() / "karvelin-playback-bench").string();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
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
    std::printf("%-10s %-9s %-8s %8s %10s %10s\n", "sequence", "size", "convert", "fps", "ms/tick",
                "of it paint");
    const char* size_names[] = {"Original", "1/2", "1/4", "1/8"};
    const struct {
        const char* name;
        const char* file;
    } sequences[] = {{"3840x2160", "uhd_0.dpx"}, {"7680x4320", "fuhd_0.dpx"}};
    for (const auto& s : sequences) {
        main.open_dropped(QString::fromStdString(dir + "/" + s.file));
        for (int convert = 0; convert <= 1; ++convert) {
            for (int shift = 0; shift <= 3; ++shift) {
                const Result r = measure(main, win, shift, convert, seconds);
                std::printf("%-10s %-9s %-8s %8.1f %10.2f %10.2f\n", s.name, size_names[shift],
                            convert ? "on" : "off", r.fps, r.ms_per_tick, r.ms_per_paint);
                std::fflush(stdout);
            }
        }
    }
    window_shutdown(win);
    return 0;
}
