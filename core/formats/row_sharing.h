// How the formats' decoders share out a frame's rows: which source rows a
// decimated frame uses and where each lands in the bottom-up picture, how reads
// of several rows at once are grouped, and how one frame's rows are shared
// between the calling thread and the helper thread. Private to the formats.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "color/bt2020.h"
#include "core/cpu_features.h"
#include "core/formats/format.h"
#include "core/helper_thread.h"

/// What one frame decode writes: the source size, the shift, and the picture
/// rows and columns that both exist in the target and have a source sample.
struct FramePlan {
    std::int32_t width;
    std::int32_t height;
    std::int32_t shift;
    /// Picture rows 0 .. rows_out - 1 and columns 0 .. cols_out - 1 are written.
    std::int32_t rows_out;
    std::int32_t cols_out;
    std::uint8_t* pixels;
    /// Bytes from one picture row to the next.
    std::size_t display_stride;
};

/// Plans a decode of a width x height source at `shift` into `target`.
/// Returns -1 when there is no target to write, the shift is outside 0..3 or
/// the size is not positive.
inline int plan_frame(std::int32_t width, std::int32_t height, std::int32_t shift,
                      const PixelTarget& target, FramePlan& plan) {
    if (!target.pixels || shift < 0 || shift > 3) return -1;
    if (width <= 0 || height <= 0) return -1;
    const std::int32_t dw = target.width > 0 ? target.width : 0;
    const std::int32_t dh = target.height > 0 ? target.height : 0;
    if (target.stride < static_cast<std::size_t>(dw) * 4) return -1;
    const std::int32_t f = 1 << shift;
    // Sampled columns are 0, f, 2f, ... < width; sampled rows (from the bottom)
    // likewise. When a size is not a multiple of f there is one sample more than
    // the picture holds: it is left out. A picture larger than the source
    // decimates to keeps its extra pixels as they were.
    const std::int32_t cols = (width - 1) / f + 1;
    const std::int32_t rows = (height - 1) / f + 1;
    plan.width = width;
    plan.height = height;
    plan.shift = shift;
    plan.cols_out = cols < dw ? cols : dw;
    plan.rows_out = rows < dh ? rows : dh;
    plan.pixels = target.pixels;
    plan.display_stride = target.stride;
    return 0;
}

/// The source row, counted from the top of the picture, that display row `row`
/// (counted from the bottom) shows: rows are chosen by their distance from the
/// bottom row, a multiple of the factor.
inline std::int32_t source_row_from_top(const FramePlan& plan, std::int32_t row) {
    return plan.height - 1 - row * (1 << plan.shift);
}

/// The source column that display column `column` shows: columns are chosen by
/// their distance from the left edge.
inline std::int32_t source_column(const FramePlan& plan, std::int32_t column) {
    return column << plan.shift;
}

/// Splits a frame's used rows into spans and hands them out. `read_span(buffer,
/// top, count)` must read `count` consecutive source rows starting at row `top`
/// (counted from the top of the picture) into `buffer`; then `emit_row(buffer,
/// row_in_span, display_row)` turns buffered row `row_in_span` into display row
/// `display_row`. Spans are claimed from `next` in file order, so one walker or
/// two on different threads (each with its own buffer) read the file front to back.
///
/// With `read_through` a span covers every source row between its first and last
/// used row, so up to `span_capacity` rows come in one read even though only
/// every f-th is used; without it each used row is read on its own and skipped
/// rows are never read. At full size both are the same: every row is used.
template <class ReadSpan, class EmitRow>
void walk_rows(const FramePlan& plan, std::int32_t span_capacity, bool read_through,
               std::atomic<std::int32_t>& next, std::uint8_t* buffer, ReadSpan&& read_span,
               EmitRow&& emit_row) {
    const std::int32_t f = 1 << plan.shift;
    if (span_capacity < 1) span_capacity = 1;
    const std::int32_t per_span = read_through ? (span_capacity - 1) / f + 1 : 1;
    // The top display row comes first in the file.
    for (;;) {
        const std::int32_t k = next.fetch_add(1, std::memory_order_relaxed);
        const std::int32_t d = plan.rows_out - 1 - k * per_span;
        if (k >= (plan.rows_out + per_span - 1) / per_span || d < 0) return;
        const std::int32_t n = d + 1 < per_span ? d + 1 : per_span;
        read_span(buffer, source_row_from_top(plan, d), (n - 1) * f + 1);
        for (std::int32_t i = 0; i < n; ++i) emit_row(buffer, i * f, d - i);
    }
}

/// Display row `row` of the plan's pixel buffer.
inline std::uint8_t* display_row(const FramePlan& plan, std::int32_t row) {
    return plan.pixels + static_cast<std::size_t>(row) * plan.display_stride;
}

/// Blanks what a short read left unfilled: bytes [held, wanted) of `buffer`, so a
/// frame whose file ends early (truncated, or still being written) shows black
/// there instead of whatever an earlier row or frame left in the buffer.
inline void blank_missing(std::uint8_t* buffer, std::int64_t held, std::size_t wanted) {
    if (held < 0) held = 0;
    if (static_cast<std::size_t>(held) < wanted)
        std::memset(buffer + held, 0, wanted - static_cast<std::size_t>(held));
}

/// What the threads reading one frame share: the plan, a buffer for each part,
/// and the next span to claim. Each reader keeps one in its own per-frame job.
struct FrameJob {
    FramePlan plan;
    bool simd;
    /// Set when the AVX2 kernels may run.
    bool avx2;
    /// Set when the pixels are converted.
    const ConversionTables* tables;
    /// The marks the decode writes (null: none): the gamut marks (only when
    /// converting), the range marks, and whether the marked pixels are painted.
    const PixelMarks* marks;
    bool mark_gamut;
    bool mark_range;
    bool paint;
    /// 2 when the frame is shared with the helper thread, else 1.
    int parts;
    /// Each part reads into its own buffer of buffer_bytes.
    std::uint8_t* buffers[2];
    std::size_t buffer_bytes;
    std::atomic<std::int32_t> next{0};
};

/// Prepares `job` for decoding a width x height frame into `target`: the plan,
/// whether the frame is worth sharing with the helper thread (when the settings
/// allow it: a read of `bytes_per_row` for each used row), and the buffers:
/// halves of the read buffer when shared, the whole read buffer, or the row
/// buffer when there is no read buffer. Returns -1 when there is no target or
/// row buffer to work with.
int begin_frame(FrameJob& job, std::int32_t width, std::int32_t height,
                const DecodeSettings& settings, const PixelTarget& target,
                const DecodeScratch& scratch, std::size_t bytes_per_row);

/// Runs part(context, 0), and part(context, 1) on the helper thread when the
/// frame is shared. `context` is the reader's job, which begins with its FrameJob.
void run_frame(const FrameJob& job, void (*part)(void*, int), void* context);

/// Display rows a part has made and not yet converted. Converting rows some
/// 64 KB at a time, rather than each between two reads, keeps the conversion's
/// vector code running long enough to reach its full speed: at 1/4 and 1/8 of a
/// 4K frame it took 25-45% less time per pixel than row by row. Much more at once
/// (32 full-size 8K rows) falls out of the cache and was slower.
struct RowsToConvert {
    static constexpr int kCapacity = 32;
    static constexpr std::int64_t kBytes = 64 * 1024;
    std::int32_t rows[kCapacity];
    int count = 0;
};

/// The words of display row `row` in a plane of the job's marks.
inline std::uint64_t* marks_row(const FrameJob& job, std::uint64_t* plane, std::int32_t row) {
    return plane + static_cast<std::size_t>(row) * job.marks->words_per_row;
}

/// Converts the pending rows, when the job converts, marking them and painting
/// the marks when the job says so. Each part calls it once more when its last
/// row is made.
inline void finish_rows(const FrameJob& job, RowsToConvert& pending) {
    // The conversion paints its own marks; the range marks go over them.
    static constexpr std::uint32_t kGamutPaint = kGamutMarkColour;
    const std::int32_t cols = job.plan.cols_out;
    for (int i = 0; i < pending.count; ++i) {
        const std::int32_t row = pending.rows[i];
        std::uint8_t* pixels = display_row(job.plan, row);
        if (job.mark_gamut)
            convert_row_bgrx_marked(*job.tables, pixels, cols,
                                    marks_row(job, job.marks->gamut_bits, row),
                                    job.paint ? &kGamutPaint : nullptr);
        else
            convert_row_bgrx(*job.tables, pixels, cols);
        if (job.paint && job.mark_range)
            paint_marked_row(pixels, cols, nullptr, marks_row(job, job.marks->range_bits, row));
    }
    pending.count = 0;
}

/// Display row `row` is finished: converted, when the job converts, with the
/// pending rows once they are enough.
inline void finish_row(const FrameJob& job, RowsToConvert& pending, std::int32_t row) {
    if (!job.tables) return;
    pending.rows[pending.count++] = row;
    if (pending.count == RowsToConvert::kCapacity ||
        std::int64_t{4} * job.plan.cols_out * pending.count >= RowsToConvert::kBytes)
        finish_rows(job, pending);
}

inline void paint_range_pixel(std::uint8_t* px) {
    px[0] = static_cast<std::uint8_t>(kRangeMarkColour);
    px[1] = static_cast<std::uint8_t>(kRangeMarkColour >> 8);
    px[2] = static_cast<std::uint8_t>(kRangeMarkColour >> 16);
}

#if KARVELIN_X86_KERNELS
// The range marks of 64 display pixels whose bytes 0..2 are the top 8 bits of
// their samples, four pixels a vector: with y = byte - 16 (wrapping), a byte
// is below 16 or above 235 when y > 219, and may be 235 when y > 218. Returns
// the pixels with a byte outside (the stored sample is then outside at any bit
// depth), painted when `paint`; *white gets the others that have a 235, whose
// low bits decide. Most words of a picture are wholly inside: one pass of
// three instructions a vector and one test say so.
KARVELIN_SSSE3 inline __attribute__((always_inline)) std::uint64_t range_word_ssse3(
    std::uint8_t* px, bool paint, std::uint64_t* white) {
    const __m128i sixteen = _mm_set1_epi8(16);
    const __m128i colours = _mm_set1_epi32(0x00FFFFFF);
    const __m128i zero = _mm_setzero_si128();
    // First only whether any colour byte of the word may be outside.
    __m128i any = zero;
    for (int v = 0; v < 16; ++v) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 16 * v));
        any = _mm_or_si128(
            any, _mm_subs_epu8(_mm_sub_epi8(x, sixteen), _mm_set1_epi8(static_cast<char>(218))));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(any, colours), zero)) == 0xFFFF) {
        *white = 0;
        return 0;
    }
    std::uint64_t maybe = 0;
    for (int v = 0; v < 16; ++v) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 16 * v));
        const __m128i y = _mm_and_si128(_mm_sub_epi8(x, sixteen), colours);
        const __m128i inside =
            _mm_cmpeq_epi32(_mm_subs_epu8(y, _mm_set1_epi8(static_cast<char>(218))), zero);
        maybe |= static_cast<std::uint64_t>(~_mm_movemask_ps(_mm_castsi128_ps(inside)) & 0xF)
                 << (4 * v);
    }
    std::uint64_t out = 0;
    for (std::uint64_t left = maybe; left != 0;) {
        const int v = __builtin_ctzll(left) / 4;
        left &= ~(std::uint64_t{0xF} << (4 * v));
        auto* at = reinterpret_cast<__m128i*>(px + 16 * v);
        const __m128i x = _mm_loadu_si128(at);
        const __m128i y = _mm_and_si128(_mm_sub_epi8(x, sixteen), colours);
        const __m128i inside =
            _mm_cmpeq_epi32(_mm_subs_epu8(y, _mm_set1_epi8(static_cast<char>(219))), zero);
        const auto outside =
            static_cast<std::uint64_t>(~_mm_movemask_ps(_mm_castsi128_ps(inside)) & 0xF);
        out |= outside << (4 * v);
        // Marked pixels take the colour in bytes 0..2; byte 3 stays.
        if (paint && outside) {
            const __m128i keep =
                _mm_or_si128(inside, _mm_set1_epi32(static_cast<int>(0xFF000000u)));
            const __m128i colour = _mm_set1_epi32(static_cast<int>(kRangeMarkColour & 0xFFFFFF));
            _mm_storeu_si128(
                at, _mm_or_si128(_mm_and_si128(x, keep), _mm_andnot_si128(inside, colour)));
        }
    }
    *white = maybe & ~out;
    return out;
}
#endif

#if KARVELIN_AVX2_KERNELS
// The same, eight pixels a vector.
KARVELIN_AVX2 inline __attribute__((always_inline)) std::uint64_t range_word_avx2(
    std::uint8_t* px, bool paint, std::uint64_t* white) {
    const __m256i sixteen = _mm256_set1_epi8(16);
    const __m256i colours = _mm256_set1_epi32(0x00FFFFFF);
    const __m256i zero = _mm256_setzero_si256();
    // First only whether any colour byte of the word may be outside.
    __m256i any = zero;
    for (int v = 0; v < 8; ++v) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px + 32 * v));
        any = _mm256_or_si256(any, _mm256_subs_epu8(_mm256_sub_epi8(x, sixteen),
                                                    _mm256_set1_epi8(static_cast<char>(218))));
    }
    if (_mm256_testz_si256(any, colours)) {
        *white = 0;
        return 0;
    }
    std::uint64_t maybe = 0;
    for (int v = 0; v < 8; ++v) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px + 32 * v));
        const __m256i y = _mm256_and_si256(_mm256_sub_epi8(x, sixteen), colours);
        const __m256i inside =
            _mm256_cmpeq_epi32(_mm256_subs_epu8(y, _mm256_set1_epi8(static_cast<char>(218))), zero);
        maybe |= static_cast<std::uint64_t>(~_mm256_movemask_ps(_mm256_castsi256_ps(inside)) & 0xFF)
                 << (8 * v);
    }
    std::uint64_t out = 0;
    for (std::uint64_t left = maybe; left != 0;) {
        const int v = __builtin_ctzll(left) / 8;
        left &= ~(std::uint64_t{0xFF} << (8 * v));
        auto* at = reinterpret_cast<__m256i*>(px + 32 * v);
        const __m256i x = _mm256_loadu_si256(at);
        const __m256i y = _mm256_and_si256(_mm256_sub_epi8(x, sixteen), colours);
        const __m256i inside =
            _mm256_cmpeq_epi32(_mm256_subs_epu8(y, _mm256_set1_epi8(static_cast<char>(219))), zero);
        const auto outside =
            static_cast<std::uint64_t>(~_mm256_movemask_ps(_mm256_castsi256_ps(inside)) & 0xFF);
        out |= outside << (8 * v);
        // Marked pixels take the colour in bytes 0..2; byte 3 stays.
        if (paint && outside)
            _mm256_storeu_si256(
                at, _mm256_blendv_epi8(
                        x, _mm256_set1_epi32(static_cast<int>(kRangeMarkColour & 0xFFFFFF)),
                        _mm256_andnot_si256(inside, colours)));
    }
    *white = maybe & ~out;
    return out;
}
#endif

#if KARVELIN_X86_KERNELS
/// range_word_ssse3 over the `words` whole words of a row: one call a row, so
/// that the word's loop stays in its registers.
KARVELIN_SSSE3 inline void range_words_ssse3(std::uint8_t* px, std::int32_t words, bool paint,
                                             std::uint64_t* marked, std::uint64_t* white) {
    for (std::int32_t w = 0; w < words; ++w)
        marked[w] = range_word_ssse3(px + 256 * static_cast<std::size_t>(w), paint, &white[w]);
}
#endif

#if KARVELIN_AVX2_KERNELS
KARVELIN_AVX2 inline void range_words_avx2(std::uint8_t* px, std::int32_t words, bool paint,
                                           std::uint64_t* marked, std::uint64_t* white) {
    for (std::int32_t w = 0; w < words; ++w)
        marked[w] = range_word_avx2(px + 256 * static_cast<std::size_t>(w), paint, &white[w]);
}
#endif

/// Writes the range marks of display row `row`, just made and not yet converted
/// (bytes 0..2 of each pixel the top 8 bits of a sample), and paints them when
/// the job paints and does not convert (a converting job paints after the
/// conversion). A pixel is marked when a stored sample is below narrow black or
/// above narrow white at `bits` bits; the top 8 bits decide that except where
/// they are 235, and there `above_white(c)` says whether a stored sample of
/// display pixel c is above white.
template <class AboveWhite>
void mark_range_row(const FrameJob& job, std::int32_t row, std::int32_t bits,
                    AboveWhite&& above_white) {
    std::uint64_t* out = marks_row(job, job.marks->range_bits, row);
    std::uint8_t* pixels = display_row(job.plan, row);
    const std::int32_t cols = job.plan.cols_out;
    const bool paint = job.paint && !job.tables;
    // The pixels with a 235 of each word; a row holds at most kMaxFrameWidth.
    std::uint64_t white[(kMaxFrameWidth + 63) / 64];
    std::int32_t w = 0;
#if KARVELIN_AVX2_KERNELS
    if (job.avx2) {
        w = cols / 64;
        range_words_avx2(pixels, w, paint, out, white);
    } else
#endif
#if KARVELIN_X86_KERNELS
        if (job.simd) {
        w = cols / 64;
        range_words_ssse3(pixels, w, paint, out, white);
    }
#endif
    // The rest pixel by pixel.
    for (; w * 64 < cols; ++w) {
        std::uint8_t* px = pixels + static_cast<std::size_t>(w) * 256;
        const std::int32_t n = cols - 64 * w < 64 ? cols - 64 * w : 64;
        std::uint64_t marked = 0, ambiguous = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            const std::uint8_t* p = px + 4 * i;
            const bool outside =
                p[0] < 16 || p[0] > 235 || p[1] < 16 || p[1] > 235 || p[2] < 16 || p[2] > 235;
            if (outside) {
                marked |= std::uint64_t{1} << i;
                if (paint) paint_range_pixel(px + 4 * i);
            } else if (p[0] == 235 || p[1] == 235 || p[2] == 235) {
                ambiguous |= std::uint64_t{1} << i;
            }
        }
        out[w] = marked;
        white[w] = ambiguous;
    }
    // At 8 bits a 235 is white itself; above, the stored samples decide.
    if (bits <= 8) return;
    for (w = 0; w * 64 < cols; ++w) {
        for (std::uint64_t left = white[w]; left != 0; left &= left - 1) {
            const int i = __builtin_ctzll(left);
            if (!above_white(64 * w + i)) continue;
            out[w] |= std::uint64_t{1} << i;
            if (paint) paint_range_pixel(pixels + static_cast<std::size_t>(w) * 256 + 4 * i);
        }
    }
}

#if KARVELIN_X86_KERNELS
/// Stores four display pixels whose byte 3 keeps what it holds: the new blue,
/// green and red (`bgr`, zero in every byte 3) are merged under it.
KARVELIN_SSSE3 inline void store_keeping_byte3(std::uint8_t* dst, __m128i bgr) {
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(_mm_and_si128(old, keep), bgr));
}
#endif
