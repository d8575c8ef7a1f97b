#include "scopes/scopes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

// Eight pixels at a time where the processor has AVX2; not on Windows, whose
// compilers cannot align the stack for spilled 32-byte registers.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#include <immintrin.h>
#define KARVELIN_SCOPES_AVX2 1
#else
#define KARVELIN_SCOPES_AVX2 0
#endif

ScopeWeights scope_weights(ScopeMatrix matrix) {
    // Kr and Kb of the matrix; Kg takes the rest of 65536 so that grey keeps its
    // code. The colour differences reach +-112 codes, as 8-bit video chroma does:
    // Cb = (B' - Y') / (2 (1 - Kb)) scaled by 224 / 219.
    const double kr = matrix == kScopeBt2020 ? 0.2627 : 0.2126;
    const double kb = matrix == kScopeBt2020 ? 0.0593 : 0.0722;
    ScopeWeights w;
    w.wr = static_cast<std::int32_t>(std::lround(kr * 65536));
    w.wb = static_cast<std::int32_t>(std::lround(kb * 65536));
    w.wg = 65536 - w.wr - w.wb;
    w.kr = static_cast<float>(kr);
    w.kb = static_cast<float>(kb);
    w.kg = static_cast<float>(1 - kr - kb);
    w.cb_scale = static_cast<float>(112.0 / (219.0 * (1 - kb)));
    w.cr_scale = static_cast<float>(112.0 / (219.0 * (1 - kr)));
    return w;
}

namespace {

// A grid position from 128.5 plus or minus a colour difference, kept inside.
inline std::uint32_t grid(float v) {
    return static_cast<std::uint32_t>(std::min(std::max(v, 0.0f), 255.0f));
}

// The vectorscope cell's index (y * 256 + x) of a pixel, as vector_cell says.
inline std::uint32_t cell_index(const ScopeWeights& w, int r, int g, int b) {
    const float y =
        w.kr * static_cast<float>(r) + w.kg * static_cast<float>(g) + w.kb * static_cast<float>(b);
    const float cb = (static_cast<float>(b) - y) * w.cb_scale;
    const float cr = (static_cast<float>(r) - y) * w.cr_scale;
    return grid(128.5f - cr) * 256 + grid(128.5f + cb);
}

// Where each of `count` pixels of a row goes: its waveform cell (luma times
// the columns, plus its waveform column) and its vectorscope cell. The luma's
// weighted sum is a whole number below 2^24, so single precision holds it
// exactly and its rounding is the integer one.
#if KARVELIN_SCOPES_AVX2
// Returns the pixels placed, a multiple of eight.
__attribute__((target("avx2"))) int place_row_avx2(const ScopeWeights& w, const std::uint8_t* px,
                                                   int count, const std::uint32_t* wave_column,
                                                   std::uint32_t* wave_cell,
                                                   std::uint32_t* vector_at) {
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256 wr = _mm256_set1_ps(static_cast<float>(w.wr));
    const __m256 wg = _mm256_set1_ps(static_cast<float>(w.wg));
    const __m256 wb = _mm256_set1_ps(static_cast<float>(w.wb));
    const __m256 kr = _mm256_set1_ps(w.kr), kg = _mm256_set1_ps(w.kg), kb = _mm256_set1_ps(w.kb);
    const __m256 cbs = _mm256_set1_ps(w.cb_scale), crs = _mm256_set1_ps(w.cr_scale);
    const __m256 half = _mm256_set1_ps(32768.0f), unit = _mm256_set1_ps(1.0f / 65536);
    const __m256 centre = _mm256_set1_ps(128.5f), zero = _mm256_setzero_ps();
    const __m256 top = _mm256_set1_ps(255.0f);
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px + 4 * x));
        const __m256 b = _mm256_cvtepi32_ps(_mm256_and_si256(p, byte));
        const __m256 g = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 8), byte));
        const __m256 r = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 16), byte));
        // No fused multiply-adds: each product rounds on its own, as in the loop below.
        const __m256 weighted = _mm256_add_ps(
            _mm256_add_ps(_mm256_mul_ps(wr, r), _mm256_mul_ps(wg, g)), _mm256_mul_ps(wb, b));
        const __m256i luma =
            _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_add_ps(weighted, half), unit));
        const __m256i cell = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_slli_epi32(luma, 8), _mm256_slli_epi32(luma, 7)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wave_column + x)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(wave_cell + x), cell);
        const __m256 y = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(kr, r), _mm256_mul_ps(kg, g)),
                                       _mm256_mul_ps(kb, b));
        const __m256 cb = _mm256_mul_ps(_mm256_sub_ps(b, y), cbs);
        const __m256 cr = _mm256_mul_ps(_mm256_sub_ps(r, y), crs);
        const __m256i cx =
            _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(_mm256_add_ps(centre, cb), zero), top));
        const __m256i cy =
            _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(centre, cr), zero), top));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(vector_at + x),
                            _mm256_add_epi32(_mm256_slli_epi32(cy, 8), cx));
    }
    return x;
}
#endif

void place_row(const ScopeWeights& w, const std::uint8_t* px, int count,
               const std::uint32_t* wave_column, std::uint32_t* wave_cell,
               std::uint32_t* vector_at) {
    int x = 0;
#if KARVELIN_SCOPES_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) x = place_row_avx2(w, px, count, wave_column, wave_cell, vector_at);
#endif
    for (; x < count; ++x) {
        const int b = px[4 * x], g = px[4 * x + 1], r = px[4 * x + 2];
        const float weighted = static_cast<float>(w.wr) * static_cast<float>(r) +
                               static_cast<float>(w.wg) * static_cast<float>(g) +
                               static_cast<float>(w.wb) * static_cast<float>(b);
        const auto luma = static_cast<std::uint32_t>((weighted + 32768.0f) * (1.0f / 65536));
        wave_cell[x] = luma * kWaveformColumns + wave_column[x];
        vector_at[x] = cell_index(w, r, g, b);
    }
}

}  // namespace

VectorCell vector_cell(const ScopeWeights& w, int red, int green, int blue) {
    const std::uint32_t i = cell_index(w, red, green, blue);
    return {static_cast<int>(i & 255), static_cast<int>(i >> 8)};
}

void count_scopes(const std::uint8_t* pixels, int width, int height, std::size_t stride,
                  ScopeMatrix matrix, ScopeCounts& counts) {
    std::memset(&counts, 0, sizeof counts);
    counts.matrix = matrix;
    if (!pixels || width <= 0 || height <= 0 || stride < static_cast<std::size_t>(width) * 4 ||
        static_cast<std::int64_t>(width) * height > kScopePixelsMost)
        return;
    counts.pixels = static_cast<std::int64_t>(width) * height;
    const ScopeWeights w = scope_weights(matrix);
    // Each picture column's waveform and parade columns, as offsets of their counts.
    std::vector<std::uint32_t> wave_at(static_cast<std::size_t>(width));
    std::vector<std::uint32_t> parade_at(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        wave_at[x] = static_cast<std::uint32_t>(std::int64_t{x} * kWaveformColumns / width);
        parade_at[x] = static_cast<std::uint32_t>(std::int64_t{x} * kParadeColumns / width);
    }
    // A row in two passes: first where each pixel goes (eight pixels at a time
    // with AVX2), then the counting alone, which is bound by its loads and stores.
    std::vector<std::uint32_t> wave_cell(static_cast<std::size_t>(width));
    std::vector<std::uint32_t> vector_at(static_cast<std::size_t>(width));
    std::uint32_t* waveform = &counts.waveform[0][0];
    std::uint32_t* parade = &counts.parade[0][0][0];
    std::uint32_t* vector = &counts.vector[0][0];
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* px = pixels + static_cast<std::size_t>(row) * stride;
        place_row(w, px, width, wave_at.data(), wave_cell.data(), vector_at.data());
        for (int x = 0; x < width; ++x) {
            ++waveform[wave_cell[x]];
            ++vector[vector_at[x]];
            std::uint32_t* p = parade + parade_at[x];
            constexpr std::size_t kColour = 256 * kParadeColumns;
            ++p[px[4 * x + 2] * kParadeColumns];
            ++p[kColour + px[4 * x + 1] * kParadeColumns];
            ++p[2 * kColour + px[4 * x] * kParadeColumns];
        }
    }
}

void scope_histogram(const ScopeCounts& counts, int channel, std::uint32_t out[256]) {
    std::fill(out, out + 256, 0u);
    for (int v = 0; v < 256; ++v) {
        const std::uint32_t* row = channel == 3 ? counts.waveform[v] : counts.parade[channel][v];
        const int columns = channel == 3 ? kWaveformColumns : kParadeColumns;
        out[v] = std::accumulate(row, row + columns, 0u);
    }
}

namespace {

struct Rgb {
    int r, g, b;
};

const Rgb kBackground{18, 18, 18};
const Rgb kGraticule{70, 70, 70};
const Rgb kTarget{200, 170, 60};
const Rgb kChannel[4] = {{230, 70, 70}, {70, 210, 70}, {90, 120, 250}, {225, 225, 225}};

std::uint32_t packed(Rgb c) {
    return 0xFF000000u | static_cast<std::uint32_t>(c.r) << 16 |
           static_cast<std::uint32_t>(c.g) << 8 | static_cast<std::uint32_t>(c.b);
}

inline void store(std::uint8_t* p, std::uint32_t pixel) {
    std::memcpy(p, &pixel, 4);
}

struct Canvas {
    std::uint8_t* px;
    std::uint8_t* at(int x, int y) const {
        return px + (static_cast<std::size_t>(y) * kScopesWidth + x) * 4;
    }
    void put(int x, int y, Rgb c) const {
        if (x >= 0 && y >= 0 && x < kScopesWidth && y < kScopesHeight) store(at(x, y), packed(c));
    }
    void fill(int x0, int y0, int w, int h, Rgb c) const {
        const int x1 = std::min(x0 + w, kScopesWidth), y1 = std::min(y0 + h, kScopesHeight);
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        const std::uint32_t pixel = packed(c);
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* p = at(x0, y);
            for (int x = x0; x < x1; ++x, p += 4) store(p, pixel);
        }
    }
};

// The shades of one colour for the cells of a panel whose fullest cell holds
// `most`: logarithmic, so that a few pixels still show beside a flat area of
// thousands; an empty cell is background. Every cell is stored, without a
// branch: a picture's cells are empty or not at random.
struct Shades {
    std::uint32_t pixel[1024];
    float scale;  // a count in 1/1023 of `most`
    Shades(Rgb c, std::uint32_t most) : scale(most ? 1023.0f / static_cast<float>(most) : 0.0f) {
        static const struct Levels {
            int level[1024];
            Levels() {
                for (int i = 0; i < 1024; ++i)
                    level[i] = static_cast<int>(
                        std::lround(60 + 195 * std::log1p(63.0 * i / 1023) / std::log(64.0)));
            }
        } levels;
        pixel[0] = packed(kBackground);
        for (int i = 1; i < 1024; ++i) {
            const int l = levels.level[i];
            pixel[i] = packed({c.r * l / 255, c.g * l / 255, c.b * l / 255});
        }
    }
    void draw(std::uint8_t* p, std::uint32_t count) const {
        int i = static_cast<int>(static_cast<float>(count) * scale);
        i = i > 1023 ? 1023 : i < 1 ? (count != 0) : i;
        store(p, pixel[i]);
    }
};

template <class Cells>
std::uint32_t most_of(const Cells& cells) {
    std::uint32_t most = 0;
    for (const auto& row : cells)
        for (const auto v : row) most = std::max<std::uint32_t>(most, v);
    return most;
}

// A level's row in a panel 256 high whose top is at `top`: code 255 at the top.
int level_row(int top, int code) {
    return top + 255 - code;
}

// The digits of the vectorscope's matrix, 3 x 5 pixels each, drawn twice as large.
void draw_label(const Canvas& canvas, int x, int y, const char* digits) {
    static const std::uint16_t kGlyphs[10] = {0x7B6F, 0x2C97, 0x73E7, 0x72CF, 0x5BC9,
                                              0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF};
    for (; *digits; ++digits, x += 8) {
        const std::uint16_t glyph = kGlyphs[*digits - '0'];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (glyph >> (14 - 3 * row - col) & 1)
                    canvas.fill(x + 2 * col, y + 2 * row, 2, 2, kGraticule);
    }
}

void draw_histogram(const Canvas& canvas, const ScopeCounts& counts) {
    // Four strips of 64 rows, 2 columns a code: red, green, blue, luma.
    for (int channel = 0; channel < 4; ++channel) {
        std::uint32_t h[256];
        scope_histogram(counts, channel, h);
        const std::uint32_t most = *std::max_element(h, h + 256);
        const int bottom = 64 * channel + 62;
        for (int v : {16, 235}) canvas.fill(2 * v, 64 * channel + 2, 1, 61, kGraticule);
        for (int v = 0; v < 256; ++v) {
            const int bar = most ? static_cast<int>(std::uint64_t{h[v]} * 60 / most) : 0;
            canvas.fill(2 * v, bottom - bar + 1, 2, bar, kChannel[channel]);
        }
    }
}

void draw_vectorscope(const Canvas& canvas, const ScopeCounts& counts) {
    const int left = 512;
    const Shades shades(kChannel[3], most_of(counts.vector));
    for (int y = 0; y < 256; ++y) {
        std::uint8_t* row = canvas.at(left, y);
        for (int x = 0; x < 256; ++x) shades.draw(row + 4 * x, counts.vector[y][x]);
    }
    // The axes where no pixel falls.
    for (int i = 0; i < 256; ++i) {
        if (counts.vector[128][i] == 0) canvas.put(left + i, 128, kGraticule);
        if (counts.vector[i][128] == 0) canvas.put(left + 128, i, kGraticule);
    }
    // Where 75% bars fall: each primary and secondary at 75% of white's 219 codes.
    const ScopeWeights w = scope_weights(counts.matrix);
    const int on = 16 + 164, off = 16;
    const Rgb bars[6] = {{on, off, off}, {off, on, off}, {off, off, on},
                         {off, on, on},  {on, off, on},  {on, on, off}};
    for (const Rgb& bar : bars) {
        const VectorCell c = vector_cell(w, bar.r, bar.g, bar.b);
        for (int i = -4; i <= 4; ++i) {
            canvas.put(left + c.x + i, c.y - 4, kTarget);
            canvas.put(left + c.x + i, c.y + 4, kTarget);
            canvas.put(left + c.x - 4, c.y + i, kTarget);
            canvas.put(left + c.x + 4, c.y + i, kTarget);
        }
    }
    draw_label(canvas, left + 4, 4, counts.matrix == kScopeBt2020 ? "2020" : "709");
}

void draw_waveforms(const Canvas& canvas, const ScopeCounts& counts) {
    const int top = 256;
    auto row_of = [&](int code) {
        return canvas.px + static_cast<std::size_t>(level_row(top, code)) * kScopesWidth * 4;
    };
    const Shades luma(kChannel[3], most_of(counts.waveform));
    for (int v = 0; v < 256; ++v) {
        std::uint8_t* row = row_of(v);
        for (int x = 0; x < kWaveformColumns; ++x) luma.draw(row + 4 * x, counts.waveform[v][x]);
    }
    for (int channel = 0; channel < 3; ++channel) {
        const Shades shades(kChannel[channel], most_of(counts.parade[channel]));
        const int left = kWaveformColumns + channel * kParadeColumns;
        for (int v = 0; v < 256; ++v) {
            std::uint8_t* row = row_of(v) + 4 * left;
            for (int x = 0; x < kParadeColumns; ++x)
                shades.draw(row + 4 * x, counts.parade[channel][v][x]);
        }
    }
    // Black and white where no pixel falls.
    for (int v : {16, 235}) {
        for (int x = 0; x < kWaveformColumns; ++x)
            if (counts.waveform[v][x] == 0) canvas.put(x, level_row(top, v), kGraticule);
        for (int channel = 0; channel < 3; ++channel)
            for (int x = 0; x < kParadeColumns; ++x)
                if (counts.parade[channel][v][x] == 0)
                    canvas.put(kWaveformColumns + channel * kParadeColumns + x, level_row(top, v),
                               kGraticule);
    }
    // Borders between the panels.
    canvas.fill(0, top, kScopesWidth, 1, kGraticule);
    canvas.fill(512, 0, 1, 256, kGraticule);
    for (int k = 0; k < 3; ++k)
        canvas.fill(kWaveformColumns + k * kParadeColumns, top, 1, 256, kGraticule);
}

}  // namespace

void draw_scopes(const ScopeCounts& counts, std::uint8_t* out) {
    const Canvas canvas{out};
    // The other panels store every cell themselves.
    canvas.fill(0, 0, 512, 256, kBackground);
    draw_histogram(canvas, counts);
    draw_vectorscope(canvas, counts);
    draw_waveforms(canvas, counts);
}
