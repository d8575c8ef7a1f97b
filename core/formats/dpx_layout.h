// The DPX image layouts the viewer shows (SMPTE 268M): the header fields that
// decide a frame's layout, checked once per frame, and how each layout stores
// its samples. The decoder, the pixel probe and the sample reader all decode
// through here. Private to the formats.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/formats/format.h"
#include "core/read_failure.h"
#include "platform/platform.h"

/// Bytes at the start of a DPX file the layout is parsed from: the file
/// information header and the image information header with its eight elements.
constexpr std::size_t kDpxHeaderBytes = 1408;
/// Bytes of the whole generic and industry header: the above, the orientation,
/// film and television headers, where frame rates and the timecode are.
constexpr std::size_t kDpxFullHeaderBytes = 2048;
/// A file must hold at least this much for its size to be known.
constexpr std::size_t kDpxSizeFieldsEnd = 780;

/// How an image element stores its samples. In the word-based codings the file
/// is a sequence of big-endian 32-bit words.
enum DpxCoding {
    /// One sample per big-endian 16-bit word.
    kDpx16,
    /// 12 bits in the top of a 16-bit word (filled, method A).
    kDpx12FilledA,
    /// 12 bits in the bottom of a 16-bit word (filled, method B).
    kDpx12FilledB,
    /// 12-bit samples back to back, from the least significant bit of each word.
    kDpx12Packed,
    /// Three 10-bit samples per word from the top, 2 padding bits at the bottom.
    kDpx10FilledA,
    /// Three 10-bit samples per word from the bottom, 2 padding bits at the top.
    kDpx10FilledB,
    /// 10-bit samples back to back, from the least significant bit of each word.
    kDpx10Packed,
    /// One sample per byte.
    kDpx8,
};
constexpr int kDpxCodings = kDpx8 + 1;

/// Bits of one stored sample.
constexpr std::int32_t dpx_coding_bits(DpxCoding coding) {
    return coding == kDpx16 ? 16 : coding == kDpx8 ? 8 : coding <= kDpx12Packed ? 12 : 10;
}

/// The shortest run after which a coding's bit pattern repeats: `samples`
/// samples in `bytes` bytes. A row's samples start with a whole group.
struct DpxGroup {
    std::int32_t samples;
    std::int32_t bytes;
};

constexpr DpxGroup dpx_group(DpxCoding coding) {
    switch (coding) {
        case kDpx8:
            return {1, 1};
        case kDpx10FilledA:
        case kDpx10FilledB:
            return {3, 4};
        case kDpx10Packed:
            return {16, 20};
        case kDpx12Packed:
            return {8, 12};
        default:
            return {1, 2};
    }
}

/// What the reader needs of a DPX file's header, parsed and checked.
struct DpxHeader {
    std::int32_t width;
    std::int32_t height;
    /// Where the top row starts in the file.
    std::uint32_t data_offset;
    DpxCoding coding;
    /// Samples per pixel: 3 (RGB) or 4 (RGBA, ABGR).
    std::int32_t components;
    /// Where red, green and blue are among a pixel's samples.
    std::int32_t red, green, blue;
    /// Bytes that hold one row's samples.
    std::size_t row_bytes;
    /// Bytes from one row to the next: row_bytes and any padding.
    std::size_t row_stride;
};

/// True for the layout the viewer has always read: 16-bit RGB (12-bit filled
/// method A stores its top 8 bits in the same bytes).
inline bool dpx_is_rgb16(const DpxHeader& h) {
    return (h.coding == kDpx16 || h.coding == kDpx12FilledA) && h.components == 3 && h.red == 0 &&
           h.green == 1 && h.blue == 2;
}

/// Parses the header bytes of a DPX file of `file_bytes` bytes: `header` holds
/// kDpxHeaderBytes, those past the end of a shorter file set to 0xFF (undefined),
/// and at least the first 780 are the file's. Refuses, recording why, what the
/// viewer cannot show right: a size outside 1x1..7680x4320, a data offset outside
/// the file, a descriptor other than RGB, RGBA or ABGR, samples other than
/// unsigned 8, 10, 12 or 16 bits, run-length encoding, image elements of
/// different layouts, image data beyond what a DPX file can hold. Undefined
/// fields are taken as the usual value, never refused.
int parse_dpx_header(const std::uint8_t* header, std::int64_t file_bytes, DpxHeader* out,
                     ReadFailure* why);

/// Copies the descriptive fields of a DPX header (kDpxFullHeaderBytes, of which
/// the first `held` are the file's) into `out`: codes, rates, timecode and texts
/// as stored. Never refuses: a field the file does not hold stays unset.
void parse_dpx_fields(const std::uint8_t* header, std::int64_t held, HeaderFields& out);

/// Reads the header of an open DPX file in one read and parses it.
int read_dpx_header(FileHandle file, DpxHeader* out, ReadFailure* why);

inline std::uint32_t dpx_be16(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 8) | p[1];
}

inline std::uint32_t dpx_be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

/// The stored value of sample `index` of a row of coding C (samples count along
/// the row: pixel x's sample c is x * components + c). Reads no byte past the
/// word that holds the sample's last bit.
template <DpxCoding C>
inline std::uint32_t dpx_sample(const std::uint8_t* row, std::size_t index) {
    if constexpr (C == kDpx8) {
        return row[index];
    } else if constexpr (C == kDpx16) {
        return dpx_be16(row + 2 * index);
    } else if constexpr (C == kDpx12FilledA) {
        return dpx_be16(row + 2 * index) >> 4;
    } else if constexpr (C == kDpx12FilledB) {
        return dpx_be16(row + 2 * index) & 0xFFF;
    } else if constexpr (C == kDpx10FilledA || C == kDpx10FilledB) {
        // The first of a word's three samples is the highest; method B sits two
        // bits lower than method A.
        const std::uint32_t word = dpx_be32(row + 4 * (index / 3));
        const int low_bit = (C == kDpx10FilledA ? 22 : 20) - 10 * static_cast<int>(index % 3);
        return (word >> low_bit) & 0x3FF;
    } else {
        // Packed: one stream of bits, filling each word from its least
        // significant bit; a sample may continue in the next word.
        constexpr std::size_t bits = dpx_coding_bits(C);
        const std::size_t first = index * bits;
        const std::uint8_t* word = row + 4 * (first / 32);
        const unsigned shift = static_cast<unsigned>(first % 32);
        std::uint64_t value = dpx_be32(word) >> shift;
        if (shift + bits > 32)
            value |= static_cast<std::uint64_t>(dpx_be32(word + 4)) << (32 - shift);
        return static_cast<std::uint32_t>(value & ((1u << bits) - 1));
    }
}

/// dpx_sample for a coding known only at run time.
std::uint32_t dpx_sample_of(DpxCoding coding, const std::uint8_t* row, std::size_t index);

/// Whole samples of a row of `coding` held in its first `bytes` bytes.
std::size_t dpx_samples_held(DpxCoding coding, std::size_t bytes);
