// Reads frames stored as three headerless 12-bit plane files (red, green, blue).
#include <cstring>

#include "core/decimate.h"
#include "core/readers.h"
#include "platform/platform.h"

namespace {

// Bits 11..4 of a sample: its top 8 bits.
inline std::uint8_t sample8(const std::uint8_t* s) {
    return static_cast<std::uint8_t>(planar_sample(s) >> 4);
}

void planar_row_scalar(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                       std::uint8_t* dst, std::int32_t from, std::int32_t cols,
                       std::int32_t shift) {
    const std::size_t step = static_cast<std::size_t>(kPlanarSampleBytes) << shift;
    const std::size_t at = static_cast<std::size_t>(from) * step;
    r += at;
    g += at;
    b += at;
    dst += static_cast<std::size_t>(from) * 4;
    for (std::int32_t c = from; c < cols; ++c, r += step, g += step, b += step, dst += 4) {
        dst[0] = sample8(b);
        dst[1] = sample8(g);
        dst[2] = sample8(r);
    }
}

#if KARVELIN_X86_KERNELS
// Eight samples to their 8-bit values, one per 16-bit lane: the lane holds
// l << 8 | h, so (lane << 4) puts h's low nibble in bits 7..4 and (lane >> 12)
// brings l's high nibble to bits 3..0.
KARVELIN_SSSE3 inline __m128i samples8(const std::uint8_t* s) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    return _mm_and_si128(_mm_or_si128(_mm_slli_epi16(x, 4), _mm_srli_epi16(x, 12)),
                         _mm_set1_epi16(0xFF));
}

// Eight pixels from eight bytes per plane (in the low halves) to 32 display bytes.
KARVELIN_SSSE3 inline void store_eight(std::uint8_t* dst, __m128i r, __m128i g, __m128i b) {
    const __m128i bg = _mm_unpacklo_epi8(b, g);
    const __m128i r0 = _mm_unpacklo_epi8(r, _mm_setzero_si128());
    store_keeping_byte3(dst, _mm_unpacklo_epi16(bg, r0));
    store_keeping_byte3(dst + 16, _mm_unpackhi_epi16(bg, r0));
}

// Full size: 8 pixels (16 bytes per plane) per step. Returns the pixels done.
KARVELIN_SSSE3 std::int32_t planar_row_full_ssse3(const std::uint8_t* r, const std::uint8_t* g,
                                                  const std::uint8_t* b, std::uint8_t* dst,
                                                  std::int32_t cols) {
    std::int32_t c = 0;
    for (; c + 8 <= cols; c += 8, r += 16, g += 16, b += 16, dst += 32) {
        const __m128i z = _mm_setzero_si128();
        store_eight(dst, _mm_packus_epi16(samples8(r), z), _mm_packus_epi16(samples8(g), z),
                    _mm_packus_epi16(samples8(b), z));
    }
    return c;
}

// Half size: every second sample, 8 pixels from 32 bytes per plane. Stops before
// a step would read past the plane row's `row_bytes`.
KARVELIN_SSSE3 std::int32_t planar_row_half_ssse3(const std::uint8_t* r, const std::uint8_t* g,
                                                  const std::uint8_t* b, std::uint8_t* dst,
                                                  std::int32_t cols, std::size_t row_bytes) {
    const __m128i even = _mm_set1_epi32(0xFF);
    auto pick = [&](const std::uint8_t* s) KARVELIN_SSSE3 {
        const __m128i lo = _mm_and_si128(samples8(s), even);
        const __m128i hi = _mm_and_si128(samples8(s + 16), even);
        return _mm_packus_epi16(_mm_packs_epi32(lo, hi), _mm_setzero_si128());
    };
    std::int32_t c = 0;
    for (std::size_t end = 32; c + 8 <= cols && end <= row_bytes; c += 8, end += 32) {
        store_eight(dst, pick(r), pick(g), pick(b));
        r += 32;
        g += 32;
        b += 32;
        dst += 32;
    }
    return c;
}
#endif

void planar_row(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                std::uint8_t* dst, std::int32_t cols, std::int32_t shift, std::size_t row_bytes,
                bool simd) {
    std::int32_t done = 0;
#if KARVELIN_X86_KERNELS
    if (simd && shift == 0) done = planar_row_full_ssse3(r, g, b, dst, cols);
    if (simd && shift == 1) done = planar_row_half_ssse3(r, g, b, dst, cols, row_bytes);
#else
    (void)row_bytes;
    (void)simd;
#endif
    planar_row_scalar(r, g, b, dst, done, cols, shift);
}

void close_planes(const FileHandle* planes, int count) {
    for (int i = 0; i < count; ++i) file_close(planes[i]);
}

// One frame read, shared by the threads that work on it.
struct PlanarJob {
    FrameJob frame;
    FileHandle planes[3];
    std::size_t row_bytes;
    std::int32_t span_capacity;
    /// Bytes from one plane's rows to the next in a buffer.
    std::size_t plane_bytes;
};

void planar_part(void* context, int part) {
    PlanarJob& job = *static_cast<PlanarJob*>(context);
    const FramePlan& plan = job.frame.plan;
    const std::size_t row_bytes = job.row_bytes;
    const std::size_t plane_bytes = job.plane_bytes;
    RowsToConvert pending;
    walk_rows(
        plan, job.span_capacity, plan.shift == 0, job.frame.next, job.frame.buffers[part],
        [&](std::uint8_t* buffer, std::int32_t top, std::int32_t count) {
            const std::size_t wanted = static_cast<std::size_t>(count) * row_bytes;
            const std::int64_t at =
                static_cast<std::int64_t>(top) * static_cast<std::int64_t>(row_bytes);
            // A pixel is shown only where all three planes hold its sample; where
            // any plane ends early the pixel is black.
            std::int64_t held = static_cast<std::int64_t>(wanted);
            for (int p = 0; p < 3; ++p) {
                const std::int64_t n =
                    file_read_at(job.planes[p], buffer + p * plane_bytes, wanted, at);
                if (n < held) held = n;
            }
            if (held > 0) held -= held % kPlanarSampleBytes;
            for (int p = 0; p < 3; ++p) blank_missing(buffer + p * plane_bytes, held, wanted);
        },
        [&](std::uint8_t* buffer, std::int32_t row_in_span, std::int32_t display) {
            const std::uint8_t* src = buffer + static_cast<std::size_t>(row_in_span) * row_bytes;
            std::uint8_t* dst = display_row(plan, display);
            planar_row(src, src + plane_bytes, src + 2 * plane_bytes, dst, plan.cols_out,
                       plan.shift, row_bytes, job.frame.simd);
            finish_row(job.frame, pending, display);
        });
    finish_rows(job.frame, pending);
}

}  // namespace

const char* planar_plane_letters(const char* path, std::size_t length) {
    // Planes follow the case of the chosen file's letter: on a case-sensitive
    // file system "clip.4K.R" has siblings ".G" and ".B", not ".g" and ".b".
    const char last = path[length - 1];
    return (last >= 'A' && last <= 'Z') ? "RGB" : "rgb";
}

int planar_frame_size(const char* path, std::size_t length, const FrameStore& store,
                      std::int32_t* width, std::int32_t* height) {
    // The size tag sits in the last four characters ("4K.r"); a shorter path has
    // none and is refused without looking before its start.
    if (length < 4 || path[length - 3] != 'K') return -1;
    const char tag = path[length - 4];
    *width = store.source_width;
    *height = store.source_height;
    if (tag == '4') {
        *width = 3840;
        *height = 2160;
    } else if (tag == '8') {
        *width = 7680;
        *height = 4320;
    }
    return 0;
}

int read_planar_frame(char* path, FrameStore& store, const ConversionTables& tables,
                      ReadFailure* why) {
    const std::size_t length = std::strlen(path);
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (planar_frame_size(path, length, store, &width, &height) != 0)
        return fail_with(why, kFailPlanarName);
    if (width != store.source_width || height != store.source_height) {
        store.source_width = width;
        store.source_height = height;
        store.size_recorded = 1;
        return 0;
    }

    const char* letters = planar_plane_letters(path, length);
    FileHandle planes[3];
    for (int p = 0; p < 3; ++p) {
        path[length - 1] = letters[p];
        ReadFailure failure = kFailCannotOpen;
        planes[p] = open_frame_file(path, &failure);
        if (planes[p] == kNoFile) {
            close_planes(planes, p);
            return fail_with(why, failure == kFailNoSuchFile ? kFailMissingPlane : failure);
        }
    }

    PlanarJob job;
    job.row_bytes = static_cast<std::size_t>(planar_row_bytes(width));
    // The sizes other tags keep may come from a DPX frame; the row buffer holds
    // three plane rows only up to the widest accepted frame.
    if (width > kMaxFrameWidth || height > kMaxFrameHeight) {
        close_planes(planes, 3);
        return fail_with(why, kFailSizeOutOfRange);
    }
    if (begin_frame(job.frame, store, tables, 3 * job.row_bytes) != 0) {
        close_planes(planes, 3);
        return fail_with(why, kFailNoDisplay);
    }
    std::memcpy(job.planes, planes, sizeof planes);
    // Each buffer holds the same rows of the three planes one after the other.
    job.span_capacity = static_cast<std::int32_t>(job.frame.buffer_bytes / 3 / job.row_bytes);
    job.plane_bytes = static_cast<std::size_t>(job.span_capacity) * job.row_bytes;
    run_frame(job.frame, planar_part, &job);

    store.size_recorded = 0;
    close_planes(planes, 3);
    return 0;
}
