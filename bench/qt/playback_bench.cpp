// Playback as a user sees it: the real viewer window driven by its own 16 ms
// timer, on sequences in the page cache: a smooth pattern, and a grainy picture
// (the noise model of peers_bench) where almost every pixel is a new colour.
// For 3840x2160 and 7680x4320 at every size, conversion off and on, it reports
// frames shown per second and the milliseconds each tick takes (load + paint),
// beside a floor measured in the same run: pread of exactly the rows the size
// needs from the sequence's files, plus one plain copy (memcpy) of the display
// buffer. Before the playback table the flipped copy into the backing store is
// timed alone at three picture sizes: plain stores, streaming stores, and
// streaming stores on two threads (what the viewer does).
//
//   karvelin-playback-bench [--seconds S] [--dir FOLDER] [--sequences smooth,grain]
//                           [--sizes 4k,8k] [--only-off 1] [--copy-only 1]
//                           [--shifts 0123] [--tsv FILE] [--copy-tsv FILE]
//                           [--timed 1 [--timed-tsv FILE] [--loops N]]
//
// With --timed 1 it plays in time instead: at 24, 50 and 60 fps chosen from the
// Playback menu, 4K (24 frames) and 8K (12 frames) at every size, conversion
// off and on, each case from a freshly opened sequence (its cache empty), and
// reports for the first loop and for the two after it the frames shown per
// second over the rate, the frames never shown (dropped, counted from the
// frames each paint showed) beside the window's own count, and the median and
// 99th percentile of the intervals between paints; then the first loop of 4K at
// 1/1 and 1/4 from disk beside the disk's floor, and the resident memory with a
// 1 GB cache on the 8K sequence at 1/1 (1.6 GB of decoded frames). With
// KARVELIN_BENCH_DUMP set, each timed run also writes its paints (ms, frame)
// and the cache's state to standard error.
//
// Runs on whatever Qt platform is current (offscreen, or xcb under Xvfb).
#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "core/frame_cache.h"
#include "core/helper_thread.h"
#include "platform/platform.h"
#include "tools/frame_files.h"
#include "ui/qt/qt_front_end.h"
#include "ui/qt/row_copy.h"

namespace {

using bench::Clock;

/// The name of frame `f` of a sequence of `count`: as many digits for every
/// frame, so that all of them are one sequence.
std::string frame_file(const std::string& dir, const std::string& stem, int f, int count) {
    char number[16];
    std::snprintf(number, sizeof number, "%0*d", count > 10 ? 2 : 1, f);
    return dir + "/" + stem + "_" + number + ".dpx";
}

/// Writes `count` DPX frames `<dir>/<stem>_<n>.dpx` unless they exist, each frame
/// different (a moving pattern, or new grain), then reads them once so they sit
/// in the page cache.
int prepare_sequence(const std::string& dir, const std::string& stem, int width, int height,
                     int count, bool grain) {
    std::filesystem::create_directories(dir);
    const std::vector<std::uint8_t> header = make_dpx_header(width, height);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 6);
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(width) * 3);
    for (int f = 0; f < count; ++f) {
        const std::string name = frame_file(dir, stem, f, count);
        const std::uintmax_t size = header.size() + row.size() * static_cast<std::size_t>(height);
        std::error_code ec;
        if (std::filesystem::file_size(name, ec) != size) {
            std::fprintf(stderr, "writing %s\n", name.c_str());
            std::FILE* out = std::fopen(name.c_str(), "wb");
            if (!out) return -1;
            std::fwrite(header.data(), 1, header.size(), out);
            bench::GrainPicture g =
                bench::grain_picture(width, height, static_cast<std::uint32_t>(f));
            for (int y = 0; y < height; ++y) {
                if (grain) {
                    bench::grain_row(g, y, samples.data());
                    for (std::size_t i = 0; i < samples.size(); ++i) {
                        row[2 * i] = static_cast<std::uint8_t>(samples[i] >> 8);
                        row[2 * i + 1] = static_cast<std::uint8_t>(samples[i]);
                    }
                } else {
                    for (int x = 0; x < width; ++x) {
                        std::uint8_t* p = &row[static_cast<std::size_t>(x) * 6];
                        p[0] = static_cast<std::uint8_t>(x + f * 8);
                        p[2] = static_cast<std::uint8_t>(y + f * 4);
                        p[4] = static_cast<std::uint8_t>((x ^ y) + f);
                        p[1] = p[3] = p[5] = 0x80;
                    }
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

/// Watches every event the window gets, so that the product classes carry no
/// counters: ticks are the timer's events (load + paint happen inside them),
/// paints are paint events, counted per widget. One picture paint per tick is
/// the goal; a paint of the main window itself would be a second full pass.
class ProbeApplication : public QApplication {
  public:
    using QApplication::QApplication;
    QObject* timer = nullptr;
    QObject* picture = nullptr;
    QObject* status = nullptr;
    QObject* window = nullptr;
    long long ticks = 0, tick_ns = 0;
    long long picture_paints = 0, paint_ns = 0, status_paints = 0, window_paints = 0;
    /// While set, every picture paint is recorded with the frame it showed:
    /// the presentations as seen from outside the window logic.
    const Window* shown_of = nullptr;
    bool record = false;
    std::vector<std::pair<long long, int>> presented;

    void reset() {
        ticks = tick_ns = picture_paints = paint_ns = status_paints = window_paints = 0;
    }

    bool notify(QObject* receiver, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::Timer && receiver == timer)
            return timed(receiver, event, ticks, tick_ns);
        if (type == QEvent::Paint && receiver == picture) {
            const bool done = timed(receiver, event, picture_paints, paint_ns);
            if (record && shown_of)
                presented.emplace_back(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           Clock::now().time_since_epoch())
                                           .count(),
                                       shown_of->viewer.seq.current_frame);
            return done;
        }
        if (type == QEvent::Paint && receiver == status) ++status_paints;
        if (type == QEvent::Paint && receiver == window) ++window_paints;
        return QApplication::notify(receiver, event);
    }

  private:
    bool timed(QObject* receiver, QEvent* event, long long& count, long long& ns) {
        const auto t0 = Clock::now();
        const bool done = QApplication::notify(receiver, event);
        ++count;
        ns += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
        return done;
    }
};

/// One pass over memory shared by two threads (the helper the readers and the
/// copy use): each reads, or writes, its half of the bytes.
struct MemoryPass {
    std::uint8_t* bytes;
    std::size_t size;
    bool write;
    std::uint64_t sums[2];
};

void memory_half(void* context, int part) {
    MemoryPass& m = *static_cast<MemoryPass*>(context);
    const std::size_t half = m.size / 2;
    std::uint8_t* p = m.bytes + (part ? half : 0);
    const std::size_t n = part ? m.size - half : half;
    if (m.write) {
        std::memset(p, part + 1, n);  // large: glibc streams it past the caches
        return;
    }
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        sum ^= w;
    }
    m.sums[part] = sum;
}

/// Times the flipped copy alone at width x height: plain stores on one thread,
/// streaming stores on one thread, and streaming stores on two threads, in turn
/// on the same picture for a few rounds so that load elsewhere hits all alike.
void compare_copies(int width, int height, std::FILE* tsv) {
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
        std::int64_t stream_from_pixels, share_from_pixels;
        std::vector<double> ms;
    } variants[] = {{"plain", INT64_MAX, INT64_MAX, {}},
                    {"stream", 0, INT64_MAX, {}},
                    {"stream-2-threads", 0, 0, {}}};
    // The memory's own rates in the same rounds: the picture's bytes read, and
    // as many bytes written, by two threads; the copy moves both.
    std::vector<double> read_ms, write_ms;
    for (int r = 0; r < 15; ++r) {
        for (Variant& v : variants) {
            const auto t0 = Clock::now();
            copy_rows_flipped(c, v.stream_from_pixels, v.share_from_pixels);
            v.ms.push_back(bench::ms_since(t0));
        }
        for (bool write : {false, true}) {
            MemoryPass m{write ? target.bits() : pixels.data(), pixels.size(), write, {0, 0}};
            const auto t0 = Clock::now();
            run_two_parts(memory_half, &m);
            (write ? write_ms : read_ms).push_back(bench::ms_since(t0));
        }
    }
    std::printf("flipped copy %dx%d, ms median (min):", width, height);
    for (const Variant& v : variants) {
        const bench::Stats s = bench::stats(v.ms);
        std::printf("  %s %.2f (%.2f)", v.name, s.median, s.min);
        if (tsv)
            std::fprintf(tsv, "%d\t%d\t%s\t%.3f\t%.3f\n", width, height, v.name, s.median, s.min);
    }
    const double bytes = static_cast<double>(pixels.size());
    const double read_gbs = bytes / bench::stats(read_ms).median / 1e6;
    const double write_gbs = bytes / bench::stats(write_ms).median / 1e6;
    const double copy_gbs = 2 * bytes / bench::stats(variants[2].ms).median / 1e6;
    std::printf(
        "  -> one thread / two %.2fx; memory on two threads: read %.1f GB/s, write %.1f "
        "GB/s; the two-thread copy moves %.1f GB/s\n",
        bench::stats(variants[1].ms).median / bench::stats(variants[2].ms).median, read_gbs,
        write_gbs, copy_gbs);
    if (tsv)
        std::fprintf(
            tsv, "%d\t%d\tmemory-read-GBps\t%.2f\t%.2f\n%d\t%d\tmemory-write-GBps\t%.2f\t%.2f\n",
            width, height, read_gbs, read_gbs, width, height, write_gbs, write_gbs);
}

/// What the probe counted over the slices of one case.
struct Totals {
    double seconds = 0;
    long long ticks = 0, tick_ns = 0, picture_paints = 0, paint_ns = 0;
    long long status_paints = 0, window_paints = 0;
};

/// Plays one slice of a case: the size and conversion set through the window's
/// own commands, playback started with the right arrow, a short settling time,
/// then `seconds` of ticks counted into `t`.
void play_slice(ProbeApplication& app, Window& win, int shift, int convert, double seconds,
                Totals& t) {
    window_command(win, kCmdSizeOriginal + shift);
    if (win.viewer.store.convert != convert) window_command(win, kCmdConvert);
    window_key(win, kKeyRight);  // step +1, timer running
    run_events_for(0.2);         // settle: first frames, window size
    app.reset();
    const auto t0 = Clock::now();
    run_events_for(seconds);
    t.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    t.ticks += app.ticks;
    t.tick_ns += app.tick_ns;
    t.picture_paints += app.picture_paints;
    t.paint_ns += app.paint_ns;
    t.status_paints += app.status_paints;
    t.window_paints += app.window_paints;
    window_key(win, ' ');  // pause
}

/// The floor of one tick at the store's current size: the rows the size needs,
/// read from frame `frame` of the sequence, and one plain copy of the display
/// buffer. Milliseconds.
double floor_once(const std::string& file, const FrameStore& store, std::vector<std::uint8_t>& row,
                  std::vector<std::uint8_t>& copy) {
    const std::size_t bytes =
        static_cast<std::size_t>(display_width(store)) * display_height(store) * 4;
    const auto t0 = Clock::now();
    bench::read_needed_rows(file.c_str(), kDpxDataOffset, store.source_width, store.source_height,
                            store.shift, row.data());
    std::memcpy(copy.data(), store.pixels, bytes);
    return bench::ms_since(t0);
}

bool has(const std::string& list, const char* item);

/// What the presentations of one phase of a timed run came to.
struct Phase {
    long long shown = 0, dropped = 0;
    double fps = 0, median_ms = 0, p99_ms = 0;
};

struct TimedResult {
    Phase first, later;
    long long window_dropped = 0;
    long long hits = 0, misses = 0;
    int loops = 0;
    double peak_rss_mb = 0;
};

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t at =
        static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size()))) - 1;
    return v[std::min(at, v.size() - 1)];
}

/// Resident memory of this process, megabytes.
double resident_mb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
    std::fclose(f);
    return static_cast<double>(kb) / 1024;
}

/// Splits the presentations of a run into its first loop and the loops after
/// it (up to `loops` in all): frames shown per second, frames never shown on
/// the way (dropped), and the presentation intervals.
void analyse(const std::vector<std::pair<long long, int>>& shown, int count, int loops,
             TimedResult& out) {
    std::vector<double> intervals[2];
    long long dropped[2] = {0, 0};
    int loop = 0;
    int previous = 0;  // the run starts on frame 0, already shown
    long long previous_ns = -1;
    for (const auto& [ns, frame] : shown) {
        if (frame < previous) ++loop;
        if (loop >= loops) break;
        const int phase = loop == 0 ? 0 : 1;
        const int gap = frame > previous ? frame - previous - 1 : count - 1 - previous + frame;
        dropped[phase] += gap;
        if (previous_ns >= 0)
            intervals[phase].push_back(static_cast<double>(ns - previous_ns) / 1e6);
        previous = frame;
        previous_ns = ns;
    }
    out.loops = loop;
    Phase* phases[2] = {&out.first, &out.later};
    for (int p = 0; p < 2; ++p) {
        Phase& ph = *phases[p];
        ph.shown = static_cast<long long>(intervals[p].size());
        ph.dropped = dropped[p];
        double total = 0;
        for (double v : intervals[p]) total += v;
        ph.fps = total > 0 ? static_cast<double>(intervals[p].size()) / (total / 1000) : 0;
        ph.median_ms = bench::stats(intervals[p]).median;
        ph.p99_ms = percentile(intervals[p], 0.99);
    }
}

/// One timed run through the real window: the sequence opened afresh (its
/// cache empty), the size, conversion and rate chosen through the menus,
/// played with the right arrow for `loops` loops or `limit_s` seconds.
TimedResult timed_run(ProbeApplication& app, Window& win, MainWindow& main,
                      const std::vector<std::string>& files, int shift, int convert, int rate_id,
                      bool from_disk, int loops, double limit_s) {
    main.open_dropped(QString::fromStdString(files[0]));
    window_command(win, kCmdSizeOriginal + shift);
    if (win.viewer.store.convert != convert) window_command(win, kCmdConvert);
    window_command(win, rate_id);
    run_events_for(0.1);
    if (from_disk)
        for (const std::string& f : files) file_evict_cache(f.c_str());
    app.presented.clear();
    app.shown_of = &win;
    app.record = true;
    TimedResult r;
    const double rss0 = resident_mb();
    win.playback.cache_hits = win.playback.cache_misses = 0;
    window_key(win, kKeyRight);
    const auto t0 = Clock::now();
    const int count = static_cast<int>(files.size());
    for (;;) {
        run_events_for(0.02);
        r.peak_rss_mb = std::max(r.peak_rss_mb, resident_mb() - rss0);
        int wraps = 0;
        for (std::size_t i = 1; i < app.presented.size(); ++i)
            wraps += app.presented[i].second < app.presented[i - 1].second;
        if (!app.presented.empty() && app.presented[0].second == 0) ++wraps;
        if (wraps >= loops || bench::ms_since(t0) > limit_s * 1000) break;
    }
    r.window_dropped = win.playback.clock.dropped;
    r.hits = win.playback.cache_hits;
    r.misses = win.playback.cache_misses;
    app.record = false;
    window_key(win, ' ');
    if (std::getenv("KARVELIN_BENCH_DUMP")) {
        std::vector<std::uint8_t> ready;
        cache_ready_frames(win.playback.cache, ready);
        int n = 0;
        for (std::uint8_t x : ready) n += x;
        std::fprintf(stderr, "budget %.0f MB held %.0f MB ready %d of %zu hits %lld misses %lld\n",
                     cache_budget(win.playback.cache) / 1e6, cache_held(win.playback.cache) / 1e6,
                     n, ready.size(), static_cast<long long>(win.playback.cache_hits),
                     static_cast<long long>(win.playback.cache_misses));
    }
    if (std::getenv("KARVELIN_BENCH_DUMP"))
        for (const auto& [ns, frame] : app.presented)
            std::fprintf(stderr, "%.2f %d\n",
                         static_cast<double>(ns - app.presented[0].first) / 1e6, frame);
    analyse(app.presented, count, loops, r);
    return r;
}

/// The disk's floor for a first loop: every frame's file dropped from the page
/// cache, then read whole with large reads. Frames per second.
double disk_floor_fps(const std::vector<std::string>& files) {
    for (const std::string& f : files) file_evict_cache(f.c_str());
    std::vector<std::uint8_t> buffer(std::size_t{8} << 20);
    const auto t0 = Clock::now();
    for (const std::string& f : files) {
        std::FILE* in = std::fopen(f.c_str(), "rb");
        if (!in) return 0;
        while (std::fread(buffer.data(), 1, buffer.size(), in) > 0) {
        }
        std::fclose(in);
    }
    return static_cast<double>(files.size()) / (bench::ms_since(t0) / 1000);
}

/// The page cache's floor of one frame at `shift`: the rows the size needs
/// read from every file of the sequence, in frames per second.
double read_floor_fps(const std::vector<std::string>& files, int width, int height, int shift) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(kMaxFrameWidth) * 6);
    const auto t0 = Clock::now();
    for (const std::string& f : files)
        bench::read_needed_rows(f.c_str(), kDpxDataOffset, width, height, shift, row.data());
    return static_cast<double>(files.size()) / (bench::ms_since(t0) / 1000);
}

/// Playback in time: 24, 50 and 60 fps through the window, first loop and the
/// loops after it, from the page cache and (4K at 1/1 and 1/4) from disk; and
/// the resident memory with a 1 GB cache on a sequence larger than that.
int timed_cases(ProbeApplication& app, Window& win, MainWindow& main, const std::string& dir,
                const std::string& sizes, const std::string& shifts, bool only_off,
                const std::string& tsv_path, int loops) {
    struct Seq {
        const char* name;
        const char* stem;
        int width, height, frames;
    };
    const Seq seqs[] = {{"4K", "timed_uhd", 3840, 2160, 24}, {"8K", "timed_fuhd", 7680, 4320, 12}};
    const struct {
        int id;
        double rate;
    } rates[] = {{kCmdRate24, 24}, {kCmdRate50, 50}, {kCmdRate60, 60}};
    const char* size_names[] = {"1/1", "1/2", "1/4", "1/8"};
    std::FILE* tsv = tsv_path.empty() ? nullptr : std::fopen(tsv_path.c_str(), "w");
    if (tsv)
        std::fprintf(tsv,
                     "source\tframe\tsize\tconvert\trate\tphase\tfps_over_rate\tdropped\t"
                     "window_dropped\tmedian_ms\tp99_ms\tfloor_fps\tpeak_rss_mb\tcached_share\n");
    std::printf("%-6s %-5s %-4s %-4s %5s %-6s %8s %7s %7s %9s %8s %9s %7s\n", "source", "frame",
                "size", "conv", "rate", "loop", "fps/rate", "dropped", "window", "median ms",
                "p99 ms", "floor fps", "cached");
    auto print = [&](const char* source, const Seq& s, int shift, int convert, double rate,
                     const char* phase, const Phase& p, const TimedResult& r, double floor_fps) {
        // Of the frames the run showed, the share taken from the cache.
        const double cached = r.hits + r.misses > 0 ? static_cast<double>(r.hits) /
                                                          static_cast<double>(r.hits + r.misses)
                                                    : 0;
        std::printf("%-6s %-5s %-4s %-4s %5.0f %-6s %8.3f %7lld %7lld %9.2f %8.2f %9.1f %7.2f\n",
                    source, s.name, size_names[shift], convert ? "on" : "off", rate, phase,
                    p.fps / rate, p.dropped, r.window_dropped, p.median_ms, p.p99_ms, floor_fps,
                    cached);
        if (tsv)
            std::fprintf(
                tsv, "%s\t%s\t%d\t%d\t%.3f\t%s\t%.4f\t%lld\t%lld\t%.3f\t%.3f\t%.2f\t%.1f\t%.3f\n",
                source, s.name, shift, convert, rate, phase, p.fps / rate, p.dropped,
                r.window_dropped, p.median_ms, p.p99_ms, floor_fps, r.peak_rss_mb, cached);
        std::fflush(stdout);
    };
    for (const Seq& s : seqs) {
        if (!has(sizes, s.name[0] == '4' ? "4k" : "8k")) continue;
        if (prepare_sequence(dir, s.stem, s.width, s.height, s.frames, false) != 0) return 1;
        std::vector<std::string> files;
        for (int f = 0; f < s.frames; ++f) files.push_back(frame_file(dir, s.stem, f, s.frames));
        for (int shift = 0; shift <= 3; ++shift) {
            if (shifts.find(static_cast<char>('0' + shift)) == std::string::npos) continue;
            const double floor = read_floor_fps(files, s.width, s.height, shift);
            for (int convert = 0; convert < (only_off ? 1 : 2); ++convert)
                for (const auto& rate : rates) {
                    const TimedResult r =
                        timed_run(app, win, main, files, shift, convert, rate.id, false, loops,
                                  6 + 3.0 * s.frames / rate.rate * loops);
                    print("cache", s, shift, convert, rate.rate, "first", r.first, r, floor);
                    print("cache", s, shift, convert, rate.rate, "later", r.later, r, floor);
                }
        }
        if (s.width == 3840) {
            // From disk: the first loop only, beside what the disk gives.
            for (int shift : {0, 2}) {
                const double floor = disk_floor_fps(files);
                for (const auto& rate : rates) {
                    const TimedResult r = timed_run(app, win, main, files, shift, 0, rate.id, true,
                                                    1, 6 + 2.0 * s.frames / rate.rate);
                    print("disk", s, shift, 0, rate.rate, "first", r.first, r, floor);
                }
            }
        }
        if (s.width == 7680) {
            // A 1 GB cache on a sequence of 1.6 GB at 1/1: the resident size
            // may not grow past the budget by more than a tenth.
            playback_shutdown(win);
            win.playback.cache = cache_create(
                std::uint64_t{1} << 30, cache_worker_count(processor_count()), &win.viewer.tables);
            win.playback.cached_opens = ~std::uint64_t{0};
            const TimedResult r = timed_run(app, win, main, files, 0, 0, kCmdRate24, false, 3, 30);
            print("1GB", s, 0, 0, 24, "first", r.first, r, 0);
            print("1GB", s, 0, 0, 24, "later", r.later, r, 0);
            std::printf(
                "1 GB cache on 8K 1/1 (%d frames, %.1f GB decoded): resident size grew by "
                "at most %.0f MB (budget 1024 MB)\n",
                s.frames, s.frames * 7680.0 * 4320 * 4 / 1e9, r.peak_rss_mb);
        }
    }
    if (tsv) std::fclose(tsv);
    return 0;
}

bool has(const std::string& list, const char* item) {
    return list.find(item) != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 3;
    std::string dir = (std::filesystem::temp_directory_path() / "karvelin-playback-bench").string();
    std::string sequences_wanted = "smooth,grain", sizes = "4k,8k", shifts = "0123", tsv_path,
                copy_tsv_path;
    bool only_off = false;
    bool copy_only = false;
    bool timed = false;
    std::string timed_tsv;
    // Loops of each timed run from the page cache: the first, then the later
    // ones, which a short sequence may need several of to have every frame
    // decoded ahead when the workers are slower than the rate.
    int loops = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--seconds") seconds = std::atof(argv[i + 1]);
        if (a == "--dir") dir = argv[i + 1];
        if (a == "--sequences") sequences_wanted = argv[i + 1];
        if (a == "--sizes") sizes = argv[i + 1];
        if (a == "--shifts") shifts = argv[i + 1];
        if (a == "--only-off") only_off = std::atoi(argv[i + 1]) != 0;
        if (a == "--copy-only") copy_only = std::atoi(argv[i + 1]) != 0;
        if (a == "--tsv") tsv_path = argv[i + 1];
        if (a == "--copy-tsv") copy_tsv_path = argv[i + 1];
        if (a == "--timed") timed = std::atoi(argv[i + 1]) != 0;
        if (a == "--timed-tsv") timed_tsv = argv[i + 1];
        if (a == "--loops") loops = std::max(2, std::atoi(argv[i + 1]));
    }
    struct Sequence {
        const char* name;
        const char* stem;
        int width, height, frames;
        bool grain;
    };
    std::vector<Sequence> sequences;
    for (const Sequence& s : {Sequence{"smooth", "uhd", 3840, 2160, 8, false},
                              Sequence{"smooth", "fuhd", 7680, 4320, 4, false},
                              Sequence{"grain", "grain_uhd", 3840, 2160, 8, true},
                              Sequence{"grain", "grain_fuhd", 7680, 4320, 4, true}})
        if (has(sequences_wanted, s.name) && has(sizes, s.width == 3840 ? "4k" : "8k"))
            sequences.push_back(s);
    if (prepare_sequence(dir, "uhd", 3840, 2160, 8, false) != 0) return 1;
    for (const Sequence& s : sequences) {
        if (prepare_sequence(dir, s.stem, s.width, s.height, s.frames, s.grain) != 0) {
            std::fprintf(stderr, "cannot write the bench sequences under %s\n", dir.c_str());
            return 1;
        }
    }

    // Start-up to the first painted picture, the viewer's own order.
    const auto t_start = Clock::now();
    ProbeApplication app(argc, argv);
    static Window win;
    install_error_boxes(win);
    const std::string first = dir + "/uhd_0.dpx";
    // As the program starts: the default cache (half the memory available).
    CommandLine options;
    if (window_startup(win, first.c_str(), &options) != 0) return 1;
    MainWindow main(win);
    app.timer = &main.timer();
    app.picture = main.picture();
    app.status = main.status();
    app.window = &main;
    window_created(win);
    main.show();
    while (app.picture_paints == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double startup_ms = bench::ms_since(t_start);

    std::printf("platform %s, %g s per case, 16 ms timer (62.5 fps at most)\n",
                qPrintable(QGuiApplication::platformName()), seconds);
    std::printf("start-up to first painted 3840x2160 picture at 1/4: %.0f ms\n\n", startup_ms);
    // The window never grows past the screen's available area: on a smaller
    // screen a full-size picture is only partly painted and its ticks look cheap.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    if (screen.width() < 7680 || screen.height() < 4320 + 100)
        std::printf(
            "warning: the screen (%dx%d) is smaller than 7680x4320 and the bars; the\n"
            "largest pictures are painted only in part (offscreen: use a configfile\n"
            "with a larger screen, as scripts/perf-report.sh does)\n\n",
            screen.width(), screen.height());
    if (timed) {
        const int code =
            timed_cases(app, win, main, dir, sizes, shifts, only_off, timed_tsv, loops);
        window_shutdown(win);
        return code;
    }
    std::FILE* copy_tsv = copy_tsv_path.empty() ? nullptr : std::fopen(copy_tsv_path.c_str(), "w");
    if (copy_tsv) std::fprintf(copy_tsv, "width\theight\tvariant\tmedian_ms\tmin_ms\n");
    compare_copies(7680, 4320, copy_tsv);
    compare_copies(3840, 2160, copy_tsv);
    compare_copies(1920, 1080, copy_tsv);
    if (copy_tsv) std::fclose(copy_tsv);
    std::printf("\n");
    if (copy_only) return 0;

    std::FILE* tsv = tsv_path.empty() ? nullptr : std::fopen(tsv_path.c_str(), "w");
    if (tsv)
        std::fprintf(tsv,
                     "sequence\tsize\tshift\tconvert\tfps\tms_tick\tms_paint\tfloor_ms\t"
                     "paints_per_tick\n");
    std::printf("%-7s %-9s %-8s %-8s %6s %8s %8s %8s %10s  %s\n", "picture", "frame", "size",
                "convert", "fps", "ms/tick", "paint", "floor", "tick/floor",
                "paints/tick picture,status,window");
    const char* size_names[] = {"Original", "1/2", "1/4", "1/8"};
    std::vector<std::uint8_t> row(static_cast<std::size_t>(kMaxFrameWidth) * 6);
    std::vector<std::uint8_t> copy(static_cast<std::size_t>(kMaxFrameWidth) * kMaxFrameHeight * 4);
    for (const Sequence& s : sequences) {
        main.open_dropped(QString::fromStdString(dir + "/" + s.stem + "_0.dpx"));
        for (int shift = 0; shift <= 3; ++shift) {
            if (shifts.find(static_cast<char>('0' + shift)) == std::string::npos) continue;
            Totals t[2];
            std::vector<double> floors;
            int frame = 0;
            // Conversion off and on in alternating slices, with the floor timed
            // between them at the size they play, so that load from elsewhere
            // on a shared machine falls on all three alike.
            const int converts = only_off ? 1 : 2;
            for (int slice = 0; slice < 3; ++slice) {
                for (int convert = 0; convert < converts; ++convert) {
                    play_slice(app, win, shift, convert, seconds / 3, t[convert]);
                    for (int k = 0; k < 3; ++k, frame = (frame + 1) % s.frames)
                        floors.push_back(
                            floor_once(dir + "/" + s.stem + "_" + std::to_string(frame) + ".dpx",
                                       win.viewer.store, row, copy));
                }
            }
            const double floor_ms = bench::stats(floors).median;
            const std::string frame_name = std::to_string(s.width) + "x" + std::to_string(s.height);
            double fps[2] = {0, 0};
            for (int convert = 0; convert < converts; ++convert) {
                const Totals& x = t[convert];
                const double ticks = x.ticks > 0 ? static_cast<double>(x.ticks) : 1;
                fps[convert] = static_cast<double>(x.ticks) / x.seconds;
                const double ms_tick = static_cast<double>(x.tick_ns) / 1e6 / ticks;
                const double ms_paint =
                    x.picture_paints ? static_cast<double>(x.paint_ns) / 1e6 / x.picture_paints : 0;
                std::printf("%-7s %-9s %-8s %-8s %6.1f %8.2f %8.2f %8.2f %10.2f  %.2f,%.2f,%.2f\n",
                            s.name, frame_name.c_str(), size_names[shift], convert ? "on" : "off",
                            fps[convert], ms_tick, ms_paint, floor_ms, ms_tick / floor_ms,
                            static_cast<double>(x.picture_paints) / ticks,
                            static_cast<double>(x.status_paints) / ticks,
                            static_cast<double>(x.window_paints) / ticks);
                if (tsv)
                    std::fprintf(tsv, "%s\t%s\t%d\t%d\t%.2f\t%.3f\t%.3f\t%.3f\t%.2f\n", s.name,
                                 s.width == 3840 ? "4K" : "8K", shift, convert, fps[convert],
                                 ms_tick, ms_paint, floor_ms,
                                 static_cast<double>(x.picture_paints) / ticks);
            }
            if (converts == 2 && fps[0] > 0)
                std::printf("%-7s %-9s %-8s on/off  %6.2fx fps\n", s.name, frame_name.c_str(),
                            size_names[shift], fps[1] / fps[0]);
            std::fflush(stdout);
        }
    }
    if (tsv) std::fclose(tsv);
    window_shutdown(win);
    return 0;
}
