// Reads frames stored as three headerless 12-bit plane files (red, green, blue).
#include <cstring>

#include "core/decimate.h"
#include "core/readers.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t kBytesPerSample = 2;

// Bits 11..4 of a big-endian 12-bit sample whose bytes are h, l.
inline std::uint8_t sample8(const std::uint8_t* s) {
    return static_cast<std::uint8_t>(((s[0] << 4) & 0xFF) | (s[1] >> 4));
}

void planar_row_scalar(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                       std::uint8_t* dst, std::int32_t from, std::int32_t cols,
                       std::int32_t shift) {
    const std::size_t step = kBytesPerSample << shift;
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

KARVELIN_SSSE3 inline void store_keeping_byte3(std::uint8_t* dst, __m128i bgr) {
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(_mm_and_si128(old, keep), bgr));
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
    FramePlan plan;
    FileHandle planes[3];
    std::size_t row_bytes;
    std::int32_t span_capacity;
    /// Bytes from one plane's rows to the next in a buffer.
    std::size_t plane_bytes;
    bool simd;
    /// Set when the pixels are converted.
    const ConversionTables* tables;
    std::uint8_t* buffers[2];
    std::atomic<std::int32_t> next{0};
};

void planar_part(void* context, int part) {
    PlanarJob& job = *static_cast<PlanarJob*>(context);
    const std::size_t row_bytes = job.row_bytes;
    const std::size_t plane_bytes = job.plane_bytes;
    walk_rows(
        job.plan, job.span_capacity, job.plan.shift == 0, job.next, job.buffers[part],
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
            if (held > 0) held -= held % static_cast<std::int64_t>(kBytesPerSample);
            for (int p = 0; p < 3; ++p) blank_missing(buffer + p * plane_bytes, held, wanted);
        },
        [&](std::uint8_t* buffer, std::int32_t row_in_span, std::int32_t display) {
            const std::uint8_t* src = buffer + static_cast<std::size_t>(row_in_span) * row_bytes;
            std::uint8_t* dst = display_row(job.plan, display);
            planar_row(src, src + plane_bytes, src + 2 * plane_bytes, dst, job.plan.cols_out,
                       job.plan.shift, row_bytes, job.simd);
            if (job.tables) convert_row_bgrx(*job.tables, dst, job.plan.cols_out);
        });
}

}  // namespace

int read_planar_frame(char* path, FrameStore& store, const ConversionTables& tables) {
    // The size tag sits in the last four characters ("4K.r"); a shorter path has
    // none and is refused without looking before its start.
    const std::size_t length = std::strlen(path);
    if (length < 4 || path[length - 3] != 'K') return -1;

    const char tag = path[length - 4];
    std::int32_t width = store.source_width;
    std::int32_t height = store.source_height;
    if (tag == '4') {
        width = 3840;
        height = 2160;
    } else if (tag == '8') {
        width = 7680;
        height = 4320;
    }
    if (width != store.source_width || height != store.source_height) {
        store.source_width = width;
        store.source_height = height;
        store.size_recorded = 1;
        return 0;
    }

    // Planes follow the case of the chosen file's letter: on a case-sensitive
    // file system "clip.4K.R" has siblings ".G" and ".B", not ".g" and ".b".
    const char last = path[length - 1];
    const char* letters = (last >= 'A' && last <= 'Z') ? "RGB" : "rgb";
    FileHandle planes[3];
    for (int p = 0; p < 3; ++p) {
        path[length - 1] = letters[p];
        planes[p] = file_open_read(path);
        if (planes[p] == kNoFile) {
            close_planes(planes, p);
            return -1;
        }
    }

    PlanarJob job;
    // The sizes other tags keep may come from a DPX frame; the row buffer holds
    // three plane rows only up to the widest accepted frame.
    if (plan_frame(store, job.plan) != 0 || !store.row_buffer || width > kMaxFrameWidth ||
        height > kMaxFrameHeight) {
        close_planes(planes, 3);
        return -1;
    }
    std::memcpy(job.planes, planes, sizeof planes);
    job.row_bytes = static_cast<std::size_t>(width) * kBytesPerSample;
    job.simd = cpu_has_ssse3();
    job.tables = store.convert ? &tables : nullptr;
    std::size_t capacity = kRowBufferBytes;
    int parts = 1;
    job.buffers[0] = store.row_buffer;
    if (store.read_buffer) {
        parts = share_frame(job.plan, 3 * job.row_bytes, store.convert != 0) ? 2 : 1;
        capacity = kReadBufferBytes / parts;
        job.buffers[0] = store.read_buffer;
        job.buffers[1] = store.read_buffer + capacity;
    }
    // Each buffer holds the same rows of the three planes one after the other.
    job.span_capacity = static_cast<std::int32_t>(capacity / 3 / job.row_bytes);
    job.plane_bytes = static_cast<std::size_t>(job.span_capacity) * job.row_bytes;
    if (parts == 2)
        run_two_parts(planar_part, &job);
    else
        planar_part(&job, 0);

    store.size_recorded = 0;
    close_planes(planes, 3);
    return 0;
}
