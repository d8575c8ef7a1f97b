// Comparing in the viewer's own Qt window once both frames are decoded: how
// long one A/B toggle and one step of a wipe drag take, paint included, at
// 3840x2160 Original Size and 7680x4320 1/2 (both 3840x2160 on screen), beside
// a repaint of the picture with nothing changed (the floor: the copy into the
// window). A 60 fps display leaves 16.7 ms a step.
//
//   karvelin-compare-window-bench [--steps N] [--dir FOLDER] [--sizes 4k,8k] [--tsv FILE]
//
// Runs on whatever Qt platform is current; scripts/perf-report.sh uses the
// offscreen one with a screen larger than 7680x4320.
#include <QApplication>
#include <QEventLoop>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "tools/frame_files.h"
#include "ui/qt/qt_front_end.h"

namespace {

using bench::Clock;

/// A grainy frame at `path` (written unless it is there), then read once into
/// the page cache.
int prepare_frame(const std::string& path, int width, int height, std::uint32_t seed) {
    std::error_code ec;
    const std::uintmax_t size = kDpxDataOffset + static_cast<std::uintmax_t>(width) *
                                                     static_cast<std::uintmax_t>(height) * 6;
    if (std::filesystem::file_size(path, ec) != size) {
        std::fprintf(stderr, "writing %s\n", path.c_str());
        const std::vector<std::uint16_t> rgb = bench::make_grain_picture(width, height, seed);
        if (write_dpx_file(path, width, height, rgb.data()) != 0) return -1;
    }
    std::vector<std::uint8_t> sink(static_cast<std::size_t>(size));
    return bench::read_whole_file(path.c_str(), sink.data(), sink.size()) ? 0 : -1;
}

/// Runs the event loop until the second status row has the pair's metrics.
void wait_for_metrics(MainWindow& main) {
    const auto t0 = Clock::now();
    while (bench::ms_since(t0) < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const QString line = main.status()->line();
        if (!line.isEmpty() && !line.contains(QStringLiteral("comparing...")) &&
            !line.contains(QStringLiteral("% of the rows")))
            return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int steps = 120;
    std::string dir =
        (std::filesystem::temp_directory_path() / "karvelin-compare-window-bench").string();
    std::string sizes = "4k,8k", tsv_path;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--steps") steps = std::max(10, std::atoi(argv[i + 1]));
        if (a == "--dir") dir = argv[i + 1];
        if (a == "--sizes") sizes = argv[i + 1];
        if (a == "--tsv") tsv_path = argv[i + 1];
    }
    struct Case {
        const char* name;
        int width, height, shift;
    };
    std::vector<Case> cases;
    if (sizes.find("4k") != std::string::npos) cases.push_back({"4k", 3840, 2160, 0});
    if (sizes.find("8k") != std::string::npos) cases.push_back({"8k", 7680, 4320, 1});
    std::filesystem::create_directories(dir);
    for (const Case& c : cases)
        for (int side = 0; side < 2; ++side)
            if (prepare_frame(dir + "/" + c.name + (side ? "_b_0.dpx" : "_a_0.dpx"), c.width,
                              c.height, static_cast<std::uint32_t>(side)) != 0)
                return 1;

    QApplication app(argc, argv);
    static Window win;
    install_error_boxes(win);
    if (window_startup(win, nullptr) != 0) return 1;
    MainWindow main(win);
    window_created(win);
    main.show();
    QCoreApplication::processEvents();

    std::FILE* tsv = tsv_path.empty() ? nullptr : std::fopen(tsv_path.c_str(), "w");
    if (tsv) std::fprintf(tsv, "frame\tsize\tcase\tmedian_ms\tmax_ms\n");
    std::printf("platform %s, %d steps per case; 16.7 ms a step is 60 fps\n",
                qPrintable(QGuiApplication::platformName()), steps);
    std::printf("%-4s %-9s %-16s %9s %9s %9s\n", "size", "shown", "case", "median_ms", "max_ms",
                "fps");
    for (const Case& c : cases) {
        main.open_dropped(QString::fromStdString(dir + "/" + c.name + "_a_0.dpx"));
        window_command(win, kCmdSizeOriginal + c.shift);
        main.open_dropped(QString::fromStdString(dir + "/" + c.name + "_b_0.dpx"), true);
        // The metrics worker done, so that it takes no processor from the steps.
        wait_for_metrics(main);
        std::vector<double> floor, toggle, wipe;
        window_command(win, kCmdWipe);
        const int width = display_width(win.viewer.store);
        int dx = 16;
        // The cases in turn, step by step, so that load from elsewhere hits all alike.
        for (int i = 0; i < steps; ++i) {
            auto t0 = Clock::now();
            main.repaint_now();
            floor.push_back(bench::ms_since(t0));
            // The split sweeps the picture to and fro.
            if (win.compare.split + dx > width || win.compare.split + dx < 0) dx = -dx;
            t0 = Clock::now();
            window_drag(win, dx, 0);
            wipe.push_back(bench::ms_since(t0));
            window_command(win, kCmdToggleAB);
            t0 = Clock::now();
            window_command(win, kCmdToggleAB);
            toggle.push_back(bench::ms_since(t0));
            window_command(win, kCmdWipe);
            QCoreApplication::processEvents();
        }
        const std::string shown =
            std::to_string(width) + "x" + std::to_string(display_height(win.viewer.store));
        for (const auto& [name, v] :
             {std::pair<const char*, std::vector<double>&>{"repaint (floor)", floor},
              {"toggle A/B", toggle},
              {"wipe drag step", wipe}}) {
            const bench::Stats s = bench::stats(v);
            std::printf("%-4s %-9s %-16s %9.2f %9.2f %9.0f\n", c.name, shown.c_str(), name,
                        s.median, s.max, 1000.0 / s.median);
            if (tsv)
                std::fprintf(tsv, "%s\t%d\t%s\t%.3f\t%.3f\n", c.name, c.shift, name, s.median,
                             s.max);
        }
        window_command(win, kCmdCloseCompare);
    }
    if (tsv) std::fclose(tsv);
    window_shutdown(win);
    for (const Case& c : cases)
        for (const char* side : {"_a_0.dpx", "_b_0.dpx"})
            std::filesystem::remove(dir + "/" + c.name + side);
    return 0;
}
