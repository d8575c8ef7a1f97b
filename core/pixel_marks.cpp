#include "core/pixel_marks.h"

#include <cstring>

#include "core/cpu_features.h"
#include "platform/platform.h"

int alloc_marks(PixelMarks& marks, std::int32_t width, std::int32_t height) {
    release_marks(marks);
    if (width <= 0 || height <= 0) return -1;
    const std::size_t words = (static_cast<std::size_t>(width) + 63) / 64;
    const std::size_t bytes = words * static_cast<std::size_t>(height) * sizeof(std::uint64_t);
    marks.gamut_bits = static_cast<std::uint64_t*>(heap_alloc_zeroed(bytes));
    marks.range_bits = static_cast<std::uint64_t*>(heap_alloc_zeroed(bytes));
    if (!marks.gamut_bits || !marks.range_bits) {
        release_marks(marks);
        return -1;
    }
    marks.words_per_row = words;
    marks.rows = height;
    return 0;
}

void release_marks(PixelMarks& marks) {
    heap_free(marks.gamut_bits);
    heap_free(marks.range_bits);
    marks.gamut_bits = nullptr;
    marks.range_bits = nullptr;
    marks.words_per_row = 0;
    marks.rows = 0;
}

bool marks_fit(const PixelMarks& marks, std::int32_t width, std::int32_t height) {
    return marks.gamut_bits && marks.range_bits && width >= 0 && height >= 0 &&
           height <= marks.rows && static_cast<std::size_t>(width) <= marks.words_per_row * 64;
}

namespace {

void paint_pixel(std::uint8_t* px, std::uint32_t colour) {
    px[0] = static_cast<std::uint8_t>(colour);
    px[1] = static_cast<std::uint8_t>(colour >> 8);
    px[2] = static_cast<std::uint8_t>(colour >> 16);
}

// The marks of pixels [64 w, 64 w + 64) of a plane, 0 for none.
inline std::uint64_t word_of(const std::uint64_t* plane, std::int32_t w) {
    return plane ? plane[w] : 0;
}

#if KARVELIN_X86_KERNELS
// Four pixels at a time where a word has marks: each nibble of marks picks
// which of four pixels take the colour, bytes 0..2 only.
KARVELIN_SSSE3 void paint_word_ssse3(std::uint8_t* px, std::uint64_t gamut, std::uint64_t range) {
    alignas(16) static const std::uint32_t kLanes[16][4] = {
#define KARVELIN_LANE(n) \
    {(n)&1 ? 0xFFFFFFu : 0u, (n)&2 ? 0xFFFFFFu : 0u, (n)&4 ? 0xFFFFFFu : 0u, (n)&8 ? 0xFFFFFFu : 0u}
        KARVELIN_LANE(0),  KARVELIN_LANE(1),  KARVELIN_LANE(2),  KARVELIN_LANE(3),
        KARVELIN_LANE(4),  KARVELIN_LANE(5),  KARVELIN_LANE(6),  KARVELIN_LANE(7),
        KARVELIN_LANE(8),  KARVELIN_LANE(9),  KARVELIN_LANE(10), KARVELIN_LANE(11),
        KARVELIN_LANE(12), KARVELIN_LANE(13), KARVELIN_LANE(14), KARVELIN_LANE(15),
#undef KARVELIN_LANE
    };
    const __m128i gamut_colour = _mm_set1_epi32(static_cast<int>(kGamutMarkColour & 0xFFFFFF));
    const __m128i range_colour = _mm_set1_epi32(static_cast<int>(kRangeMarkColour & 0xFFFFFF));
    for (int i = 0; i < 64; i += 4, px += 16) {
        const unsigned g = static_cast<unsigned>(gamut >> i) & 0xF;
        const unsigned r = static_cast<unsigned>(range >> i) & 0xF;
        if ((g | r) == 0) continue;
        const __m128i mg = _mm_load_si128(reinterpret_cast<const __m128i*>(kLanes[g & ~r]));
        const __m128i mr = _mm_load_si128(reinterpret_cast<const __m128i*>(kLanes[r]));
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
        const __m128i kept = _mm_andnot_si128(_mm_or_si128(mg, mr), old);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px),
                         _mm_or_si128(kept, _mm_or_si128(_mm_and_si128(mg, gamut_colour),
                                                         _mm_and_si128(mr, range_colour))));
    }
}
#endif

}  // namespace

void paint_marked_row(std::uint8_t* pixels, std::int32_t count, const std::uint64_t* gamut,
                      const std::uint64_t* range) {
    if ((!gamut && !range) || count <= 0) return;
    const std::int32_t words = (count + 63) / 64;
    for (std::int32_t w = 0; w < words; ++w) {
        const std::uint64_t g = word_of(gamut, w), r = word_of(range, w);
        if ((g | r) == 0) continue;
        std::uint8_t* px = pixels + static_cast<std::size_t>(w) * 256;
#if KARVELIN_X86_KERNELS
        if (cpu_has_ssse3() && 64 * w + 64 <= count) {
            paint_word_ssse3(px, g, r);
            continue;
        }
#endif
        const std::int32_t n = count - 64 * w < 64 ? count - 64 * w : 64;
        for (std::int32_t i = 0; i < n; ++i) {
            if ((r >> i) & 1)
                paint_pixel(px + 4 * i, kRangeMarkColour);
            else if ((g >> i) & 1)
                paint_pixel(px + 4 * i, kGamutMarkColour);
        }
    }
}

void paint_marks(const PixelMarks& marks, bool gamut, bool range, std::uint8_t* pixels,
                 std::int32_t width, std::int32_t height) {
    if (!pixels || !marks_fit(marks, width, height)) return;
    for (std::int32_t row = 0; row < height; ++row) {
        const std::size_t at = static_cast<std::size_t>(row) * marks.words_per_row;
        paint_marked_row(pixels + static_cast<std::size_t>(row) * width * 4, width,
                         gamut ? marks.gamut_bits + at : nullptr,
                         range ? marks.range_bits + at : nullptr);
    }
}

namespace {

// Set bits of a word, in a few shifts and adds: without a processor option the
// compiler's own would call a library loop.
inline int ones(std::uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555u);
    v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((v * 0x0101010101010101u) >> 56);
}

}  // namespace

std::int64_t count_marks(const PixelMarks& marks, const std::uint64_t* plane, std::int32_t width,
                         std::int32_t height) {
    if (!plane || !marks_fit(marks, width, height) || width == 0) return 0;
    const std::size_t whole = static_cast<std::size_t>(width) / 64;
    const std::uint64_t tail =
        width % 64 ? (std::uint64_t{1} << (width % 64)) - 1 : std::uint64_t{0};
    std::int64_t n = 0;
    for (std::int32_t row = 0; row < height; ++row) {
        const std::uint64_t* words = plane + static_cast<std::size_t>(row) * marks.words_per_row;
        for (std::size_t w = 0; w < whole; ++w) n += ones(words[w]);
        if (tail) n += ones(words[whole] & tail);
    }
    return n;
}
