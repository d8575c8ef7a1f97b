// Per-frame metrics of a pair of grainy 16-bit RGB DPX frames from the page
// cache, at 3840x2160 and 7680x4320, beside FFmpeg's own psnr filter on the
// same files and the floor of reading both files whole, in one run:
//   karvelin-1, karvelin-2 - both frames opened and every sample compared
//                            (compare_frames) on one and on two threads;
//   floor                  - both whole files read() into one buffer each, in
//                            turn, no pixel work;
//   ffmpeg-psnr            - `ffmpeg -i A -i B -lavfi psnr -f null -` on a
//                            sequence of pairs, the run's time divided by the
//                            pairs (its start-up spread over them).
// The pictures differ as an encoder's output differs from its source: B is A
// with a few codes of noise in a fraction of its samples.
//
//   compare_bench [--rounds N] [--pairs N] [--sizes 4k,8k] [--dir FOLDER] [--tsv FILE]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "compare/metrics.h"
#include "core/sequence.h"
#include "tools/frame_files.h"

namespace {

struct Size {
    const char* name;
    int width, height;
};

/// Writes pair `index` (a_<index>.dpx, b_<index>.dpx) of the given size.
int write_pair(const std::string& dir, const Size& size, int index) {
    std::vector<std::uint16_t> a =
        bench::make_grain_picture(size.width, size.height, static_cast<std::uint32_t>(index));
    std::vector<std::uint16_t> b = a;
    std::uint32_t state = 0x2545F491u + static_cast<std::uint32_t>(index);
    for (std::uint16_t& s : b) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        // One sample in eight off by up to +-3 codes.
        if ((state & 7) == 0)
            s = static_cast<std::uint16_t>(std::max(0, s + static_cast<int>((state >> 3) % 7) - 3));
    }
    const std::string stem = dir + "/" + size.name + "_";
    if (write_dpx_file(stem + "a_" + std::to_string(index) + ".dpx", size.width, size.height,
                       a.data()) != 0 ||
        write_dpx_file(stem + "b_" + std::to_string(index) + ".dpx", size.width, size.height,
                       b.data()) != 0)
        return -1;
    return 0;
}

std::string pair_path(const std::string& dir, const Size& size, char side, int index) {
    return dir + "/" + size.name + "_" + side + "_" + std::to_string(index) + ".dpx";
}

/// Runs a shell command quietly; true when it ended with 0.
bool run_quiet(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    int pairs = 4;
    std::string sizes = "4k,8k";
    std::string dir;
    std::string tsv_path;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        if (arg == "--pairs") pairs = std::max(1, std::atoi(argv[i + 1]));
        if (arg == "--sizes") sizes = argv[i + 1];
        if (arg == "--dir") dir = argv[i + 1];
        if (arg == "--tsv") tsv_path = argv[i + 1];
    }
    const bool own_dir = dir.empty();
    if (own_dir) {
        char pattern[] = "/tmp/karvelin-compare-bench-XXXXXX";
        if (!mkdtemp(pattern)) return 1;
        dir = pattern;
    }
    std::filesystem::create_directories(dir);
    const bool have_ffmpeg = run_quiet("ffmpeg -version");

    std::vector<Size> chosen;
    if (sizes.find("4k") != std::string::npos) chosen.push_back({"4k", 3840, 2160});
    if (sizes.find("8k") != std::string::npos) chosen.push_back({"8k", 7680, 4320});

    CompareScratch scratch[2];
    for (CompareScratch& s : scratch)
        if (alloc_compare_scratch(s) != 0) return 1;
    std::vector<std::uint8_t> whole_a, whole_b;

    std::FILE* tsv = tsv_path.empty() ? nullptr : std::fopen(tsv_path.c_str(), "w");
    if (tsv) std::fprintf(tsv, "size\tcase\tmedian_ms\tmin_ms\tmax_ms\n");
    std::printf("%-4s %-12s %10s %10s %10s  %s\n", "size", "case", "median_ms", "min_ms", "max_ms",
                "vs floor");
    for (const Size& size : chosen) {
        for (int p = 0; p < pairs; ++p) {
            std::fprintf(stderr, "writing %s pair %d\n", size.name, p);
            if (write_pair(dir, size, p) != 0) return 1;
        }
        const std::size_t bytes =
            kDpxDataOffset + static_cast<std::size_t>(size.width) * size.height * 6;
        whole_a.resize(bytes);
        whole_b.resize(bytes);
        // Into the page cache.
        for (int p = 0; p < pairs; ++p)
            for (char side : {'a', 'b'})
                bench::read_whole_file(pair_path(dir, size, side, p).c_str(), whole_a.data(),
                                       bytes);

        std::vector<double> one, two, floor, ffmpeg;
        double check_psnr = 0;
        for (int r = 0; r < rounds; ++r) {
            for (int p = 0; p < pairs; ++p) {
                const std::string a = pair_path(dir, size, 'a', p);
                const std::string b = pair_path(dir, size, 'b', p);
                for (int threads : {1, 2}) {
                    const auto t0 = bench::Clock::now();
                    OpenFrame fa, fb;
                    FrameMetrics m;
                    if (open_frame(kFormatDpx, a.c_str(), 0, 0, fa) != 0 ||
                        open_frame(kFormatDpx, b.c_str(), 0, 0, fb) != 0 ||
                        begin_metrics(fa.info, fb.info, m) != 0 ||
                        compare_frames(fa, fb, threads, scratch, m) != 0)
                        return 1;
                    (threads == 1 ? one : two).push_back(bench::ms_since(t0));
                    check_psnr = metrics_psnr(m, 0);
                }
                const auto t0 = bench::Clock::now();
                if (!bench::read_whole_file(a.c_str(), whole_a.data(), bytes) ||
                    !bench::read_whole_file(b.c_str(), whole_b.data(), bytes))
                    return 1;
                floor.push_back(bench::ms_since(t0));
            }
            if (have_ffmpeg) {
                const std::string stem = dir + "/" + size.name + "_";
                const std::string command = "ffmpeg -nostdin -loglevel error -i '" + stem +
                                            "a_%d.dpx' -i '" + stem +
                                            "b_%d.dpx' -lavfi psnr -f null -";
                const auto t0 = bench::Clock::now();
                if (!run_quiet(command)) return 1;
                ffmpeg.push_back(bench::ms_since(t0) / pairs);
            }
        }
        const double floor_ms = bench::stats(floor).median;
        auto report = [&](const char* name, const std::vector<double>& v) {
            if (v.empty()) return;
            const bench::Stats s = bench::stats(v);
            std::printf("%-4s %-12s %10.1f %10.1f %10.1f  %.2fx\n", size.name, name, s.median,
                        s.min, s.max, s.median / floor_ms);
            if (tsv)
                std::fprintf(tsv, "%s\t%s\t%.2f\t%.2f\t%.2f\n", size.name, name, s.median, s.min,
                             s.max);
        };
        report("karvelin-1", one);
        report("karvelin-2", two);
        report("floor", floor);
        report("ffmpeg-psnr", ffmpeg);
        if (!ffmpeg.empty())
            std::printf(
                "%-4s ffmpeg-psnr / karvelin-2: %.1fx  (red PSNR of the last pair %.2f dB)\n",
                size.name, bench::stats(ffmpeg).median / bench::stats(two).median, check_psnr);
        for (int p = 0; p < pairs; ++p)
            for (char side : {'a', 'b'}) std::filesystem::remove(pair_path(dir, size, side, p));
    }
    if (tsv) std::fclose(tsv);
    for (CompareScratch& s : scratch) release_compare_scratch(s);
    if (own_dir) std::filesystem::remove_all(dir);
    return 0;
}
