// The metrics of a frame pair against a plain double-precision computation over
// the samples the test wrote, on pairs with known differences, and the worker
// that works them out on its own thread.
#include "compare/metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "compare/metrics_worker.h"
#include "core/dpx_test_files.h"
#include "core/sequence.h"
#include "support/test_files.h"

namespace {

/// A frame the test wrote: its path and its samples (red, green, blue at `bits`).
struct Frame {
    std::string path;
    int width, height, bits;
    std::vector<std::uint32_t> rgb;
};

Frame write16(const TempDir& dir, const std::string& name, int w, int h,
              const std::vector<std::uint16_t>& samples) {
    EXPECT_EQ(write_dpx_file(dir.file(name), w, h, samples.data()), 0);
    return {dir.file(name), w, h, 16, std::vector<std::uint32_t>(samples.begin(), samples.end())};
}

/// A 10-bit filled (method A) DPX frame of the top 10 bits of `samples`.
Frame write10(const TempDir& dir, const std::string& name, int w, int h,
              const std::vector<std::uint16_t>& samples) {
    Frame f{dir.file(name), w, h, 10, {}};
    for (std::uint16_t s : samples) f.rgb.push_back(s >> 6);
    EXPECT_EQ(write_file(f.path, dpx10_file(w, h, f.rgb)), 0);
    return f;
}

/// What the metrics must be, worked out plainly: every sample taken to the larger
/// depth, differences in double precision, the first difference in reading order.
struct Expected {
    double mse[3] = {};
    double psnr[3] = {};
    std::uint32_t max[3] = {};
    std::uint64_t differing[3] = {};
    int first_x = -1, first_y = -1;
};

Expected plain_metrics(const Frame& a, const Frame& b) {
    Expected e;
    const int bits = std::max(a.bits, b.bits);
    const double peak = std::pow(2.0, bits) - 1;
    double squares[3] = {};
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const std::size_t at = (static_cast<std::size_t>(y) * a.width + x) * 3 + c;
                const double d = a.rgb[at] * std::pow(2.0, bits - a.bits) -
                                 b.rgb[at] * std::pow(2.0, bits - b.bits);
                squares[c] += d * d;
                e.max[c] = std::max(e.max[c], static_cast<std::uint32_t>(std::fabs(d)));
                if (d != 0) {
                    ++e.differing[c];
                    if (e.first_y < 0) {
                        e.first_x = x;
                        e.first_y = y;
                    }
                }
            }
    for (int c = 0; c < 3; ++c) {
        e.mse[c] = squares[c] / (static_cast<double>(a.width) * a.height);
        e.psnr[c] = e.mse[c] == 0 ? INFINITY : 10 * std::log10(peak * peak / e.mse[c]);
    }
    return e;
}

void expect_metrics(const FrameMetrics& m, const Expected& e, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(metrics_whole(m));
    for (int c = 0; c < 3; ++c) {
        EXPECT_DOUBLE_EQ(metrics_mse(m, c), e.mse[c]) << c;
        if (std::isinf(e.psnr[c]))
            EXPECT_TRUE(std::isinf(metrics_psnr(m, c))) << c;
        else
            EXPECT_NEAR(metrics_psnr(m, c), e.psnr[c], 1e-9) << c;
        EXPECT_EQ(m.channel[c].max_diff, e.max[c]) << c;
        EXPECT_EQ(m.channel[c].differing, e.differing[c]) << c;
    }
    EXPECT_EQ(m.first_x, e.first_x);
    EXPECT_EQ(m.first_y, e.first_y);
    EXPECT_EQ(metrics_identical(m), e.first_y < 0);
}

struct Scratches {
    CompareScratch s[2];
    Scratches() {
        for (CompareScratch& one : s) EXPECT_EQ(alloc_compare_scratch(one), 0);
    }
    ~Scratches() {
        for (CompareScratch& one : s) release_compare_scratch(one);
    }
};

/// The metrics of a pair on one and on two threads, and in the worker's passes
/// over every 16th row (rows in any order): all must be the plain ones.
void check_pair(const Frame& fa, const Frame& fb, const char* what) {
    OpenFrame a, b;
    ASSERT_EQ(open_frame(kFormatDpx, fa.path.c_str(), 0, 0, a), 0);
    ASSERT_EQ(open_frame(kFormatDpx, fb.path.c_str(), 0, 0, b), 0);
    const Expected e = plain_metrics(fa, fb);
    Scratches scratch;
    for (int threads : {1, 2}) {
        FrameMetrics m;
        ASSERT_EQ(begin_metrics(a.info, b.info, m), 0);
        ASSERT_EQ(compare_frames(a, b, threads, scratch.s, m), 0);
        EXPECT_EQ(m.bits, std::max(fa.bits, fb.bits));
        expect_metrics(m, e, (std::string(what) + ", threads " + std::to_string(threads)).c_str());
    }
    FrameMetrics passes;
    ASSERT_EQ(begin_metrics(a.info, b.info, passes), 0);
    for (int first : {5, 0, 15, 3, 8, 1, 2, 4, 6, 7, 9, 10, 11, 12, 13, 14})
        ASSERT_EQ(compare_rows(a, b, first, 16, scratch.s[0], passes), 0);
    expect_metrics(passes, e, (std::string(what) + ", in passes").c_str());
}

// Widths that leave a partial block of eight pixels at the end of each row, and
// more rows than one claim of a thread.
constexpr int kW = 37;
constexpr int kH = 21;

}  // namespace

TEST(Metrics, KnownDifferencesMatchAPlainComputation) {
    TempDir dir;
    const auto base = test_pattern(kW, kH, 3);
    const Frame a = write16(dir, "a.dpx", kW, kH, base);
    check_pair(a, write16(dir, "same.dpx", kW, kH, base), "identical");

    auto one_off = base;
    one_off[(7 * kW + 30) * 3 + 2] ^= 1;  // blue of pixel (30, 7) off by one
    check_pair(a, write16(dir, "one.dpx", kW, kH, one_off), "one sample off by one");

    auto shifted = base;
    for (std::size_t i = 1; i < shifted.size(); i += 3)
        shifted[i] = static_cast<std::uint16_t>(std::min(65535, shifted[i] + 1000));
    check_pair(a, write16(dir, "green.dpx", kW, kH, shifted), "green shifted");

    // 10-bit against 16-bit: compared at 16 bits, the 10-bit samples shifted left;
    // the same picture differs by the six bits the 10-bit file lacks.
    const Frame ten = write10(dir, "ten.dpx", kW, kH, base);
    check_pair(ten, a, "10-bit A against 16-bit B");
    auto kept = base;
    for (std::uint16_t& s : kept) s = static_cast<std::uint16_t>(s & 0xFFC0);
    check_pair(write16(dir, "kept.dpx", kW, kH, kept), ten, "16-bit top bits against 10-bit");
}

TEST(Metrics, FramesOfTwoSizesAreNotPairedAndShortFilesCountAsZero) {
    TempDir dir;
    const auto base = test_pattern(kW, kH, 5);
    const Frame a = write16(dir, "a.dpx", kW, kH, base);
    const Frame small = write16(dir, "s.dpx", kW - 1, kH, test_pattern(kW - 1, kH, 5));
    OpenFrame fa, fs;
    ASSERT_EQ(open_frame(kFormatDpx, a.path.c_str(), 0, 0, fa), 0);
    ASSERT_EQ(open_frame(kFormatDpx, small.path.c_str(), 0, 0, fs), 0);
    FrameMetrics m;
    EXPECT_EQ(begin_metrics(fa.info, fs.info, m), -1);

    // B ends in the middle of row 12: the samples it lacks are 0.
    Frame cut = write16(dir, "cut.dpx", kW, kH, base);
    std::vector<std::uint8_t> bytes = read_whole_file(cut.path);
    const std::size_t keep = kDpxDataOffset + (12 * kW + 20) * 6;
    bytes.resize(keep);
    ASSERT_EQ(write_file(cut.path, bytes), 0);
    for (std::size_t i = (12 * kW + 20) * 3; i < cut.rgb.size(); ++i) cut.rgb[i] = 0;
    check_pair(a, cut, "B cut short");
}

TEST(MetricsWorker, GivesTheLatestPairsMetricsOnItsThread) {
    TempDir dir;
    const auto base = test_pattern(kW, kH, 9);
    auto other = base;
    other[(4 * kW + 2) * 3] += 5;
    const Frame a = write16(dir, "a.dpx", kW, kH, base);
    const Frame b = write16(dir, "b.dpx", kW, kH, other);

    struct Wakes {
        std::mutex mutex;
        std::condition_variable cv;
        int count = 0;
    } wakes;
    MetricsWorker* worker = start_metrics_worker(
        [](void* c) {
            auto& w = *static_cast<Wakes*>(c);
            std::lock_guard<std::mutex> lock(w.mutex);
            ++w.count;
            w.cv.notify_one();
        },
        &wakes);
    ASSERT_NE(worker, nullptr);
    PairRequest pair;
    std::snprintf(pair.path_a, sizeof pair.path_a, "%s", a.path.c_str());
    std::snprintf(pair.path_b, sizeof pair.path_b, "%s", b.path.c_str());
    pair.format_a = pair.format_b = kFormatDpx;
    // Several requests in a row: whatever is reported before, the last one ends
    // with its whole frame compared.
    std::uint64_t last = 0;
    for (int i = 0; i < 5; ++i) last = post_pair(*worker, pair);
    PairResult result;
    bool done = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        {
            std::unique_lock<std::mutex> lock(wakes.mutex);
            wakes.cv.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return wakes.count > 0; });
            wakes.count = 0;
        }
        while (take_pair_result(*worker, result))
            done = result.pair.serial == last && metrics_whole(result.metrics);
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(result.result, 0);
    expect_metrics(result.metrics, plain_metrics(a, b), "worker");

    // A frame that cannot be opened is reported as B's failure.
    std::snprintf(pair.path_b, sizeof pair.path_b, "%s", dir.file("none.dpx").c_str());
    last = post_pair(*worker, pair);
    done = false;
    while (!done && std::chrono::steady_clock::now() < deadline)
        if (take_pair_result(*worker, result) && result.pair.serial == last)
            done = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(done);
    EXPECT_EQ(result.result, -1);
    EXPECT_TRUE(result.failed_b);
    EXPECT_EQ(result.why, kFailNoSuchFile);
    stop_metrics_worker(worker);
}
