// Playback from disk: a sequence of 3840x2160 DPX frames is dropped from the
// page cache (and the drop checked page by page), then played forwards through
// the viewer's checked load, one frame per tick, at 1/4 and 1/1, with no
// read-ahead and with the read-ahead hint of the next frame (needed rows only,
// or the whole file). Two pacings: ticks back to back (how fast the disk lets
// it go) and ticks every 16 ms as the window's timer gives them (where the hint
// has the time between ticks to work). Reports frames per second, beside the
// disk's own floor measured in the same rounds: the same dropped frames read
// whole with large sequential reads and nothing else.
// Frames are written to a temporary folder (--dir PARENT, default the system's
// temporary folder; it must be on a disk: a RAM file system cannot drop pages),
// removed afterwards.
//
// usage: cold_bench [--frames N] [--rounds N] [--tsv FILE] [--dir PARENT]
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_common.h"
#include "core/helper_thread.h"
#include "core/loading.h"
#include "core/prefetch.h"
#include "platform/platform.h"
#include "tools/frame_files.h"

namespace {

using bench::Clock;

double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Streams one frame to disk: a gradient that differs per frame.
int write_frame(const std::string& path, int width, int height, int number) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return -1;
    const std::vector<std::uint8_t> header = make_dpx_header(width, height);
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 6);
    for (int y = 0; ok && y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint16_t v[3] = {static_cast<std::uint16_t>(x * 17 + number * 911),
                                        static_cast<std::uint16_t>(y * 29 + number * 577),
                                        static_cast<std::uint16_t>((x ^ y) * 13)};
            for (int c = 0; c < 3; ++c) {
                row[6 * x + 2 * c] = static_cast<std::uint8_t>(v[c] >> 8);
                row[6 * x + 2 * c + 1] = static_cast<std::uint8_t>(v[c]);
            }
        }
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    ok = std::fflush(f) == 0 && ok;
    if (ok) ::fdatasync(fileno(f));
    return std::fclose(f) == 0 && ok ? 0 : -1;
}

// Pages of the file at `path` in the page cache, and its pages in all; -1 when
// it cannot be mapped.
long resident_pages(const std::string& path, long* total) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    long resident = -1;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        const long page = ::sysconf(_SC_PAGESIZE);
        const std::size_t size = static_cast<std::size_t>(st.st_size);
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) {
            const std::size_t pages = (size + static_cast<std::size_t>(page) - 1) / page;
            std::vector<unsigned char> in(pages);
            if (::mincore(map, size, in.data()) == 0) {
                resident = 0;
                for (unsigned char b : in) resident += b & 1;
                *total = static_cast<long>(pages);
            }
            ::munmap(map, size);
        }
    }
    ::close(fd);
    return resident;
}

// Drops every frame from the page cache. Returns the fraction of pages still
// cached afterwards (0 when the drop worked), or -1 when it could not be checked.
double evict_all(const std::vector<std::string>& paths) {
    long resident = 0, total = 0;
    for (const std::string& p : paths) {
        file_evict_cache(p.c_str());
        long pages = 0;
        const long r = resident_pages(p, &pages);
        if (r < 0) return -1;
        resident += r;
        total += pages;
    }
    return total ? static_cast<double>(resident) / static_cast<double>(total) : -1;
}

struct Pass {
    double fps = 0;
    double hint_us = 0;  // median time of one hint call
    int failures = 0;
};

// How a pass reads: played by the viewer with each read-ahead hint, or the disk's
// own floor (no viewer: each frame's file read whole, front to back).
enum Hint { kNoHint, kHintRows, kHintWhole, kDiskFloor };
const char* const kHintNames[] = {"none", "rows", "whole", "disk-floor"};

/// The floor's reads: large enough that the disk streams, as a copy tool reads.
constexpr std::size_t kFloorChunk = std::size_t{8} << 20;

// The disk's floor: every frame read whole with large sequential reads, no
// pixel work, one after the other, as fast as the disk gives them.
Pass read_floor(const std::vector<std::string>& paths, std::vector<std::uint8_t>& buffer) {
    Pass pass;
    const auto start = Clock::now();
    for (const std::string& p : paths)
        if (!bench::read_whole_file(p.c_str(), buffer.data(), buffer.size(), kFloorChunk))
            ++pass.failures;
    pass.fps = static_cast<double>(paths.size()) / (ms_between(start, Clock::now()) / 1000);
    return pass;
}

// Plays `frames` ticks from the current frame. With `paced`, tick k starts no
// earlier than k * 16 ms after the first, as a 16 ms timer fires.
Pass play(Viewer& viewer, int frames, Hint hint, bool paced) {
    Pass pass;
    std::vector<double> hint_times;
    const auto start = Clock::now();
    for (int k = 0; k < frames; ++k) {
        if (paced) std::this_thread::sleep_until(start + std::chrono::milliseconds(16 * k));
        timer_tick(viewer.seq, viewer.play);
        bool changed = false;
        if (load_frame_checked(viewer, &changed) != 0) ++pass.failures;
        if (hint != kNoHint) {
            // What the tick handler does after loading: hint the next frame, on the
            // helper thread when it is free.
            const auto t0 = Clock::now();
            prefetch_next_frame(viewer,
                                hint == kHintRows ? kPrefetchNeededRows : kPrefetchWholeFile);
            hint_times.push_back(ms_between(t0, Clock::now()) * 1000);
        }
    }
    pass.fps = frames / (ms_between(start, Clock::now()) / 1000);
    pass.hint_us = bench::stats(hint_times).median;
    return pass;
}

}  // namespace

int main(int argc, char** argv) {
    int frame_count = 24, rounds = 3;
    std::string tsv_path, parent = std::filesystem::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc) {
            frame_count = std::clamp(std::atoi(argv[++i]), 2, 1000);
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--tsv" && i + 1 < argc) {
            tsv_path = argv[++i];
        } else if (a == "--dir" && i + 1 < argc) {
            parent = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: cold_bench [--frames N] [--rounds N] [--tsv FILE] "
                         "[--dir PARENT]\n");
            return 2;
        }
    }
    std::string dir_template = parent + "/karvelin-cold-XXXXXX";
    if (!mkdtemp(dir_template.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dir_template;

    const int width = 3840, height = 2160;
    std::vector<std::string> paths;
    int status = 0;
    std::fprintf(stderr, "writing %d frames of %dx%d to %s\n", frame_count, width, height,
                 dir.c_str());
    for (int i = 0; i < frame_count && status == 0; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/cold_%04d.dpx", i);
        paths.push_back(dir + name);
        if (write_frame(paths.back(), width, height, i) != 0) status = 1;
    }

    Viewer viewer;
    build_conversion_tables(viewer.tables);
    viewer.store.source_width = width;
    viewer.store.source_height = height;
    if (reallocate_display(viewer.store) != 0) status = 1;
    start_frame_helper();
    if (status == 0) {
        std::snprintf(viewer.seq.current_path, sizeof viewer.seq.current_path, "%s",
                      paths[0].c_str());
        open_sequence(viewer);
        if (viewer.seq.frame_count != frame_count) status = 1;
    }

    const double left = status == 0 ? evict_all(paths) : -1;
    if (left < 0) {
        std::printf("could not check the page cache with mincore()\n");
    } else {
        std::printf(
            "after posix_fadvise(POSIX_FADV_DONTNEED): %.2f%% of the frames' pages still "
            "cached%s\n",
            100 * left, left > 0.01 ? " - THE DROP DID NOT WORK, numbers are warm" : "");
    }

    std::FILE* tsv = tsv_path.empty() ? nullptr : std::fopen(tsv_path.c_str(), "w");
    if (tsv)
        std::fprintf(tsv,
                     "shift\tpacing\thint\tfps_median\tfps_min\tfps_max\thint_us\tcached_after_"
                     "drop_pct\n");
    std::printf(
        "\n%d frames of %dx%d from a dropped cache, %d rounds: frames per second, median "
        "(min-max)\n",
        frame_count, width, height, rounds);
    std::printf("%-6s %-13s %-6s %-24s %s\n", "size", "pacing", "hint", "fps", "hint call");
    viewer.play.step = 1;
    // Every round plays every mode once, in an order rotated from round to round:
    // the disk (and any cache below the virtual machine) warms up and drifts,
    // and no mode should always come first.
    struct Mode {
        int shift;
        bool paced;
        Hint hint;
        std::vector<double> fps, hint_us;
        double worst_left = 0;
    };
    std::vector<Mode> modes;
    for (int shift : {2, 0})
        for (bool paced : {false, true})
            for (Hint hint : {kNoHint, kHintRows, kHintWhole})
                modes.push_back({shift, paced, hint, {}, {}, 0});
    modes.push_back({0, false, kDiskFloor, {}, {}, 0});
    std::vector<std::uint8_t> whole(static_cast<std::size_t>(kDpxDataOffset) +
                                    static_cast<std::size_t>(width) * height * 6);
    for (int r = 0; r < rounds && status == 0; ++r) {
        std::fprintf(stderr, "round %d/%d\n", r + 1, rounds);
        for (std::size_t m = 0; m < modes.size() && status == 0; ++m) {
            Mode& mode = modes[(m + static_cast<std::size_t>(r) * 5) % modes.size()];
            viewer.store.shift = mode.shift;
            bool changed = false;
            // The display is brought to this size before the frames are dropped.
            if (load_frame_checked(viewer, &changed) != 0) status = 1;
            mode.worst_left = std::max(mode.worst_left, evict_all(paths));
            const Pass pass = mode.hint == kDiskFloor
                                  ? read_floor(paths, whole)
                                  : play(viewer, frame_count, mode.hint, mode.paced);
            if (pass.failures) status = 1;
            mode.fps.push_back(pass.fps);
            mode.hint_us.push_back(pass.hint_us);
        }
    }
    double floor_fps = 0;
    for (const Mode& mode : modes)
        if (mode.hint == kDiskFloor) floor_fps = bench::stats(mode.fps).median;
    for (const Mode& mode : modes) {
        if (status != 0) break;
        const bench::Stats f = bench::stats(mode.fps);
        const bool hinted = mode.hint == kHintRows || mode.hint == kHintWhole;
        const double hint_us = hinted ? bench::stats(mode.hint_us).median : 0.0;
        char hint_text[64] = "";
        if (hinted) std::snprintf(hint_text, sizeof hint_text, "%.0f us", hint_us);
        if (floor_fps > 0 && !mode.paced && mode.hint != kDiskFloor)
            std::snprintf(hint_text + std::strlen(hint_text),
                          sizeof hint_text - std::strlen(hint_text), "  %.2fx the disk floor",
                          f.median / floor_fps);
        if (mode.hint == kDiskFloor)
            std::printf("%-6s %-13s %-6s %6.1f (%.1f-%.1f)   whole files, %zu MB reads\n", "-",
                        "back to back", "floor", f.median, f.min, f.max, kFloorChunk >> 20);
        else
            std::printf("1/%-4d %-13s %-6s %6.1f (%.1f-%.1f)%10s %s\n", 1 << mode.shift,
                        mode.paced ? "16 ms ticks" : "back to back", kHintNames[mode.hint],
                        f.median, f.min, f.max, "", hint_text);
        if (tsv)
            std::fprintf(tsv, "%d\t%s\t%s\t%.2f\t%.2f\t%.2f\t%.1f\t%.2f\n", mode.shift,
                         mode.paced ? "paced" : "free", kHintNames[mode.hint], f.median, f.min,
                         f.max, hint_us, 100 * mode.worst_left);
    }
    if (tsv) std::fclose(tsv);

    release_display(viewer.store);
    release_sequence(viewer.seq);
    std::filesystem::remove_all(dir);
    if (status != 0) std::fprintf(stderr, "cold_bench: failed\n");
    return status;
}
