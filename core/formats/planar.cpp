// The planar RGB format: three headerless 12-bit plane files (red, green, blue).
#include "core/formats/planar.h"

#include <cstring>

#include "core/formats/row_sharing.h"
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
            if (job.frame.mark_range) {
                mark_range_row(job.frame, display, 12, [&](std::int32_t c) {
                    const std::size_t at = (static_cast<std::size_t>(c) << plan.shift) *
                                           static_cast<std::size_t>(kPlanarSampleBytes);
                    // Red is byte 2 of the display pixel, blue byte 0.
                    for (int p = 0; p < 3; ++p)
                        if (dst[4 * static_cast<std::size_t>(c) + 2 - p] == 235 &&
                            planar_sample(src + p * plane_bytes + at) > narrow_white(12))
                            return true;
                    return false;
                });
            }
            finish_row(job.frame, pending, display);
        });
    finish_rows(job.frame, pending);
}

int planar_read_info(const char* path, std::int32_t width, std::int32_t height, FrameFiles&,
                     FrameInfo& info, ReadFailure* why) {
    // The planes carry no header: the size comes from the name, and no file is
    // opened until the pixels are wanted.
    const std::size_t length = strnlen(path, kPathMax);
    if (length >= static_cast<std::size_t>(kPathMax) ||
        planar_frame_size(path, length, width, height, &info.width, &info.height) != 0)
        return fail_with(why, kFailPlanarName);
    info.bits = 12;
    info.components = 3;
    info.red = 0;
    info.green = 1;
    info.blue = 2;
    info.layout = 0;
    info.data_offset = 0;
    info.row_bytes = info.row_stride = planar_row_bytes(info.width);
    return 0;
}

int planar_open_data(char* path, FrameFiles& files, FrameInfo& info, ReadFailure* why) {
    const std::size_t length = std::strlen(path);
    const char* letters = planar_plane_letters(path, length);
    for (int p = files.count; p < 3; ++p) {
        path[length - 1] = letters[p];
        ReadFailure failure = kFailCannotOpen;
        const FileHandle plane = open_frame_file(path, &failure);
        if (plane == kNoFile || !files.add(plane))
            return fail_with(why, failure == kFailNoSuchFile ? kFailMissingPlane : failure);
        info.file_bytes[p] = file_size(plane);
    }
    // The sizes other tags keep may come from a DPX frame; the row buffer holds
    // three plane rows only up to the widest accepted frame.
    if (info.width <= 0 || info.height <= 0 || info.width > kMaxFrameWidth ||
        info.height > kMaxFrameHeight)
        return fail_with(why, kFailSizeOutOfRange);
    return 0;
}

int planar_decode(const FrameFiles& files, const FrameInfo& info, const DecodeSettings& settings,
                  const PixelTarget& target, DecodeScratch& scratch) {
    PlanarJob job;
    job.row_bytes = static_cast<std::size_t>(planar_row_bytes(info.width));
    if (files.count < 3 || begin_frame(job.frame, info.width, info.height, settings, target,
                                       scratch, 3 * job.row_bytes) != 0)
        return -1;
    std::memcpy(job.planes, files.file, sizeof job.planes);
    // Each buffer holds the same rows of the three planes one after the other.
    job.span_capacity = static_cast<std::int32_t>(job.frame.buffer_bytes / 3 / job.row_bytes);
    job.plane_bytes = static_cast<std::size_t>(job.span_capacity) * job.row_bytes;
    run_frame(job.frame, planar_part, &job);
    return 0;
}

int planar_read_pixel(const FrameFiles& files, const FrameInfo& info, std::int32_t x,
                      std::int32_t y, SourceValues* out) {
    if (files.count < 3 || x < 0 || y < 0 || x >= info.width || y >= info.height) return -1;
    const std::int64_t at = y * planar_row_bytes(info.width) + x * kPlanarSampleBytes;
    std::uint32_t values[3];
    for (int p = 0; p < 3; ++p) {
        std::uint8_t sample[kPlanarSampleBytes];
        if (file_read_at(files.file[p], sample, sizeof sample, at) !=
            static_cast<std::int64_t>(sizeof sample))
            return -1;
        values[p] = planar_sample(sample);
    }
    out->red = values[0];
    out->green = values[1];
    out->blue = values[2];
    out->bits = 12;
    return 0;
}

int planar_read_samples(const FrameFiles& files, const FrameInfo& info, std::int32_t top,
                        std::int32_t count, std::int32_t shift, std::uint16_t* out,
                        std::size_t out_stride, DecodeScratch& scratch) {
    const auto row_bytes = static_cast<std::size_t>(planar_row_bytes(info.width));
    if (files.count < 3 || !scratch.row || 3 * row_bytes > kRowBufferBytes) return -1;
    const std::int32_t pixels = ((info.width - 1) >> shift) + 1;
    const std::size_t step = static_cast<std::size_t>(kPlanarSampleBytes) << shift;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int64_t y = top + (static_cast<std::int64_t>(i) << shift);
        std::uint16_t* row = out + static_cast<std::size_t>(i) * out_stride;
        for (int p = 0; p < 3; ++p) {
            std::uint8_t* plane = scratch.row + p * row_bytes;
            const std::int64_t got = file_read_at(files.file[p], plane, row_bytes,
                                                  y * static_cast<std::int64_t>(row_bytes));
            // Samples a short plane does not hold are 0.
            const std::size_t held = got > 0 ? static_cast<std::size_t>(got) : 0;
            for (std::int32_t c = 0; c < pixels; ++c) {
                const std::size_t at = static_cast<std::size_t>(c) * step;
                row[3 * c + p] = at + kPlanarSampleBytes <= held
                                     ? static_cast<std::uint16_t>(planar_sample(plane + at))
                                     : 0;
            }
        }
    }
    return 0;
}

int planar_read_ahead_files(const char* path, const ReadAheadShape& shape, ReadAheadFile* out) {
    // The three plane files, found as the decoder finds them.
    const std::size_t length = strnlen(path, kPathMax);
    if (length == 0 || length >= static_cast<std::size_t>(kPathMax)) return -1;
    const char* letters = planar_plane_letters(path, length);
    for (int p = 0; p < 3; ++p) {
        std::memcpy(out[p].path, path, length + 1);
        out[p].path[length - 1] = letters[p];
        out[p].row_bytes = planar_row_bytes(shape.width);
        out[p].header = false;
    }
    return 3;
}

}  // namespace

const char* planar_plane_letters(const char* path, std::size_t length) {
    // Planes follow the case of the chosen file's letter: on a case-sensitive
    // file system "clip.4K.R" has siblings ".G" and ".B", not ".g" and ".b".
    const char last = path[length - 1];
    return (last >= 'A' && last <= 'Z') ? "RGB" : "rgb";
}

int planar_frame_size(const char* path, std::size_t length, std::int32_t current_width,
                      std::int32_t current_height, std::int32_t* width, std::int32_t* height) {
    // The size tag sits in the last four characters ("4K.r"); a shorter path has
    // none and is refused without looking before its start.
    if (length < 4 || path[length - 3] != 'K') return -1;
    const char tag = path[length - 4];
    *width = current_width;
    *height = current_height;
    if (tag == '4') {
        *width = 3840;
        *height = 2160;
    } else if (tag == '8') {
        *width = 7680;
        *height = 4320;
    }
    return 0;
}

const FrameFormat kPlanarFormat = {
    "planar RGB",      planar_read_info,    planar_open_data,        planar_decode,
    planar_read_pixel, planar_read_samples, planar_read_ahead_files,
};
