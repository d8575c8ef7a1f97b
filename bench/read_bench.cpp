// Milliseconds per frame of the DPX reader in every layout it shows and of the
// planar reader, from the page cache, at 3840x2160 and 7680x4320, every shift,
// conversion off and on, measured in rounds side by side with two floors on the
// same files:
//   whole  - the whole file (or each whole plane) in one read, no pixel work;
//   rows   - pread of exactly the rows the shift needs (each the layout's own
//            row bytes), one call per row, into one buffer, no pixel work.
// Also the peak resident memory of a process that reads an 8K frame at 1/1.
// With --marks: the grainy 16-bit picture at 4K and 8K, every shift, read with
// the range and gamut marks off and on (marked pixels painted as the rows are
// made, and counted afterwards, as the window does), side by side: the time a
// read takes with the helper thread, and the processor time it costs on one
// thread (which load from elsewhere disturbs far less).
// Frames are generated into a temporary folder that is removed afterwards.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "color/bt2020.h"
#include "core/formats/dpx_layout.h"
#include "core/helper_thread.h"
#include "core/readers.h"
#include "tests/core/dpx_test_files.h"
#include "tools/frame_files.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A picture with smooth ramps and fine detail, so that neighbouring pixels differ
// as in real material: red ramps across, green down, blue is a fine checker.
void picture_row(int width, int height, int y, std::vector<std::uint16_t>& rgb) {
    rgb.resize(static_cast<std::size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        rgb[3 * x] = static_cast<std::uint16_t>(4096 + (x * 56000LL) / width);
        rgb[3 * x + 1] = static_cast<std::uint16_t>(4096 + (y * 56000LL) / height);
        rgb[3 * x + 2] = static_cast<std::uint16_t>(((x ^ y) & 0x3F) * 900 + 4096);
    }
}

/// A DPX layout to measure: the header's descriptor, bit size and packing.
struct Layout {
    const char* name;
    int descriptor, bits, packing;
};

constexpr Layout kLayouts[] = {
    {"rgb16", 50, 16, 0},  {"rgba16", 51, 16, 0},  {"abgr16", 52, 16, 0}, {"rgb12a", 50, 12, 1},
    {"rgb12b", 50, 12, 2}, {"rgb12p", 50, 12, 0},  {"rgb10a", 50, 10, 1}, {"rgb10b", 50, 10, 2},
    {"rgb10p", 50, 10, 0}, {"rgba10a", 51, 10, 1}, {"rgb8", 50, 8, 0},    {"rgba8", 51, 8, 0},
};

bool write_dpx(const std::string& path, int width, int height, const Layout& layout) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const std::vector<std::uint8_t> header =
        layout_file(width, height, layout.descriptor, layout.bits, layout.packing, {});
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    std::vector<std::uint16_t> rgb;
    std::vector<std::uint32_t> samples;
    for (int y = 0; ok && y < height; ++y) {
        picture_row(width, height, y, rgb);
        samples.clear();
        for (int x = 0; x < width; ++x) {
            const std::uint16_t* px = &rgb[3 * static_cast<std::size_t>(x)];
            if (layout.descriptor == 52)
                samples.insert(samples.end(), {0xFFFF, px[2], px[1], px[0]});
            else
                samples.insert(samples.end(), px, px + 3);
            if (layout.descriptor == 51) samples.push_back(0xFFFF);
        }
        for (std::uint32_t& s : samples) s >>= 16 - layout.bits;
        const std::vector<std::uint8_t> row = dpx_row(samples, layout.bits, layout.packing);
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return std::fclose(f) == 0 && ok;
}

bool write_planes(const std::string& base, int width, int height) {
    bool ok = true;
    for (int p = 0; ok && p < 3; ++p) {
        std::FILE* f = std::fopen((base + "rgb"[p]).c_str(), "wb");
        if (!f) return false;
        std::vector<std::uint16_t> rgb;
        std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 2);
        for (int y = 0; ok && y < height; ++y) {
            picture_row(width, height, y, rgb);
            for (int x = 0; x < width; ++x) {
                const std::uint16_t s = rgb[3 * x + p] >> 4;  // 12 bits
                row[2 * x] = static_cast<std::uint8_t>(s >> 8);
                row[2 * x + 1] = static_cast<std::uint8_t>(s);
            }
            ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
        }
        ok = std::fclose(f) == 0 && ok;
    }
    return ok;
}

struct Frame {
    bool planar;
    int width, height;
    std::string path;                // DPX file, or the red plane
    std::vector<std::string> files;  // every file of the frame
    std::size_t data_offset;         // bytes before the first row in each file
    std::size_t row_bytes;           // bytes of one row's samples in each file
    std::size_t row_stride;          // bytes from one row to the next
};

// Floor: each file of the frame in one read.
double floor_whole(const Frame& f, std::vector<std::uint8_t>& buffer) {
    const auto t0 = Clock::now();
    std::size_t at = 0;
    for (const std::string& name : f.files) {
        const int fd = ::open(name.c_str(), O_RDONLY);
        struct stat st;
        ::fstat(fd, &st);
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(st.st_size)) {
            const ssize_t n = ::read(fd, buffer.data() + at + done, st.st_size - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        at += done;
        ::close(fd);
    }
    return ms_since(t0);
}

// Floor: pread of exactly the rows the shift uses, one call per row and file.
double floor_rows(const Frame& f, int shift, std::vector<std::uint8_t>& buffer) {
    const auto t0 = Clock::now();
    int fds[3];
    const int nfiles = static_cast<int>(f.files.size());
    for (int i = 0; i < nfiles; ++i) fds[i] = ::open(f.files[i].c_str(), O_RDONLY);
    std::size_t at = 0;
    const int rows = f.height >> shift;
    for (int d = rows - 1; d >= 0; --d) {
        const std::size_t top = static_cast<std::size_t>(f.height - 1 - (d << shift));
        for (int i = 0; i < nfiles; ++i) {
            if (::pread(fds[i], buffer.data() + at, f.row_bytes,
                        static_cast<off_t>(f.data_offset + top * f.row_stride)) < 0)
                std::abort();
            at += f.row_bytes;
        }
    }
    for (int i = 0; i < nfiles; ++i) ::close(fds[i]);
    return ms_since(t0);
}

double time_reader(const Frame& f, FrameStore& store, const ConversionTables& tables,
                   std::string& path) {
    path = f.path;
    const auto t0 = Clock::now();
    const int r = f.planar ? read_planar_frame(path.data(), store, tables)
                           : read_dpx_frame(path.c_str(), store, tables);
    const double ms = ms_since(t0);
    if (r != 0 || store.size_recorded) {
        std::fprintf(stderr, "read failed: %s\n", f.path.c_str());
        std::exit(1);
    }
    return ms;
}

long peak_kib() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld", &kib) == 1) break;
    std::fclose(f);
    return kib;
}

// Child mode: read the frame at 1/1 a few times, then report the peak.
int peak_child(const char* path, bool planar) {
    ConversionTables tables{};
    build_conversion_tables(tables);
    FrameStore store;
    store.source_width = 7680;
    store.source_height = 4320;
    store.shift = 0;
    if (reallocate_display(store) != 0) return 1;
    start_frame_helper();
    std::string p = path;
    for (int i = 0; i < 3; ++i) {
        p = path;
        const int r = planar ? read_planar_frame(p.data(), store, tables)
                             : read_dpx_frame(p.c_str(), store, tables);
        if (r != 0) return 1;
    }
    std::printf("%ld\n", peak_kib());
    release_display(store);
    return 0;
}

long measure_peak(const char* self, const Frame& f) {
    int pipefd[2];
    if (::pipe(pipefd) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        ::execl(self, self, "--peak", f.path.c_str(), f.planar ? "planar" : "dpx",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipefd[1]);
    char text[64] = {0};
    const ssize_t n = ::read(pipefd[0], text, sizeof text - 1);
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return n > 0 ? std::atol(text) : -1;
}

void remove_frame(const Frame& f) {
    for (const std::string& name : f.files) std::remove(name.c_str());
}

// Writes the frame of `layout` (nullptr: planar) at 4K or 8K into `folder`.
bool make_frame(const std::string& folder, const Layout* layout, bool big, Frame& f) {
    f.planar = layout == nullptr;
    f.width = big ? 7680 : 3840;
    f.height = big ? 4320 : 2160;
    const char* tag = big ? "8K" : "4K";
    if (f.planar) {
        const std::string base = folder + "/frame." + tag + ".";
        f.path = base + "r";
        f.files = {base + "r", base + "g", base + "b"};
        f.data_offset = 0;
        f.row_bytes = f.row_stride = static_cast<std::size_t>(planar_row_bytes(f.width));
        return write_planes(base, f.width, f.height);
    }
    f.path = folder + "/frame." + tag + ".dpx";
    f.files = {f.path};
    if (!write_dpx(f.path, f.width, f.height, *layout)) return false;
    // The rows as the reader finds them.
    const FileHandle file = file_open_read(f.path.c_str());
    DpxHeader h{};
    const int parsed = read_dpx_header(file, &h, nullptr);
    file_close(file);
    f.data_offset = h.data_offset;
    f.row_bytes = h.row_bytes;
    f.row_stride = h.row_stride;
    return parsed == 0;
}

// The marks cases of one read, in the order they are timed.
enum MarkCase { kPlain, kRange, kConverted, kGamut, kBoth, kBothAfter, kMarkCases };
const char* const kMarkCaseNames[kMarkCases] = {"off",   "range",   "709",
                                                "709+g", "709+g+r", "709+g+r after"};

// One read of `c`: the marks painted as the rows are made, or (kBothAfter, the
// window with its scopes open) painted over the picture afterwards; both counted.
double thread_cpu_ms() {
    timespec t;
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// One read of case `c`: wall time with the helper thread, or (`cpu`) the
// calling thread's processor time doing all of it alone.
double time_marked(const Frame& f, FrameStore& store, const ConversionTables& tables,
                   PixelMarks& marks, int c, bool cpu, std::string& path, std::int64_t* marked) {
    g_share_frames = cpu ? 0 : 1;
    store.convert = c >= kConverted;
    marks.gamut = c >= kGamut;
    marks.range = c == kRange || c >= kBoth;
    marks.paint = c != kBothAfter;
    store.marks = c == kPlain || c == kConverted ? nullptr : &marks;
    const auto t0 = Clock::now();
    const double c0 = thread_cpu_ms();
    path = f.path;
    if (read_dpx_frame(path.c_str(), store, tables) != 0) std::exit(1);
    const int w = display_width(store), h = display_height(store);
    if (store.marks) {
        if (!marks.paint) paint_marks(marks, marks.gamut, marks.range, store.pixels, w, h);
        *marked = count_marks(marks, marks.gamut ? marks.gamut_bits : nullptr, w, h) +
                  count_marks(marks, marks.range ? marks.range_bits : nullptr, w, h);
    }
    const double ms = cpu ? thread_cpu_ms() - c0 : ms_since(t0);
    g_share_frames = 1;
    return ms;
}

int run_marks(const std::string& folder, const ConversionTables& tables, bool quick) {
    PixelMarks marks;
    if (alloc_marks(marks, kMaxFrameWidth, kMaxFrameHeight) != 0) return 1;
    std::printf("%-9s %5s %-14s %17s %8s %13s %8s\n", "size", "scale", "case", "wall (min)", "cpu",
                "ratio wall", "cpu");
    for (int big = 0; big <= 1; ++big) {
        Frame f;
        f.width = big ? 7680 : 3840;
        f.height = big ? 4320 : 2160;
        f.path = folder + (big ? "/grain.8K.dpx" : "/grain.4K.dpx");
        f.files = {f.path};
        const std::vector<std::uint16_t> rgb = bench::make_grain_picture(f.width, f.height);
        if (write_dpx_file(f.path, f.width, f.height, rgb.data()) != 0) return 1;
        std::vector<std::uint8_t> buffer(rgb.size() * 2 + 65536, 1);
        floor_whole(f, buffer);
        const int rounds = quick ? 3 : (big ? 11 : 21);
        for (int shift = 0; shift <= 3; ++shift) {
            FrameStore store;
            store.source_width = f.width;
            store.source_height = f.height;
            store.shift = shift;
            if (reallocate_display(store) != 0) return 1;
            std::string path;
            std::vector<double> ms[kMarkCases], cpu[kMarkCases];
            std::int64_t marked[kMarkCases] = {};
            for (int c = 0; c < kMarkCases; ++c)
                time_marked(f, store, tables, marks, c, false, path, &marked[c]);
            // Rounds of every case in turn, so that load from elsewhere hits all alike.
            for (int round = 0; round < rounds; ++round)
                for (int c = 0; c < kMarkCases; ++c) {
                    ms[c].push_back(
                        time_marked(f, store, tables, marks, c, false, path, &marked[c]));
                    cpu[c].push_back(
                        time_marked(f, store, tables, marks, c, true, path, &marked[c]));
                }
            const double pixels = static_cast<double>(display_width(store)) * display_height(store);
            for (int c = 0; c < kMarkCases; ++c) {
                const bench::Stats st = bench::stats(ms[c]), sc = bench::stats(cpu[c]);
                const int base = c == kRange ? kPlain : c >= kGamut ? kConverted : c;
                char ratio[96] = "";
                if (base != c)
                    std::snprintf(ratio, sizeof ratio, "%5.2fx %-5s %5.2fx   %.1f%% marked",
                                  st.median / bench::stats(ms[base]).median, kMarkCaseNames[base],
                                  sc.median / bench::stats(cpu[base]).median,
                                  100.0 * marked[c] / pixels);
                std::printf("%-9s %5s %-14s %8.2f (%6.2f) %8.2f  %s\n",
                            big ? "7680x4320" : "3840x2160",
                            (const char*[]){"1/1", "1/2", "1/4", "1/8"}[shift], kMarkCaseNames[c],
                            st.median, st.min, sc.median, ratio);
            }
            std::fflush(stdout);
            store.marks = nullptr;
            release_display(store);
        }
        remove_frame(f);
    }
    release_marks(marks);
    ::rmdir(folder.c_str());
    std::printf(
        "\nms per frame (read, paint and count of the marks), medians of rounds run side by\n"
        "side: wall time with the helper thread (and its min), and processor time on one\n"
        "thread; ratios of medians against the same read without marks. \"marked\": the\n"
        "marks counted (gamut and range together).\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--peak") == 0)
        return peak_child(argv[2], std::strcmp(argv[3], "planar") == 0);

    // Runs per case: fewer for the big frames. "--quick" for a fast smoke run;
    // "--only NAME" for one layout ("planar" for the planar reader).
    bool quick = false, marks = false;
    const char* only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        if (std::strcmp(argv[i], "--marks") == 0) marks = true;
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/karvelin-read-bench-XXXXXX";
    if (!::mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }

    ConversionTables tables{};
    build_conversion_tables(tables);
    start_frame_helper();
    if (marks) return run_marks(folder, tables, quick);

    std::printf("%-7s %-9s %5s %7s %7s %7s %7s %7s %7s %7s %7s %7s\n", "format", "size", "scale",
                "whole", "rows", "off1", "off", "on", "off1/rw", "off/row", "off/whl", "on/off");
    const int kinds = static_cast<int>(std::size(kLayouts)) + 1;
    long peaks[2] = {-1, -1};
    for (int kind = 0; kind < kinds; ++kind) {
        const Layout* layout = kind < kinds - 1 ? &kLayouts[kind] : nullptr;
        const char* name = layout ? layout->name : "planar";
        if (only && std::strcmp(only, name) != 0) continue;
        for (int big = 0; big <= 1; ++big) {
            Frame f;
            if (!make_frame(folder, layout, big, f)) return 1;
            std::size_t total = 0;
            for (const std::string& file : f.files) {
                struct stat st;
                if (::stat(file.c_str(), &st) != 0) return 1;
                total += static_cast<std::size_t>(st.st_size);
            }
            std::vector<std::uint8_t> buffer(total, 1);  // touched, so no page faults in the timing
            floor_whole(f, buffer);                      // into the page cache

            const int runs = quick ? 3 : (big ? 11 : 21);
            for (int shift = 0; shift <= 3; ++shift) {
                FrameStore store;
                store.source_width = f.width;
                store.source_height = f.height;
                store.shift = shift;
                if (reallocate_display(store) != 0) return 1;
                std::string path;
                time_reader(f, store, tables, path);  // touch the display once
                std::vector<double> whole, rows, off1, off, on;
                for (int i = 0; i < runs; ++i) {
                    whole.push_back(floor_whole(f, buffer));
                    rows.push_back(floor_rows(f, shift, buffer));
                    store.convert = 0;
                    g_share_frames = 0;
                    off1.push_back(time_reader(f, store, tables, path));
                    g_share_frames = 1;
                    off.push_back(time_reader(f, store, tables, path));
                    store.convert = 1;
                    on.push_back(time_reader(f, store, tables, path));
                }
                const double w = median(whole), r = median(rows), o1 = median(off1),
                             o = median(off), c = median(on);
                std::printf("%-7s %-9s %5s %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f\n",
                            name, big ? "7680x4320" : "3840x2160",
                            (const char*[]){"1/1", "1/2", "1/4", "1/8"}[shift], w, r, o1, o, c,
                            o1 / r, o / r, o / w, c / o);
                std::fflush(stdout);
                release_display(store);
            }
            if (big && (kind == 0 || !layout)) peaks[layout ? 0 : 1] = measure_peak(argv[0], f);
            remove_frame(f);
        }
    }
    ::rmdir(folder.c_str());
    std::printf(
        "\nms per frame, median of rounds run side by side. whole, rows: the two floors (rows\n"
        "reads each used row's own bytes, padding left out); off1: conversion off on one\n"
        "thread; off, on: conversion off/on, frames shared with the helper thread when large\n"
        "enough. Layouts: rgb/rgba/abgr, bits per sample, filled method a or b, or packed.\n");
    for (int planar = 0; planar <= 1; ++planar)
        if (peaks[planar] >= 0)
            std::printf("peak resident, 8K %s at 1/1: %.1f MB (pixel buffer 132.7 MB)\n",
                        planar ? "planar" : "rgb16 dpx", peaks[planar] * 1024.0 / 1e6);
    return 0;
}
