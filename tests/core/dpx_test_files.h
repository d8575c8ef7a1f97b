// DPX files of any layout for the reader and probe tests, written from their
// samples as SMPTE 268M lays them out.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/frame_files.h"

/// A DPX file of one image element with the given descriptor, bit size and
/// packing, followed by `data`.
inline std::vector<std::uint8_t> layout_file(int w, int h, int descriptor, int bits, int packing,
                                             const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> file = make_dpx_header(w, h);
    file[800] = static_cast<std::uint8_t>(descriptor);
    file[803] = static_cast<std::uint8_t>(bits);
    file[804] = static_cast<std::uint8_t>(packing >> 8);
    file[805] = static_cast<std::uint8_t>(packing);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

inline void put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

/// One row of `samples` of `bits` bits as DPX stores it with `packing` (0
/// packed, 1 filled method A, 2 method B), ending on a 32-bit word.
inline std::vector<std::uint8_t> dpx_row(const std::vector<std::uint32_t>& samples, int bits,
                                         int packing) {
    std::vector<std::uint32_t> words;
    if (bits == 10 && packing != 0) {
        // Three per word, the first highest; method A leaves the two low bits free.
        for (std::size_t i = 0; i < samples.size(); i += 3) {
            std::uint32_t word = 0;
            for (std::size_t k = i; k < i + 3 && k < samples.size(); ++k)
                word |= samples[k] << (20 - 10 * (k - i) + (packing == 1 ? 2 : 0));
            words.push_back(word);
        }
    } else if (packing == 0 && (bits == 10 || bits == 12)) {
        // One stream of bits filling each word from its least significant bit.
        std::uint64_t pending = 0;
        int held = 0;
        for (std::uint32_t s : samples) {
            pending |= static_cast<std::uint64_t>(s) << held;
            held += bits;
            for (; held >= 32; held -= 32, pending >>= 32)
                words.push_back(static_cast<std::uint32_t>(pending));
        }
        if (held > 0) words.push_back(static_cast<std::uint32_t>(pending));
    } else {
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t s : samples) {
            if (bits == 8)
                bytes.push_back(static_cast<std::uint8_t>(s));
            else
                put16(bytes, bits == 12 && packing == 1 ? s << 4 : s);
        }
        bytes.resize((bytes.size() + 3) / 4 * 4, 0);
        return bytes;
    }
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t w : words) {
        put16(bytes, w >> 16);
        put16(bytes, w & 0xFFFF);
    }
    return bytes;
}

/// A 10-bit RGB DPX file, filled method A, of `rgb` (w x h x 3 samples of 10
/// bits, top row first).
inline std::vector<std::uint8_t> dpx10_file(int w, int h, const std::vector<std::uint32_t>& rgb) {
    std::vector<std::uint8_t> data;
    for (int y = 0; y < h; ++y) {
        const std::vector<std::uint32_t> row(rgb.begin() + static_cast<long>(y) * w * 3,
                                             rgb.begin() + static_cast<long>(y + 1) * w * 3);
        const auto bytes = dpx_row(row, 10, 1);
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    return layout_file(w, h, 50, 10, 1, data);
}
