#include "scopes/scopes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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
    w.cb_scale = std::llround(112.0 / (219.0 * (1 - kb)) * 65536);
    w.cr_scale = std::llround(112.0 / (219.0 * (1 - kr)) * 65536);
    return w;
}

namespace {

// A difference in 1/65536 codes times a scale in 1/65536, as a whole code
// rounded half up, moved by 128 and kept inside the grid.
inline int grid(std::int64_t difference, std::int64_t scale) {
    const std::int64_t code = (difference * scale + (std::int64_t{1} << 31)) >> 32;
    return static_cast<int>(std::clamp<std::int64_t>(128 + code, 0, 255));
}

}  // namespace

VectorCell vector_cell(const ScopeWeights& w, int red, int green, int blue) {
    const std::int64_t y =
        std::int64_t{w.wr} * red + std::int64_t{w.wg} * green + std::int64_t{w.wb} * blue;
    // Cr up: the row is 128 less Cr.
    return {grid((std::int64_t{blue} << 16) - y, w.cb_scale),
            grid(y - (std::int64_t{red} << 16), w.cr_scale)};
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
    // Each picture column's waveform column (high half) and parade column.
    std::vector<std::uint32_t> column(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        column[x] = static_cast<std::uint32_t>(std::int64_t{x} * kWaveformColumns / width) << 16 |
                    static_cast<std::uint32_t>(std::int64_t{x} * kParadeColumns / width);
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* px = pixels + static_cast<std::size_t>(row) * stride;
        for (int x = 0; x < width; ++x, px += 4) {
            const int b = px[0], g = px[1], r = px[2];
            const std::int32_t y = w.wr * r + w.wg * g + w.wb * b;
            const std::uint32_t c = column[x];
            ++counts.waveform[c >> 16][(y + 32768) >> 16];
            std::uint16_t(&parade)[3][256] = counts.parade[c & 0xFFFF];
            ++parade[0][r];
            ++parade[1][g];
            ++parade[2][b];
            ++counts.vector[grid(y - (std::int64_t{r} << 16), w.cr_scale)]
                           [grid((std::int64_t{b} << 16) - y, w.cb_scale)];
        }
    }
}

void scope_histogram(const ScopeCounts& counts, int channel, std::uint32_t out[256]) {
    std::fill(out, out + 256, 0u);
    if (channel == 3) {
        for (const auto& column : counts.waveform)
            for (int v = 0; v < 256; ++v) out[v] += column[v];
        return;
    }
    for (const auto& column : counts.parade)
        for (int v = 0; v < 256; ++v) out[v] += column[channel][v];
}

namespace {

struct Rgb {
    int r, g, b;
};

const Rgb kBackground{18, 18, 18};
const Rgb kGraticule{70, 70, 70};
const Rgb kTarget{200, 170, 60};
const Rgb kChannel[4] = {{230, 70, 70}, {70, 210, 70}, {90, 120, 250}, {225, 225, 225}};

struct Canvas {
    std::uint8_t* px;
    void put(int x, int y, Rgb c) const {
        if (x < 0 || y < 0 || x >= kScopesWidth || y >= kScopesHeight) return;
        std::uint8_t* p = px + (static_cast<std::size_t>(y) * kScopesWidth + x) * 4;
        p[0] = static_cast<std::uint8_t>(c.b);
        p[1] = static_cast<std::uint8_t>(c.g);
        p[2] = static_cast<std::uint8_t>(c.r);
        p[3] = 255;
    }
    void fill(int x0, int y0, int w, int h, Rgb c) const {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) put(x, y, c);
    }
};

// Brightness of the cells of a panel whose fullest cell holds `most`:
// logarithmic, so that a few pixels still show beside a flat area of thousands.
struct Brightness {
    std::uint64_t scale;  // count * scale >> 32 is the count in 1/1023 of `most`
    explicit Brightness(std::uint32_t most)
        : scale(most ? (std::uint64_t{1023} << 32) / most : 0) {}
    int operator()(std::uint32_t count) const {
        static const struct Levels {
            std::uint8_t level[1024];
            Levels() {
                for (int i = 0; i < 1024; ++i)
                    level[i] = static_cast<std::uint8_t>(
                        std::lround(60 + 195 * std::log1p(63.0 * i / 1023) / std::log(64.0)));
            }
        } levels;
        if (count == 0) return 0;
        const std::uint64_t i = (count * scale) >> 32;
        return levels.level[i < 1 ? 1 : i > 1023 ? 1023 : i];
    }
};

// One cell of a panel in colour `c` at `level` (0: left as it is).
inline void shade(std::uint8_t* p, Rgb c, int level) {
    if (level == 0) return;
    p[0] = static_cast<std::uint8_t>(c.b * level / 255);
    p[1] = static_cast<std::uint8_t>(c.g * level / 255);
    p[2] = static_cast<std::uint8_t>(c.r * level / 255);
}

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
    const Brightness bright(most_of(counts.vector));
    canvas.fill(left, 128, 256, 1, kGraticule);
    canvas.fill(left + 128, 0, 1, 256, kGraticule);
    for (int y = 0; y < 256; ++y) {
        std::uint8_t* row = canvas.px + (static_cast<std::size_t>(y) * kScopesWidth + left) * 4;
        for (int x = 0; x < 256; ++x) shade(row + 4 * x, kChannel[3], bright(counts.vector[y][x]));
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
    for (int v : {16, 235}) canvas.fill(0, level_row(top, v), kScopesWidth, 1, kGraticule);
    auto row_of = [&](int code) {
        return canvas.px + static_cast<std::size_t>(level_row(top, code)) * kScopesWidth * 4;
    };
    const Brightness bright(most_of(counts.waveform));
    for (int x = 0; x < kWaveformColumns; ++x)
        for (int v = 0; v < 256; ++v)
            shade(row_of(v) + 4 * x, kChannel[3], bright(counts.waveform[x][v]));
    std::uint32_t peak[3] = {};
    for (const auto& column : counts.parade)
        for (int channel = 0; channel < 3; ++channel)
            for (const auto n : column[channel])
                peak[channel] = std::max<std::uint32_t>(peak[channel], n);
    for (int channel = 0; channel < 3; ++channel) {
        const Brightness shown(peak[channel]);
        const int left = kWaveformColumns + channel * kParadeColumns;
        for (int x = 0; x < kParadeColumns; ++x)
            for (int v = 0; v < 256; ++v)
                shade(row_of(v) + 4 * (left + x), kChannel[channel],
                      shown(counts.parade[x][channel][v]));
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
    const std::uint32_t background = 0xFF000000u | static_cast<std::uint32_t>(kBackground.r) << 16 |
                                     static_cast<std::uint32_t>(kBackground.g) << 8 |
                                     static_cast<std::uint32_t>(kBackground.b);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kScopesWidth) * kScopesHeight; ++i)
        std::memcpy(out + 4 * i, &background, 4);
    draw_histogram(canvas, counts);
    draw_vectorscope(canvas, counts);
    draw_waveforms(canvas, counts);
}
