// The DPX format: the header is parsed once per frame (dpx_layout.h), then
// every used row goes through the one row function of the frame's layout.
#include "core/formats/dpx.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>

#include "core/formats/dpx_layout.h"
#include "core/formats/row_sharing.h"

namespace {

struct DpxJob;

/// Samples decoded together by the vector path: a multiple of every coding's
/// step (8, 16 or 24 samples), held as six vectors of sixteen top-8-bit values.
constexpr int kBlockSamples = 96;
constexpr int kBlockVectors = kBlockSamples / 16;
constexpr int kBlockGroups = kBlockSamples / 8;

/// Turns one buffered source row into display pixels 0 .. cols_out - 1.
using RowFunction = void (*)(const DpxJob& job, const std::uint8_t* src, std::uint8_t* dst);

/// The vector form of a coding's sample decoding. A block of kBlockSamples
/// samples is decoded eight at a time: group g loads 16 bytes at offset[g] from
/// the block's start, gathers each sample's two bytes holding its top 8 bits
/// (shuffle[set[g]]) and multiplies each pair by multiply[set[g]] so that its
/// high byte is those bits. Built from dpx_sample itself (see build_gather), so
/// both decode alike.
struct Gather {
    /// Bytes of source one block spans.
    std::int32_t block_bytes;
    /// Set when each byte is a sample (8 bits): a block is then loaded as it is.
    bool direct;
    std::int32_t offset[kBlockGroups];
    std::int32_t set[kBlockGroups];
    std::uint8_t shuffle[3][16];
    std::uint16_t multiply[3][8];
    /// Where each sample of a step (step_samples samples in step_bytes bytes, the
    /// pattern repeating from step to step) has its top 8 bits: bits shift ..
    /// shift + 7 of the pair (high << 8 | low), bytes counted from the step's
    /// start; high is -1 when they all lie in the low byte.
    std::int32_t step_samples;
    std::int32_t step_bytes;
    std::int32_t low[24];
    std::int32_t high[24];
    std::int32_t shift[24];
};

/// Per frame at full and half size: which display pixels a block gives and how
/// they are arranged.
struct BlockPlan {
    std::int32_t pixels;
    /// Bytes from a block's start that its loads reach.
    std::int32_t reach;
    /// Each four display pixels j are picked from two neighbouring vectors,
    /// first[j] and first[j] + 1, through pick[j].
    std::int32_t outputs;
    std::int32_t first[8];
    std::uint8_t pick[8][2][16];
};

/// Per frame at 1/4 and 1/8, where a display pixel shows one source pixel in 4
/// or 8: the shown samples are picked straight from the row, nothing else
/// decoded. A period of whole blocks gives `pixels` display pixels (a multiple
/// of four); pixel p loads 16 bytes at offset[p] from the period's start, and
/// shuffle[p] moves the byte pairs of its blue, green and red into 16-bit lanes
/// 0-2 (even p) or 4-6 (odd p) of a vector it shares with its neighbour, where
/// multiply[p / 2] brings each sample's top 8 bits into the lane's high byte.
struct SparsePlan {
    std::int32_t pixels;
    std::int32_t period_bytes;
    /// Bytes from a period's start that its loads reach.
    std::int32_t reach;
    std::int32_t offset[12];
    std::uint8_t shuffle[12][16];
    std::uint16_t multiply[6][8];
};

// One frame read, shared by the threads that work on it.
struct DpxJob {
    FrameJob frame;
    FileHandle file;
    DpxHeader header;
    RowFunction row;
    /// The vector decoding of the frame's coding; nullptr when rows go sample by sample.
    const Gather* gather;
    BlockPlan block;
    SparsePlan sparse;
    std::int32_t span_capacity;
};

// ---- 16-bit RGB (and 12-bit filled, method A): the top byte of each sample ----

// Display pixels from..cols-1 of one source row: red at 6c, green at 6c + 2,
// blue at 6c + 4 for source column c = pixel << shift.
void rgb16_row_scalar(const std::uint8_t* src, std::uint8_t* dst, std::int32_t from,
                      std::int32_t cols, std::int32_t shift) {
    const std::size_t step = std::size_t{6} << shift;
    src += static_cast<std::size_t>(from) * step;
    dst += static_cast<std::size_t>(from) * 4;
    for (std::int32_t c = from; c < cols; ++c, src += step, dst += 4) {
        dst[0] = src[4];
        dst[1] = src[2];
        dst[2] = src[0];
    }
}

#if KARVELIN_X86_KERNELS
// Full size: 8 pixels (48 source bytes) per step. Returns the pixels done.
KARVELIN_SSSE3 std::int32_t rgb16_row_full_ssse3(const std::uint8_t* src, std::uint8_t* dst,
                                                 std::int32_t cols) {
    const __m128i m0a = _mm_setr_epi8(4, 2, 0, -1, 10, 8, 6, -1, -1, 14, 12, -1, -1, -1, -1, -1);
    const __m128i m0b = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, -1, -1, -1, 6, 4, 2, -1);
    const __m128i m1b =
        _mm_setr_epi8(12, 10, 8, -1, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i m1c = _mm_setr_epi8(-1, -1, -1, -1, 2, 0, -1, -1, 8, 6, 4, -1, 14, 12, 10, -1);
    std::int32_t c = 0;
    for (; c + 8 <= cols; c += 8, src += 48, dst += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
        store_keeping_byte3(dst, _mm_or_si128(_mm_shuffle_epi8(a, m0a), _mm_shuffle_epi8(b, m0b)));
        store_keeping_byte3(dst + 16,
                            _mm_or_si128(_mm_shuffle_epi8(b, m1b), _mm_shuffle_epi8(d, m1c)));
    }
    return c;
}

// Half size: 4 pixels from every 48 source bytes (every second source pixel).
// Stops before a step would read past the row's `row_bytes`.
KARVELIN_SSSE3 std::int32_t rgb16_row_half_ssse3(const std::uint8_t* src, std::uint8_t* dst,
                                                 std::int32_t cols, std::size_t row_bytes) {
    const __m128i ma = _mm_setr_epi8(4, 2, 0, -1, -1, 14, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i mb = _mm_setr_epi8(-1, -1, -1, -1, 0, -1, -1, -1, 12, 10, 8, -1, -1, -1, -1, -1);
    const __m128i mc = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 8, 6, 4, -1);
    std::int32_t c = 0;
    for (std::size_t end = 48; c + 4 <= cols && end <= row_bytes; c += 4, end += 48) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
        store_keeping_byte3(
            dst, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, ma), _mm_shuffle_epi8(b, mb)),
                              _mm_shuffle_epi8(d, mc)));
        src += 48;
        dst += 16;
    }
    return c;
}
#endif

void rgb16_row(const DpxJob& job, const std::uint8_t* src, std::uint8_t* dst) {
    const std::int32_t cols = job.frame.plan.cols_out;
    const std::int32_t shift = job.frame.plan.shift;
    std::int32_t done = 0;
#if KARVELIN_X86_KERNELS
    if (job.frame.simd && shift == 0) done = rgb16_row_full_ssse3(src, dst, cols);
    if (job.frame.simd && shift == 1)
        done = rgb16_row_half_ssse3(src, dst, cols, job.header.row_bytes);
#endif
    rgb16_row_scalar(src, dst, done, cols, shift);
}

// ---- every other layout: the top 8 bits of each sample, through dpx_sample ----

#if KARVELIN_X86_KERNELS
// The top 8 bits of eight samples, one per 16-bit lane: the 16 bytes at `at`
// through a shuffle and a multiply of the coding's table.
KARVELIN_SSSE3 inline __m128i gather_eight(const std::uint8_t* at, __m128i shuffle,
                                           __m128i multiply) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return _mm_srli_epi16(_mm_mullo_epi16(_mm_shuffle_epi8(bytes, shuffle), multiply), 8);
}

// Display pixels a whole block at a time while the row holds the block's bytes,
// at full and half size: the block's samples become their top 8 bits in six
// vectors, from which four display pixels at a time are picked. Returns the
// pixels done.
KARVELIN_SSSE3 std::int32_t coded_row_ssse3(const DpxJob& job, const std::uint8_t* src,
                                            std::uint8_t* dst) {
    const Gather& g = *job.gather;
    const BlockPlan& b = job.block;
    const DpxHeader& h = job.header;
    const std::int32_t cols = job.frame.plan.cols_out;
    // Whole vectors go in and come out, so each load is served from the store
    // before it. Bytes, not __m128i: the helper thread's stack need not be
    // 16-byte aligned on 32-bit Windows.
    std::uint8_t top[kBlockSamples];
    __m128i shuffles[3], multiplies[3];
    for (int i = 0; i < 3; ++i) {
        shuffles[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.shuffle[i]));
        multiplies[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.multiply[i]));
    }
    auto group = [&](const std::uint8_t* block, int k) KARVELIN_SSSE3 {
        return gather_eight(block + g.offset[k], shuffles[g.set[k]], multiplies[g.set[k]]);
    };
    auto get = [&](int v) KARVELIN_SSSE3 {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 16 * v));
    };
    std::int32_t c = 0;
    for (std::size_t at = 0;
         c + b.pixels <= cols && at + static_cast<std::size_t>(b.reach) <= h.row_bytes;
         c += b.pixels, at += static_cast<std::size_t>(g.block_bytes)) {
        for (int v = 0; v < kBlockVectors; ++v) {
            const __m128i value =
                g.direct ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at + 16 * v))
                         : _mm_packus_epi16(group(src + at, 2 * v), group(src + at, 2 * v + 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(top + 16 * v), value);
        }
        std::uint8_t* out = dst + 4 * static_cast<std::size_t>(c);
        for (int j = 0; j < b.outputs; ++j) {
            const int f = b.first[j];
            const __m128i lo = _mm_shuffle_epi8(
                get(f), _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.pick[j][0])));
            const __m128i hi = _mm_shuffle_epi8(
                get(f + 1), _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.pick[j][1])));
            store_keeping_byte3(out + 16 * j, _mm_or_si128(lo, hi));
        }
    }
    return c;
}

// At 1/4 and 1/8: four display pixels at a time, each from its own 16 bytes of
// the row, two to a vector (see SparsePlan). Returns the pixels done.
KARVELIN_SSSE3 std::int32_t coded_row_sparse_ssse3(const DpxJob& job, const std::uint8_t* src,
                                                   std::uint8_t* dst) {
    const SparsePlan& sp = job.sparse;
    const std::int32_t cols = job.frame.plan.cols_out;
    auto load = [](const void* at) KARVELIN_SSSE3 {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    };
    // Pixels p and p + 1 of a period, their samples' top 8 bits in 16-bit lanes.
    auto pair = [&](const std::uint8_t* period, int p) KARVELIN_SSSE3 {
        const __m128i both = _mm_or_si128(
            _mm_shuffle_epi8(load(period + sp.offset[p]), load(sp.shuffle[p])),
            _mm_shuffle_epi8(load(period + sp.offset[p + 1]), load(sp.shuffle[p + 1])));
        return _mm_srli_epi16(_mm_mullo_epi16(both, load(sp.multiply[p / 2])), 8);
    };
    std::int32_t c = 0;
    for (std::size_t at = 0;
         c + sp.pixels <= cols && at + static_cast<std::size_t>(sp.reach) <= job.header.row_bytes;
         c += sp.pixels, at += static_cast<std::size_t>(sp.period_bytes)) {
        for (int p = 0; p < sp.pixels; p += 4)
            store_keeping_byte3(dst + 4 * static_cast<std::size_t>(c + p),
                                _mm_packus_epi16(pair(src + at, p), pair(src + at, p + 2)));
    }
    return c;
}
#endif

/// How a row of coding C becomes display pixels: pixel c shows source pixel
/// c << shift, and each of its colours is the top 8 bits of that sample.
template <DpxCoding C>
void coded_pixels(const DpxJob& job, const std::uint8_t* src, std::uint8_t* dst, std::int32_t c) {
    constexpr int drop = dpx_coding_bits(C) - 8;
    const auto components = static_cast<std::size_t>(job.header.components);
    const auto blue = static_cast<std::size_t>(job.header.blue);
    const auto green = static_cast<std::size_t>(job.header.green);
    const auto red = static_cast<std::size_t>(job.header.red);
    const std::int32_t shift = job.frame.plan.shift;
    const std::int32_t cols = job.frame.plan.cols_out;
    for (; c < cols; ++c) {
        const std::size_t first = (static_cast<std::size_t>(c) << shift) * components;
        std::uint8_t* px = dst + 4 * static_cast<std::size_t>(c);
        px[0] = static_cast<std::uint8_t>(dpx_sample<C>(src, first + blue) >> drop);
        px[1] = static_cast<std::uint8_t>(dpx_sample<C>(src, first + green) >> drop);
        px[2] = static_cast<std::uint8_t>(dpx_sample<C>(src, first + red) >> drop);
    }
}

/// Display pixels 0 .. cols_out - 1 of a row of coding C: blocks of vectors
/// where the processor allows, the rest pixel by pixel.
template <DpxCoding C>
void coded_row(const DpxJob& job, const std::uint8_t* src, std::uint8_t* dst) {
    std::int32_t c = 0;
#if KARVELIN_X86_KERNELS
    if (job.gather) {
        c = job.frame.plan.shift <= 1 ? coded_row_ssse3(job, src, dst)
                                      : coded_row_sparse_ssse3(job, src, dst);
    }
#endif
    coded_pixels<C>(job, src, dst, c);
}

#if KARVELIN_X86_KERNELS
// 10-bit RGB, filled: one pixel per word, red highest. Four words (byte-swapped
// into lanes) become four display pixels: blue's top 8 bits start at bit `low`
// (4 for method A, 2 for method B), green's 2 bits and red's 4 bits above
// blue's place in the display pixel.
KARVELIN_SSSE3 inline __m128i rgb10_bgr(__m128i words, int low) {
    const __m128i one = _mm_set1_epi32(0xFF);
    const __m128i blue = _mm_and_si128(_mm_srl_epi32(words, _mm_cvtsi32_si128(low)), one);
    const __m128i green =
        _mm_and_si128(_mm_srl_epi32(words, _mm_cvtsi32_si128(low + 2)), _mm_slli_epi32(one, 8));
    const __m128i red =
        _mm_and_si128(_mm_srl_epi32(words, _mm_cvtsi32_si128(low + 4)), _mm_slli_epi32(one, 16));
    return _mm_or_si128(_mm_or_si128(blue, green), red);
}

// Full size: four pixels (16 bytes) per step; half size: every second word,
// four pixels from 32 bytes, stopping before a step would pass `row_bytes`.
// Returns the pixels done.
KARVELIN_SSSE3 std::int32_t rgb10_row_ssse3(const std::uint8_t* src, std::uint8_t* dst,
                                            std::int32_t cols, std::int32_t shift, int low,
                                            std::size_t row_bytes) {
    const __m128i swap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const __m128i even0 = _mm_setr_epi8(3, 2, 1, 0, 11, 10, 9, 8, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i even1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 3, 2, 1, 0, 11, 10, 9, 8);
    std::int32_t c = 0;
    if (shift == 0) {
        for (; c + 4 <= cols; c += 4) {
            const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * c));
            store_keeping_byte3(dst + 4 * c, rgb10_bgr(_mm_shuffle_epi8(words, swap), low));
        }
    } else {
        for (; c + 4 <= cols && 8 * static_cast<std::size_t>(c) + 32 <= row_bytes; c += 4) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * c));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * c + 16));
            const __m128i words =
                _mm_or_si128(_mm_shuffle_epi8(a, even0), _mm_shuffle_epi8(b, even1));
            store_keeping_byte3(dst + 4 * c, rgb10_bgr(words, low));
        }
    }
    return c;
}
#endif

/// 10-bit RGB filled (method A or B), the usual DPX: a word is a pixel, red in
/// its highest ten bits, and blue's top 8 bits start at bit 4 (method A) or 2.
template <DpxCoding C>
void rgb10_row(const DpxJob& job, const std::uint8_t* src, std::uint8_t* dst) {
    constexpr int low = C == kDpx10FilledA ? 4 : 2;
    const std::int32_t shift = job.frame.plan.shift;
    const std::int32_t cols = job.frame.plan.cols_out;
    std::int32_t c = 0;
#if KARVELIN_X86_KERNELS
    if (job.frame.simd && shift <= 1)
        c = rgb10_row_ssse3(src, dst, cols, shift, low, job.header.row_bytes);
#endif
    for (; c < cols; ++c) {
        const std::uint32_t word = dpx_be32(src + (static_cast<std::size_t>(c) << shift) * 4);
        std::uint8_t* px = dst + 4 * static_cast<std::size_t>(c);
        px[0] = static_cast<std::uint8_t>(word >> low);
        px[1] = static_cast<std::uint8_t>(word >> (low + 10));
        px[2] = static_cast<std::uint8_t>(word >> (low + 20));
    }
}

constexpr RowFunction kCodedRows[kDpxCodings] = {
    coded_row<kDpx16>,       coded_row<kDpx12FilledA>, coded_row<kDpx12FilledB>,
    coded_row<kDpx12Packed>, coded_row<kDpx10FilledA>, coded_row<kDpx10FilledB>,
    coded_row<kDpx10Packed>, coded_row<kDpx8>,
};

// Finds where the top 8 bits of each sample of a step lie by setting one bit of
// the input at a time and watching which bit of which sample it lands in. A
// coding whose top bits do not fit the vector form (they always do) gets none.
bool build_gather(DpxCoding coding, Gather& g) {
    const int drop = dpx_coding_bits(coding) - 8;
    // A step is whole groups of samples and a multiple of 8 samples.
    const DpxGroup group = dpx_group(coding);
    const int step_samples = std::lcm(group.samples, 8);
    const int step_bytes = step_samples / group.samples * group.bytes;
    const int sets = step_samples / 8;
    g.block_bytes = kBlockSamples / step_samples * step_bytes;
    g.direct = step_bytes == step_samples;
    g.step_samples = step_samples;
    g.step_bytes = step_bytes;
    std::uint8_t input[32] = {};
    for (int set = 0; set < sets; ++set) {
        int low[8], high[8], shift[8];
        int first_byte = 32, last_byte = 0;
        for (int lane = 0; lane < 8; ++lane) {
            const std::size_t sample = static_cast<std::size_t>(set * 8 + lane);
            int source_byte[8], source_bit[8];
            for (int t = 0; t < 8; ++t) source_byte[t] = -1;
            for (int byte = 0; byte < step_bytes; ++byte)
                for (int bit = 0; bit < 8; ++bit) {
                    input[byte] = static_cast<std::uint8_t>(1u << bit);
                    const std::uint32_t value = dpx_sample_of(coding, input, sample) >> drop;
                    for (int t = 0; t < 8; ++t)
                        if (value == (1u << t)) source_byte[t] = byte, source_bit[t] = bit;
                    input[byte] = 0;
                }
            // Top bit t must be bit shift + t of the pair (high << 8 | low).
            low[lane] = source_byte[0];
            shift[lane] = source_bit[0];
            high[lane] = -1;
            for (int t = 0; t < 8; ++t) {
                const int at = shift[lane] + t;
                const int byte = at < 8 ? low[lane] : high[lane] < 0 ? source_byte[t] : high[lane];
                if (source_byte[t] < 0 || source_byte[t] != byte || source_bit[t] != at % 8)
                    return false;
                if (at >= 8) high[lane] = byte;
            }
            first_byte = std::min({first_byte, low[lane], high[lane] < 0 ? low[lane] : high[lane]});
            last_byte = std::max({last_byte, low[lane], high[lane]});
        }
        for (int lane = 0; lane < 8; ++lane) {
            g.low[set * 8 + lane] = low[lane];
            g.high[set * 8 + lane] = high[lane];
            g.shift[set * 8 + lane] = shift[lane];
        }
        if (last_byte - first_byte >= 16) return false;
        // The 16 bytes loaded end as early as they can, so that a block near the
        // end of a row reads no further than it must.
        const int window = std::min(first_byte, std::max(0, last_byte - 15));
        for (int lane = 0; lane < 8; ++lane) {
            g.shuffle[set][2 * lane] = static_cast<std::uint8_t>(low[lane] - window);
            g.shuffle[set][2 * lane + 1] =
                high[lane] < 0 ? 0x80 : static_cast<std::uint8_t>(high[lane] - window);
            g.multiply[set][lane] = static_cast<std::uint16_t>(1u << (8 - shift[lane]));
        }
        for (int k = set; k < kBlockGroups; k += sets) {
            g.set[k] = set;
            g.offset[k] = k / sets * step_bytes + window;
        }
    }
    return true;
}

/// The vector decoding of `coding`, built once per process.
const Gather* gather_for(DpxCoding coding) {
    struct Table {
        Gather gather[kDpxCodings];
        bool usable[kDpxCodings];
    };
    static const Table table = [] {
        Table t{};
        for (int c = 0; c < kDpxCodings; ++c)
            t.usable[c] = build_gather(static_cast<DpxCoding>(c), t.gather[c]);
        return t;
    }();
    return table.usable[coding] ? &table.gather[coding] : nullptr;
}

// How a block's vectors become the frame's display pixels at full or half size.
// Returns -1 when four pixels' bytes would span more than two neighbouring
// vectors (they never do for three or four samples per pixel).
int plan_blocks(DpxJob& job) {
    const DpxHeader& h = job.header;
    const Gather& g = *job.gather;
    BlockPlan& b = job.block;
    const std::int32_t shift = job.frame.plan.shift;
    const int colours[3] = {h.blue, h.green, h.red};
    b.pixels = kBlockSamples / h.components >> shift;
    b.reach = 0;
    for (int k = 0; k < kBlockGroups; ++k)
        b.reach = std::max(b.reach, g.direct ? 16 * (k / 2) + 16 : g.offset[k] + 16);
    b.outputs = b.pixels / 4;
    for (int j = 0; j < b.outputs; ++j) {
        int lowest = kBlockSamples, highest = 0;
        for (int i = 0; i < 12; ++i) {
            const int at = ((4 * j + i / 3) << shift) * h.components + colours[i % 3];
            lowest = std::min(lowest, at);
            highest = std::max(highest, at);
        }
        const int first = std::min(lowest / 16, kBlockVectors - 2);
        if (highest / 16 > first + 1) return -1;
        b.first[j] = first;
        for (int byte = 0; byte < 16; ++byte) {
            const int at = byte % 4 == 3
                               ? -1
                               : ((4 * j + byte / 4) << shift) * h.components + colours[byte % 4];
            const int from = at < 0 ? -1 : at / 16 - first;
            b.pick[j][0][byte] = from == 0 ? static_cast<std::uint8_t>(at % 16) : 0x80;
            b.pick[j][1][byte] = from == 1 ? static_cast<std::uint8_t>(at % 16) : 0x80;
        }
    }
    return 0;
}

// Where each display pixel of a period finds its samples at 1/4 and 1/8 (see
// SparsePlan). Returns -1 when a pixel's samples span 16 bytes or more (they
// never do: three samples of 16 bits or fewer lie within 8 bytes).
int plan_sparse(DpxJob& job) {
    const DpxHeader& h = job.header;
    const Gather& g = *job.gather;
    SparsePlan& sp = job.sparse;
    const std::int32_t shift = job.frame.plan.shift;
    const int colours[3] = {h.blue, h.green, h.red};
    // Whole blocks, enough for a multiple of four pixels: 4 or 8 pixels per
    // block for three samples a pixel, 3 or 6 for four.
    const int per_block = kBlockSamples / h.components >> shift;
    const int blocks = 4 / std::gcd(per_block, 4);
    sp.pixels = per_block * blocks;
    sp.period_bytes = g.block_bytes * blocks;
    sp.reach = 0;
    if (sp.pixels > 12) return -1;
    for (int p = 0; p < sp.pixels; ++p) {
        int low[3], high[3], bit[3];
        int first = INT_MAX, last = 0;
        for (int i = 0; i < 3; ++i) {
            const int sample = (p << shift) * h.components + colours[i];
            const int step = sample / g.step_samples * g.step_bytes;
            const int k = sample % g.step_samples;
            low[i] = step + g.low[k];
            high[i] = g.high[k] < 0 ? -1 : step + g.high[k];
            bit[i] = g.shift[k];
            first = std::min({first, low[i], high[i] < 0 ? low[i] : high[i]});
            last = std::max({last, low[i], high[i]});
        }
        if (last - first >= 16) return -1;
        sp.offset[p] = first;
        sp.reach = std::max(sp.reach, first + 16);
        std::uint8_t* shuffle = sp.shuffle[p];
        std::fill(shuffle, shuffle + 16, 0x80);
        const int lane = p % 2 * 4;
        for (int i = 0; i < 3; ++i) {
            shuffle[2 * (lane + i)] = static_cast<std::uint8_t>(low[i] - first);
            if (high[i] >= 0)
                shuffle[2 * (lane + i) + 1] = static_cast<std::uint8_t>(high[i] - first);
            sp.multiply[p / 2][lane + i] = static_cast<std::uint16_t>(1u << (8 - bit[i]));
        }
        sp.multiply[p / 2][lane + 3] = 0;
    }
    return 0;
}

/// Whether source pixel `x` of a row of coding C holds a sample above narrow
/// white, looking only at the samples whose top 8 bits (`shown`, the display
/// pixel: blue, green, red) are 235: the others are decided already.
template <DpxCoding C>
bool above_white(const DpxHeader& h, const std::uint8_t* row, std::int32_t x,
                 const std::uint8_t* shown) {
    constexpr std::uint32_t white = narrow_white(dpx_coding_bits(C));
    const std::size_t first = static_cast<std::size_t>(x) * static_cast<std::size_t>(h.components);
    return (shown[2] == 235 &&
            dpx_sample<C>(row, first + static_cast<std::size_t>(h.red)) > white) ||
           (shown[1] == 235 &&
            dpx_sample<C>(row, first + static_cast<std::size_t>(h.green)) > white) ||
           (shown[0] == 235 &&
            dpx_sample<C>(row, first + static_cast<std::size_t>(h.blue)) > white);
}

using AboveWhite = bool (*)(const DpxHeader&, const std::uint8_t*, std::int32_t,
                            const std::uint8_t*);
constexpr AboveWhite kAboveWhite[kDpxCodings] = {
    above_white<kDpx16>,       above_white<kDpx12FilledA>, above_white<kDpx12FilledB>,
    above_white<kDpx12Packed>, above_white<kDpx10FilledA>, above_white<kDpx10FilledB>,
    above_white<kDpx10Packed>, above_white<kDpx8>,
};

void dpx_part(void* context, int part) {
    DpxJob& job = *static_cast<DpxJob*>(context);
    const DpxHeader& h = job.header;
    const FramePlan& plan = job.frame.plan;
    const auto stride = static_cast<std::int64_t>(h.row_stride);
    std::int64_t held = 0;
    RowsToConvert pending;
    walk_rows(
        plan, job.span_capacity, plan.shift == 0, job.frame.next, job.frame.buffers[part],
        [&](std::uint8_t* buffer, std::int32_t top, std::int32_t count) {
            const std::size_t wanted =
                static_cast<std::size_t>(count - 1) * h.row_stride + h.row_bytes;
            held = file_read_at(job.file, buffer, wanted, h.data_offset + top * stride);
        },
        [&](std::uint8_t* buffer, std::int32_t row_in_span, std::int32_t display) {
            std::uint8_t* dst = display_row(plan, display);
            job.row(job, buffer + static_cast<std::size_t>(row_in_span) * h.row_stride, dst);
            // A file that ends early (truncated, or still being written) shows
            // black from the first pixel whose samples it does not all hold.
            const std::int64_t row_held = held - row_in_span * stride;
            if (row_held < static_cast<std::int64_t>(h.row_bytes)) {
                const std::size_t pixels =
                    row_held > 0 ? dpx_samples_held(h.coding, static_cast<std::size_t>(row_held)) /
                                       static_cast<std::size_t>(h.components)
                                 : 0;
                const std::size_t shown =
                    (pixels + (std::size_t{1} << plan.shift) - 1) >> plan.shift;
                for (std::size_t c = shown; c < static_cast<std::size_t>(plan.cols_out); ++c)
                    dst[4 * c] = dst[4 * c + 1] = dst[4 * c + 2] = 0;
            }
            if (job.frame.mark_range) {
                // Only wholly held pixels can show a 235, so the samples read
                // here lie in the row's held bytes.
                const std::uint8_t* src =
                    buffer + static_cast<std::size_t>(row_in_span) * h.row_stride;
                const AboveWhite above = kAboveWhite[h.coding];
                mark_range_row(job.frame, display, dpx_coding_bits(h.coding), [&](std::int32_t c) {
                    return above(h, src, c << plan.shift, dst + 4 * static_cast<std::size_t>(c));
                });
            }
            finish_row(job.frame, pending, display);
        });
    finish_rows(job.frame, pending);
}

/// The layout a decode needs, from what the header said.
DpxHeader header_of(const FrameInfo& info) {
    DpxHeader h{};
    h.width = info.width;
    h.height = info.height;
    h.data_offset = static_cast<std::uint32_t>(info.data_offset);
    h.coding = static_cast<DpxCoding>(info.layout);
    h.components = info.components;
    h.red = info.red;
    h.green = info.green;
    h.blue = info.blue;
    h.row_bytes = static_cast<std::size_t>(info.row_bytes);
    h.row_stride = static_cast<std::size_t>(info.row_stride);
    return h;
}

/// Picks the row function (and its vector plan) of the frame's layout.
void choose_rows(DpxJob& job) {
    const DpxHeader& h = job.header;
    job.gather = nullptr;
    const bool rgb = h.components == 3 && h.red == 0 && h.green == 1 && h.blue == 2;
    if (dpx_is_rgb16(h)) {
        job.row = rgb16_row;
    } else if (rgb && (h.coding == kDpx10FilledA || h.coding == kDpx10FilledB) &&
               job.frame.plan.shift <= 1) {
        job.row = h.coding == kDpx10FilledA ? rgb10_row<kDpx10FilledA> : rgb10_row<kDpx10FilledB>;
    } else {
        job.row = kCodedRows[h.coding];
        if (job.frame.simd) job.gather = gather_for(h.coding);
        if (job.gather && (job.frame.plan.shift <= 1 ? plan_blocks(job) : plan_sparse(job)) != 0)
            job.gather = nullptr;
    }
}

int dpx_read_info(const char* path, std::int32_t, std::int32_t, FrameFiles& files, FrameInfo& info,
                  ReadFailure* why) {
    const FileHandle file = open_frame_file(path, why);
    if (file == kNoFile || !files.add(file)) return -1;
    // Magic, offsets, sizes, the image elements and the descriptive headers in
    // one read. A file too short to hold the size fields is not a frame this
    // reader can size; the fields a shorter file lacks count as undefined.
    std::uint8_t bytes[kDpxFullHeaderBytes];
    const std::int64_t held = file_read_at(file, bytes, sizeof bytes, 0);
    if (held < 4 || std::memcmp(bytes, "SDPX", 4) != 0) return fail_with(why, kFailNotBigEndianDpx);
    if (held < static_cast<std::int64_t>(kDpxSizeFieldsEnd)) return fail_with(why, kFailHeaderCut);
    std::memset(bytes + held, 0xFF, sizeof bytes - static_cast<std::size_t>(held));
    const std::int64_t size = file_size(file);
    DpxHeader h;
    if (parse_dpx_header(bytes, size, &h, why) != 0) return -1;
    info.width = h.width;
    info.height = h.height;
    info.bits = dpx_coding_bits(h.coding);
    info.components = h.components;
    info.red = h.red;
    info.green = h.green;
    info.blue = h.blue;
    info.layout = h.coding;
    info.data_offset = h.data_offset;
    info.row_bytes = static_cast<std::int64_t>(h.row_bytes);
    info.row_stride = static_cast<std::int64_t>(h.row_stride);
    info.file_bytes[0] = size;
    // Bytes from the image data on are pixels, not header: a writer with a
    // short header (FFmpeg's ends at 1664) has no film or television header,
    // and its first pixels must not read as a frame rate or a timecode.
    const std::int64_t header_held = held < h.data_offset ? held : h.data_offset;
    std::memset(bytes + header_held, 0xFF, sizeof bytes - static_cast<std::size_t>(header_held));
    parse_dpx_fields(bytes, header_held, info.header);
    return 0;
}

int dpx_open_data(char*, FrameFiles& files, FrameInfo&, ReadFailure* why) {
    // The header's own read left the file open; there is nothing more to open.
    return files.count == 1 ? 0 : fail_with(why, kFailCannotOpen);
}

int dpx_decode(const FrameFiles& files, const FrameInfo& info, const DecodeSettings& settings,
               const PixelTarget& target, DecodeScratch& scratch) {
    DpxJob job;
    job.header = header_of(info);
    const DpxHeader& h = job.header;
    if (files.count < 1 ||
        begin_frame(job.frame, h.width, h.height, settings, target, scratch, h.row_bytes) != 0)
        return -1;
    job.file = files.file[0];
    choose_rows(job);
    // Rows a buffer holds: the last one needs its samples only, not its padding.
    job.span_capacity =
        static_cast<std::int32_t>((job.frame.buffer_bytes - h.row_bytes) / h.row_stride + 1);
    run_frame(job.frame, dpx_part, &job);
    return 0;
}

int dpx_read_pixel(const FrameFiles& files, const FrameInfo& info, std::int32_t x, std::int32_t y,
                   SourceValues* out) {
    const DpxHeader h = header_of(info);
    if (files.count < 1 || x < 0 || y < 0 || x >= h.width || y >= h.height) return -1;
    // The whole groups of samples (dpx_group) that hold the pixel's samples.
    const std::size_t first = static_cast<std::size_t>(x) * h.components;
    const DpxGroup group = dpx_group(h.coding);
    const auto group_samples = static_cast<std::size_t>(group.samples);
    const std::size_t base = first / group_samples * group_samples;
    const std::size_t begin = base / group_samples * static_cast<std::size_t>(group.bytes);
    const std::size_t end_samples = first + static_cast<std::size_t>(h.components);
    std::size_t end =
        (end_samples + group_samples - 1) / group_samples * static_cast<std::size_t>(group.bytes);
    if (end > h.row_bytes) end = h.row_bytes;
    std::uint8_t bytes[64] = {};
    if (end - begin > sizeof bytes) return -1;
    const std::int64_t at = h.data_offset + static_cast<std::int64_t>(y) * h.row_stride + begin;
    const std::int64_t got = file_read_at(files.file[0], bytes, end - begin, at);
    // A file that ends inside the row holds the pixel exactly when the decode
    // shows it: all its samples lie in the whole words before the end, even
    // when the group they share is cut short.
    if (got < 0 || dpx_samples_held(h.coding, begin + static_cast<std::size_t>(got)) < end_samples)
        return -1;
    const std::size_t k = first - base;
    out->red = dpx_sample_of(h.coding, bytes, k + h.red);
    out->green = dpx_sample_of(h.coding, bytes, k + h.green);
    out->blue = dpx_sample_of(h.coding, bytes, k + h.blue);
    out->bits = dpx_coding_bits(h.coding);
    return 0;
}

/// Samples of one row of coding C: pixels 0, f, 2f, ... as red, green, blue,
/// 0 where the row's first `held` bytes do not hold them.
template <DpxCoding C>
void sample_row(const DpxHeader& h, const std::uint8_t* row, std::size_t held, std::int32_t shift,
                std::uint16_t* out) {
    const std::size_t samples_held = dpx_samples_held(C, held);
    const auto components = static_cast<std::size_t>(h.components);
    const std::int32_t pixels = ((h.width - 1) >> shift) + 1;
    if constexpr (C == kDpx16) {
        // Every pixel of three samples in their stored order (what whole-frame
        // metrics read): the row's big-endian words are the samples as they stand.
        if (shift == 0 && components == 3 && h.red == 0 && h.green == 1 && h.blue == 2) {
            const std::size_t all = static_cast<std::size_t>(pixels) * 3;
            const std::size_t whole = std::min(samples_held / 3 * 3, all);
            for (std::size_t i = 0; i < whole; ++i)
                out[i] = static_cast<std::uint16_t>(dpx_be16(row + 2 * i));
            std::fill(out + whole, out + all, std::uint16_t{0});
            return;
        }
    }
    for (std::int32_t c = 0; c < pixels; ++c, out += 3) {
        const std::size_t first = (static_cast<std::size_t>(c) << shift) * components;
        if (first + components > samples_held) {
            out[0] = out[1] = out[2] = 0;
            continue;
        }
        out[0] = static_cast<std::uint16_t>(dpx_sample<C>(row, first + h.red));
        out[1] = static_cast<std::uint16_t>(dpx_sample<C>(row, first + h.green));
        out[2] = static_cast<std::uint16_t>(dpx_sample<C>(row, first + h.blue));
    }
}

using SampleRow = void (*)(const DpxHeader&, const std::uint8_t*, std::size_t, std::int32_t,
                           std::uint16_t*);
constexpr SampleRow kSampleRows[kDpxCodings] = {
    sample_row<kDpx16>,       sample_row<kDpx12FilledA>, sample_row<kDpx12FilledB>,
    sample_row<kDpx12Packed>, sample_row<kDpx10FilledA>, sample_row<kDpx10FilledB>,
    sample_row<kDpx10Packed>, sample_row<kDpx8>,
};

int dpx_read_samples(const FrameFiles& files, const FrameInfo& info, std::int32_t top,
                     std::int32_t count, std::int32_t shift, std::uint16_t* out,
                     std::size_t out_stride, DecodeScratch& scratch) {
    const DpxHeader h = header_of(info);
    if (files.count < 1 || !scratch.row || h.row_bytes > kRowBufferBytes) return -1;
    const SampleRow row = kSampleRows[h.coding];
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int64_t y = top + (static_cast<std::int64_t>(i) << shift);
        const std::int64_t got =
            file_read_at(files.file[0], scratch.row, h.row_bytes, h.data_offset + y * h.row_stride);
        row(h, scratch.row, got > 0 ? static_cast<std::size_t>(got) : 0, shift,
            out + static_cast<std::size_t>(i) * out_stride);
    }
    return 0;
}

int dpx_read_ahead_files(const char* path, const ReadAheadShape& shape, ReadAheadFile* out) {
    const std::size_t length = strnlen(path, kPathMax);
    if (length >= static_cast<std::size_t>(kPathMax)) return -1;
    std::memcpy(out[0].path, path, length + 1);
    // The rows are read at the stride of the frame before; before any frame,
    // the whole file.
    out[0].row_bytes = shape.row_stride;
    out[0].header = true;
    return 1;
}

}  // namespace

const FrameFormat kDpxFormat = {
    "DPX",          dpx_read_info,    dpx_open_data,        dpx_decode,
    dpx_read_pixel, dpx_read_samples, dpx_read_ahead_files,
};
