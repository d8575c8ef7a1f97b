// Scopes of the picture on screen: a histogram of red, green, blue and luma, a
// luma waveform and an RGB parade, and a Cb/Cr vectorscope with the targets of
// 75% colour bars. Counted from a BGRX picture of 8-bit video codes and drawn
// into one picture that the front ends only blit; no toolkit, no threads.
#pragma once

#include <cstddef>
#include <cstdint>

/// The drawn scopes: kScopesWidth x kScopesHeight pixels, top row first, rows
/// kScopesWidth * 4 bytes apart, each blue, green, red, 255. Histogram at the
/// top left, vectorscope at the top right, luma waveform at the bottom left,
/// RGB parade at the bottom right.
constexpr int kScopesWidth = 768;
constexpr int kScopesHeight = 512;

/// Columns of the picture the waveform and each colour of the parade tell
/// apart: picture column x falls in column x * columns / width.
constexpr int kWaveformColumns = 384;
constexpr int kParadeColumns = 128;

/// Which luma and colour-difference weights the scopes use: BT.709 for a
/// picture converted to BT.709, BT.2020 for one shown as stored.
enum ScopeMatrix { kScopeBt709, kScopeBt2020 };

/// The weights of a matrix: integer luma weights (sum 65536), luma Y = (wr R +
/// wg G + wb B + 32768) >> 16 on 8-bit codes; and in single precision the luma
/// before rounding Y' = kr R + kg G + kb B and the colour-difference scales, Cb
/// = (B - Y') cb_scale and Cr = (R - Y') cr_scale in 8-bit chroma codes (+-112
/// for the primaries at 100%).
struct ScopeWeights {
    std::int32_t wr, wg, wb;
    float kr, kg, kb;
    float cb_scale, cr_scale;
};
ScopeWeights scope_weights(ScopeMatrix matrix);

/// Where a pixel's Cb and Cr fall on the vectorscope's 256 x 256 grid: x =
/// floor(128.5 + Cb), y = floor(128.5 - Cr) (Cr up, y from the top), each kept
/// inside the grid; in single precision, in that order of operations.
struct VectorCell {
    int x, y;
};
VectorCell vector_cell(const ScopeWeights& w, int red, int green, int blue);

/// Most pixels count_scopes takes.
constexpr std::int64_t kScopePixelsMost = std::int64_t{1} << 26;

/// What the scopes count: for each waveform column the pixels of each luma
/// code, for each parade column and colour the pixels of each code, and for
/// each vectorscope cell its pixels. The histograms are the sums over columns.
/// Kept as they are drawn, a row of the scope a code.
struct ScopeCounts {
    /// waveform[code][column].
    std::uint32_t waveform[256][kWaveformColumns];
    /// parade[colour][code][column], colours red, green, blue.
    std::uint32_t parade[3][256][kParadeColumns];
    /// vector[y][x], as vector_cell places pixels.
    std::uint32_t vector[256][256];
    std::int64_t pixels;
    ScopeMatrix matrix;
};

/// Counts a bottom-up width x height BGRX picture, rows `stride` bytes apart;
/// counts nothing for a picture of more than kScopePixelsMost pixels.
void count_scopes(const std::uint8_t* pixels, int width, int height, std::size_t stride,
                  ScopeMatrix matrix, ScopeCounts& counts);

/// Draws the scopes of `counts` into `out` (see kScopesWidth).
void draw_scopes(const ScopeCounts& counts, std::uint8_t* out);

/// The histogram of colour `channel` (0 red, 1 green, 2 blue, 3 luma) from the
/// counts.
void scope_histogram(const ScopeCounts& counts, int channel, std::uint32_t out[256]);
