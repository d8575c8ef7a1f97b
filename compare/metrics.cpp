// The metrics of a pair of frames: one row pair at a time, each sample shifted
// to the common depth, the sums kept exact in 64 bits.
#include "compare/metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace {

/// Samples taken at once by the row kernel: eight pixels, so that lane j
/// always holds colour j % 3 and the loop has no colour to look up.
constexpr int kLanes = 24;

/// Bytes of one row of stored samples of the widest frame.
constexpr std::size_t kSampleRowBytes =
    static_cast<std::size_t>(kMaxFrameWidth) * kCompareChannels * sizeof(std::uint16_t);

/// Per-lane sums of one row; a row never holds more than 7680 pixels, so the
/// counts fit 32 bits and a lane's squares (at most 320 x 65535^2) 64.
struct RowSums {
    std::uint64_t squares[kLanes] = {};
    std::uint32_t max_diff[kLanes] = {};
    std::uint32_t differing[kLanes] = {};
};

inline std::uint32_t abs_diff(std::uint32_t a, std::uint32_t b) {
    return a > b ? a - b : b - a;
}

/// The row kernel's body, compiled once for every processor and once more for
/// processors with AVX2, where the compiler turns it into wide vector code.
#define KARVELIN_SUM_ROW_BODY                                                                  \
    int i = 0;                                                                                 \
    for (; i + kLanes <= samples; i += kLanes) {                                               \
        for (int j = 0; j < kLanes; ++j) {                                                     \
            const std::uint32_t d = abs_diff(static_cast<std::uint32_t>(a[i + j]) << shift_a,  \
                                             static_cast<std::uint32_t>(b[i + j]) << shift_b); \
            /* d is below 2^16, so its square fits 32 bits before it is widened. */            \
            s.squares[j] += d * d;                                                             \
            s.max_diff[j] = std::max(s.max_diff[j], d);                                        \
            s.differing[j] += d != 0 ? 1u : 0u;                                                \
        }                                                                                      \
    }                                                                                          \
    for (int j = 0; i < samples; ++i, ++j) {                                                   \
        const std::uint32_t d = abs_diff(static_cast<std::uint32_t>(a[i]) << shift_a,          \
                                         static_cast<std::uint32_t>(b[i]) << shift_b);         \
        s.squares[j] += d * d;                                                                 \
        s.max_diff[j] = std::max(s.max_diff[j], d);                                            \
        s.differing[j] += d != 0 ? 1u : 0u;                                                    \
    }

void sum_row_plain(const std::uint16_t* a, const std::uint16_t* b, int samples, int shift_a,
                   int shift_b, RowSums& s) {
    KARVELIN_SUM_ROW_BODY
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
__attribute__((target("avx2"))) void sum_row_avx2(const std::uint16_t* a, const std::uint16_t* b,
                                                  int samples, int shift_a, int shift_b,
                                                  RowSums& s) {
    KARVELIN_SUM_ROW_BODY
}

void sum_row(const std::uint16_t* a, const std::uint16_t* b, int samples, int shift_a, int shift_b,
             RowSums& s) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        sum_row_avx2(a, b, samples, shift_a, shift_b, s);
    else
        sum_row_plain(a, b, samples, shift_a, shift_b, s);
}
#else
void sum_row(const std::uint16_t* a, const std::uint16_t* b, int samples, int shift_a, int shift_b,
             RowSums& s) {
    sum_row_plain(a, b, samples, shift_a, shift_b, s);
}
#endif

}  // namespace

int begin_metrics(const FrameInfo& a, const FrameInfo& b, FrameMetrics& m) {
    m = FrameMetrics{};
    if (a.width != b.width || a.height != b.height || a.width <= 0 || a.height <= 0) return -1;
    if (a.bits < 1 || a.bits > 16 || b.bits < 1 || b.bits > 16) return -1;
    m.width = a.width;
    m.height = a.height;
    m.bits_a = a.bits;
    m.bits_b = b.bits;
    m.bits = std::max(a.bits, b.bits);
    return 0;
}

void add_row_pair(const std::uint16_t* a, const std::uint16_t* b, std::int32_t pixels,
                  std::int32_t y, FrameMetrics& m) {
    if (pixels <= 0) return;
    RowSums s;
    const int shift_a = m.bits - m.bits_a;
    const int shift_b = m.bits - m.bits_b;
    sum_row(a, b, pixels * kCompareChannels, shift_a, shift_b, s);
    std::uint64_t row_differing = 0;
    for (int j = 0; j < kLanes; ++j) {
        ChannelMetrics& c = m.channel[j % kCompareChannels];
        c.squares += s.squares[j];
        c.max_diff = std::max(c.max_diff, s.max_diff[j]);
        c.differing += s.differing[j];
        row_differing += s.differing[j];
    }
    ++m.rows;
    m.pixels += pixels;
    // Rows may come in any order (a frame compared in passes): the first
    // difference is the one with the smallest row, then column.
    if (row_differing == 0 || (m.first_y >= 0 && m.first_y <= y)) return;
    for (std::int32_t x = 0; x < pixels; ++x) {
        const std::uint16_t* p = a + 3 * static_cast<std::size_t>(x);
        const std::uint16_t* q = b + 3 * static_cast<std::size_t>(x);
        bool differs = false;
        for (int c = 0; c < kCompareChannels; ++c)
            differs = differs || (static_cast<std::uint32_t>(p[c]) << shift_a) !=
                                     (static_cast<std::uint32_t>(q[c]) << shift_b);
        if (differs) {
            m.first_x = x;
            m.first_y = y;
            return;
        }
    }
}

void merge_metrics(FrameMetrics& into, const FrameMetrics& part) {
    for (int c = 0; c < kCompareChannels; ++c) {
        into.channel[c].squares += part.channel[c].squares;
        into.channel[c].max_diff = std::max(into.channel[c].max_diff, part.channel[c].max_diff);
        into.channel[c].differing += part.channel[c].differing;
    }
    into.rows += part.rows;
    into.pixels += part.pixels;
    if (part.first_y >= 0 && (into.first_y < 0 || part.first_y < into.first_y ||
                              (part.first_y == into.first_y && part.first_x < into.first_x))) {
        into.first_x = part.first_x;
        into.first_y = part.first_y;
    }
}

bool metrics_identical(const FrameMetrics& m) {
    for (const ChannelMetrics& c : m.channel)
        if (c.differing != 0) return false;
    return true;
}

double metrics_mse(const FrameMetrics& m, int c) {
    if (m.pixels <= 0 || c < 0 || c >= kCompareChannels) return 0;
    return static_cast<double>(m.channel[c].squares) / static_cast<double>(m.pixels);
}

double metrics_psnr(const FrameMetrics& m, int c) {
    const double mse = metrics_mse(m, c);
    if (mse <= 0) return std::numeric_limits<double>::infinity();
    const double peak = static_cast<double>((1u << m.bits) - 1);
    return 10.0 * std::log10(peak * peak / mse);
}

int alloc_compare_scratch(CompareScratch& scratch) {
    release_compare_scratch(scratch);
    scratch.row_a = static_cast<std::uint16_t*>(heap_alloc_zeroed(kSampleRowBytes));
    scratch.row_b = static_cast<std::uint16_t*>(heap_alloc_zeroed(kSampleRowBytes));
    if (!scratch.row_a || !scratch.row_b || alloc_scratch(scratch.a) != 0 ||
        alloc_scratch(scratch.b) != 0) {
        release_compare_scratch(scratch);
        return -1;
    }
    return 0;
}

void release_compare_scratch(CompareScratch& scratch) {
    release_scratch(scratch.a);
    release_scratch(scratch.b);
    heap_free(scratch.row_a);
    heap_free(scratch.row_b);
    scratch.row_a = nullptr;
    scratch.row_b = nullptr;
}

namespace {

/// Reads source row `y` of both frames and adds the pair to `m`.
int compare_row(const OpenFrame& a, const OpenFrame& b, std::int32_t y, CompareScratch& scratch,
                FrameMetrics& m) {
    const std::size_t stride = static_cast<std::size_t>(m.width) * kCompareChannels;
    if (read_sample_rows(a, y, 1, 0, scratch.row_a, stride, scratch.a) != 0 ||
        read_sample_rows(b, y, 1, 0, scratch.row_b, stride, scratch.b) != 0)
        return -1;
    add_row_pair(scratch.row_a, scratch.row_b, m.width, y, m);
    return 0;
}

/// The frames are the size `m` was begun for.
bool pair_fits(const OpenFrame& a, const OpenFrame& b, const FrameMetrics& m) {
    return a.info.width == m.width && b.info.width == m.width && a.info.height == m.height &&
           b.info.height == m.height;
}

}  // namespace

int compare_rows(const OpenFrame& a, const OpenFrame& b, std::int32_t first, std::int32_t step,
                 CompareScratch& scratch, FrameMetrics& m, const std::atomic<bool>* stop) {
    if (step < 1 || first < 0 || !scratch.row_a || !scratch.row_b) return -1;
    if (!pair_fits(a, b, m)) return -1;
    for (std::int32_t y = first; y < m.height; y += step) {
        if (stop && stop->load(std::memory_order_relaxed)) return 0;
        if (compare_row(a, b, y, scratch, m) != 0) return -1;
    }
    return 0;
}

namespace {

/// Rows a thread takes at a time: enough that handing them out costs nothing,
/// few enough that two threads finish together.
constexpr std::int32_t kRowsPerClaim = 8;

struct FrameJob {
    const OpenFrame* a;
    const OpenFrame* b;
    std::atomic<std::int32_t> next{0};
    std::atomic<bool> failed{false};
};

void compare_part(FrameJob& job, CompareScratch& scratch, FrameMetrics& part) {
    for (;;) {
        const std::int32_t top = job.next.fetch_add(kRowsPerClaim, std::memory_order_relaxed);
        if (top >= part.height || job.failed.load(std::memory_order_relaxed)) return;
        const std::int32_t end = std::min(part.height, top + kRowsPerClaim);
        for (std::int32_t y = top; y < end; ++y) {
            if (compare_row(*job.a, *job.b, y, scratch, part) != 0) {
                job.failed.store(true, std::memory_order_relaxed);
                return;
            }
        }
    }
}

}  // namespace

int compare_frames(const OpenFrame& a, const OpenFrame& b, int threads, CompareScratch* scratch,
                   FrameMetrics& m) {
    if (!scratch || threads < 1 || !pair_fits(a, b, m)) return -1;
    threads = std::min(threads, kMaxCompareThreads);
    for (int i = 0; i < threads; ++i)
        if (!scratch[i].row_a || !scratch[i].row_b || !scratch[i].a.row || !scratch[i].b.row)
            return -1;
    FrameJob job;
    job.a = &a;
    job.b = &b;
    FrameMetrics parts[kMaxCompareThreads];
    for (int i = 0; i < threads; ++i) {
        // The same pair with nothing counted yet.
        parts[i] = FrameMetrics{};
        parts[i].width = m.width;
        parts[i].height = m.height;
        parts[i].bits_a = m.bits_a;
        parts[i].bits_b = m.bits_b;
        parts[i].bits = m.bits;
    }
    std::thread started[kMaxCompareThreads];
    int running = 0;
    for (int i = 1; i < threads; ++i) {
        try {
            started[i] =
                std::thread(compare_part, std::ref(job), std::ref(scratch[i]), std::ref(parts[i]));
            ++running;
        } catch (const std::system_error&) {
            // Fewer threads: the ones running share the rows.
            break;
        }
    }
    compare_part(job, scratch[0], parts[0]);
    for (int i = 1; i <= running; ++i) started[i].join();
    for (int i = 0; i <= running; ++i) merge_metrics(m, parts[i]);
    return job.failed.load() ? -1 : 0;
}
