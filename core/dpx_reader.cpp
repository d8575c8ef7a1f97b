// Reads 16-bit RGB DPX frames into the display frame store.
#include <cstring>

#include "core/decimate.h"
#include "core/readers.h"
#include "platform/platform.h"

namespace {

/// The header bytes the reader looks at: magic, data offset, width and height.
constexpr std::size_t kDpxHeaderBytes = 780;
constexpr std::size_t kBytesPerPixel = 6;

std::uint32_t big_endian_u32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// Display pixels from..cols-1 of one source row: the top byte of each sample,
// red at 6c, green at 6c + 2, blue at 6c + 4 for source column c = pixel << shift.
void dpx_row_scalar(const std::uint8_t* src, std::uint8_t* dst, std::int32_t from,
                    std::int32_t cols, std::int32_t shift) {
    const std::size_t step = kBytesPerPixel << shift;
    src += static_cast<std::size_t>(from) * step;
    dst += static_cast<std::size_t>(from) * 4;
    for (std::int32_t c = from; c < cols; ++c, src += step, dst += 4) {
        dst[0] = src[4];
        dst[1] = src[2];
        dst[2] = src[0];
    }
}

#if KARVELIN_X86_KERNELS
// Byte 3 of every display pixel keeps whatever it holds: the new blue, green and
// red are merged under it rather than stored over it.
KARVELIN_SSSE3 inline void store_keeping_byte3(std::uint8_t* dst, __m128i bgr) {
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(_mm_and_si128(old, keep), bgr));
}

// Full size: 8 pixels (48 source bytes) per step. Returns the pixels done.
KARVELIN_SSSE3 std::int32_t dpx_row_full_ssse3(const std::uint8_t* src, std::uint8_t* dst,
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
KARVELIN_SSSE3 std::int32_t dpx_row_half_ssse3(const std::uint8_t* src, std::uint8_t* dst,
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

void dpx_row(const std::uint8_t* src, std::uint8_t* dst, std::int32_t cols, std::int32_t shift,
             std::size_t row_bytes, bool simd) {
    std::int32_t done = 0;
#if KARVELIN_X86_KERNELS
    if (simd && shift == 0) done = dpx_row_full_ssse3(src, dst, cols);
    if (simd && shift == 1) done = dpx_row_half_ssse3(src, dst, cols, row_bytes);
#else
    (void)row_bytes;
    (void)simd;
#endif
    dpx_row_scalar(src, dst, done, cols, shift);
}

// One frame read, shared by the threads that work on it.
struct DpxJob {
    FramePlan plan;
    FileHandle file;
    std::uint32_t data_offset;
    std::size_t row_bytes;
    std::int32_t span_capacity;
    bool simd;
    /// Set when the pixels are converted.
    const ConversionTables* tables;
    std::uint8_t* buffers[2];
    std::atomic<std::int32_t> next{0};
};

void dpx_part(void* context, int part) {
    DpxJob& job = *static_cast<DpxJob*>(context);
    const std::size_t row_bytes = job.row_bytes;
    walk_rows(
        job.plan, job.span_capacity, job.plan.shift == 0, job.next, job.buffers[part],
        [&](std::uint8_t* buffer, std::int32_t top, std::int32_t count) {
            const std::size_t wanted = static_cast<std::size_t>(count) * row_bytes;
            std::int64_t held = file_read_at(
                job.file, buffer, wanted,
                static_cast<std::int64_t>(job.data_offset) +
                    static_cast<std::int64_t>(top) * static_cast<std::int64_t>(row_bytes));
            // A pixel the file holds only part of is black as well.
            if (held > 0) held -= held % static_cast<std::int64_t>(kBytesPerPixel);
            blank_missing(buffer, held, wanted);
        },
        [&](std::uint8_t* buffer, std::int32_t row_in_span, std::int32_t display) {
            std::uint8_t* dst = display_row(job.plan, display);
            dpx_row(buffer + static_cast<std::size_t>(row_in_span) * row_bytes, dst,
                    job.plan.cols_out, job.plan.shift, row_bytes, job.simd);
            if (job.tables) convert_row_bgrx(*job.tables, dst, job.plan.cols_out);
        });
}

}  // namespace

int read_dpx_frame(const char* path, FrameStore& store, const ConversionTables& tables) {
    const FileHandle file = file_open_read(path);
    if (file == kNoFile) return -1;

    // Magic, data offset, width and height in one read. A file too short to hold
    // them is not a frame this reader can size, so it is refused like a bad magic.
    std::uint8_t header[kDpxHeaderBytes];
    if (file_read_at(file, header, sizeof header, 0) != static_cast<std::int64_t>(sizeof header) ||
        std::memcmp(header, "SDPX", 4) != 0) {
        file_close(file);
        return -1;
    }
    const std::uint32_t data_offset = big_endian_u32(header + 4);
    const auto width = static_cast<std::int32_t>(big_endian_u32(header + 772));
    const auto height = static_cast<std::int32_t>(big_endian_u32(header + 776));
    const std::int64_t length = file_size(file);

    // Everything that makes a file unreadable is refused before the size is
    // recorded, so a refused file never changes the store. Sizes compare as
    // signed numbers: a width with the top bit set reads as negative.
    if (width <= 0 || height <= 0 || width > kMaxFrameWidth || height > kMaxFrameHeight ||
        data_offset >= 0x80000000u || length < 0 || data_offset > length) {
        file_close(file);
        return -1;
    }

    if (width != store.source_width || height != store.source_height) {
        store.source_width = width;
        store.source_height = height;
        store.size_recorded = 1;
        file_close(file);
        return 0;
    }

    DpxJob job;
    if (plan_frame(store, job.plan) != 0 || !store.row_buffer) {
        file_close(file);
        return -1;
    }
    job.file = file;
    job.data_offset = data_offset;
    job.row_bytes = static_cast<std::size_t>(width) * kBytesPerPixel;
    job.simd = cpu_has_ssse3();
    job.tables = store.convert ? &tables : nullptr;
    if (store.read_buffer && share_frame(job.plan, job.row_bytes, store.convert != 0)) {
        // Two threads, each with half of the read buffer.
        job.buffers[0] = store.read_buffer;
        job.buffers[1] = store.read_buffer + kReadBufferBytes / 2;
        job.span_capacity = static_cast<std::int32_t>(kReadBufferBytes / 2 / job.row_bytes);
        run_two_parts(dpx_part, &job);
    } else {
        job.buffers[0] = store.read_buffer ? store.read_buffer : store.row_buffer;
        const std::size_t capacity = store.read_buffer ? kReadBufferBytes : kRowBufferBytes;
        job.span_capacity = static_cast<std::int32_t>(capacity / job.row_bytes);
        dpx_part(&job, 0);
    }

    store.size_recorded = 0;
    file_close(file);
    return 0;
}
