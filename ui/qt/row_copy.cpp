#include "ui/qt/row_copy.h"

#include <algorithm>

#include "core/helper_thread.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KARVELIN_ROW_COPY_SSE2 1
#endif

namespace {

constexpr std::uint32_t kOpaque = 0xFF000000u;

/// The target rectangle a copy writes: picture, clip and target intersected.
struct Area {
    int left = 0;
    int top = 0;
    int right = 0;   // one past the last column
    int bottom = 0;  // one past the last row
};

Area copy_area(const FlipCopy& c) {
    Area a;
    a.left = std::max({c.at_x, c.clip_x, 0});
    a.top = std::max({c.at_y, c.clip_y, 0});
    // 64-bit sums: a clip or offset near INT_MAX must not wrap.
    auto end = [](int start, int extent) {
        return static_cast<std::int64_t>(start) + std::max(extent, 0);
    };
    a.right = static_cast<int>(std::min({end(c.at_x, c.width), end(c.clip_x, c.clip_width),
                                         static_cast<std::int64_t>(c.target_width)}));
    a.bottom = static_cast<int>(std::min({end(c.at_y, c.height), end(c.clip_y, c.clip_height),
                                          static_cast<std::int64_t>(c.target_height)}));
    return a;
}

void copy_row(std::uint32_t* dst, const std::uint32_t* src, int count, bool stream) {
    int i = 0;
#ifdef KARVELIN_ROW_COPY_SSE2
    if (stream) {
        // Streaming stores need 16-byte aligned targets: plain stores up to there.
        while (i < count && (reinterpret_cast<std::uintptr_t>(dst + i) & 15) != 0) {
            dst[i] = src[i] | kOpaque;
            ++i;
        }
        const __m128i opaque = _mm_set1_epi32(static_cast<int>(kOpaque));
        // Whole 64-byte lines, so the write-combining buffers flush full lines.
        for (; i + 16 <= count; i += 16) {
            const __m128i* s = reinterpret_cast<const __m128i*>(src + i);
            __m128i* d = reinterpret_cast<__m128i*>(dst + i);
            const __m128i a = _mm_or_si128(_mm_loadu_si128(s), opaque);
            const __m128i b = _mm_or_si128(_mm_loadu_si128(s + 1), opaque);
            const __m128i c = _mm_or_si128(_mm_loadu_si128(s + 2), opaque);
            const __m128i e = _mm_or_si128(_mm_loadu_si128(s + 3), opaque);
            _mm_stream_si128(d, a);
            _mm_stream_si128(d + 1, b);
            _mm_stream_si128(d + 2, c);
            _mm_stream_si128(d + 3, e);
        }
    }
#else
    (void)stream;
#endif
    for (; i < count; ++i) dst[i] = src[i] | kOpaque;
}

/// Copies target rows [first, end) of the area.
void copy_rows(const FlipCopy& c, const Area& a, int first, int end, bool stream) {
    const int x0 = a.left - c.at_x;
    const int count = a.right - a.left;
    for (int ty = first; ty < end; ++ty) {
        const int row = ty - c.at_y;  // 0 = top line of the picture
        const std::uint32_t* src = reinterpret_cast<const std::uint32_t*>(
                                       c.pixels + static_cast<std::size_t>(c.height - 1 - row) *
                                                      static_cast<std::size_t>(c.width) * 4) +
                                   x0;
        std::uint32_t* dst = reinterpret_cast<std::uint32_t*>(
                                 c.target + static_cast<std::ptrdiff_t>(ty) * c.target_stride) +
                             a.left;
        copy_row(dst, src, count, stream);
    }
#ifdef KARVELIN_ROW_COPY_SSE2
    // Streamed bytes must be visible before anyone else reads the image.
    if (stream) _mm_sfence();
#endif
}

// The two halves of one copy, for the two threads that share it.
struct SharedCopy {
    const FlipCopy* copy;
    Area area;
    int middle;  // first target row of the second half
    bool stream;
};

void copy_half(void* context, int part) {
    const SharedCopy& s = *static_cast<const SharedCopy*>(context);
    if (part == 0)
        copy_rows(*s.copy, s.area, s.area.top, s.middle, s.stream);
    else
        copy_rows(*s.copy, s.area, s.middle, s.area.bottom, s.stream);
}

}  // namespace

int copy_rows_flipped(const FlipCopy& copy, std::int64_t stream_from_pixels,
                      std::int64_t share_from_pixels) {
    if (copy.pixels == nullptr || copy.target == nullptr || copy.width <= 0 || copy.height <= 0)
        return 0;
    const Area a = copy_area(copy);
    if (a.right <= a.left || a.bottom <= a.top) return 0;
    const std::int64_t pixels =
        static_cast<std::int64_t>(a.right - a.left) * static_cast<std::int64_t>(a.bottom - a.top);
    const bool stream = pixels >= stream_from_pixels;
    if (pixels >= share_from_pixels && a.bottom - a.top >= 2) {
        // Each thread streams its own half and fences its own stores;
        // run_two_parts returns once both are done.
        SharedCopy shared{&copy, a, a.top + (a.bottom - a.top) / 2, stream};
        run_two_parts(copy_half, &shared);
    } else {
        copy_rows(copy, a, a.top, a.bottom, stream);
    }
    return a.bottom - a.top;
}
