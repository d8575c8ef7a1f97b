#include "tools/frame_files.h"

#include <cstdio>
#include <cstring>

namespace {

void put_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 24);
    b[at + 1] = static_cast<std::uint8_t>(v >> 16);
    b[at + 2] = static_cast<std::uint8_t>(v >> 8);
    b[at + 3] = static_cast<std::uint8_t>(v);
}

void put_u16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

void put_text(std::vector<std::uint8_t>& b, std::size_t at, const char* text) {
    std::memcpy(&b[at], text, std::strlen(text));
}

}  // namespace

std::vector<std::uint8_t> make_dpx_header(int width, int height) {
    const std::size_t samples = static_cast<std::size_t>(width) * height * 3;
    std::vector<std::uint8_t> b(kDpxDataOffset, 0);
    // Undefined header fields are all ones in DPX; the film and television
    // headers (1664..2047) are left undefined entirely.
    std::memset(&b[1664], 0xFF, kDpxDataOffset - 1664);

    // File information header.
    put_text(b, 0, "SDPX");
    put_u32(b, 4, kDpxDataOffset);
    put_text(b, 8, "V2.0");
    put_u32(b, 16, static_cast<std::uint32_t>(kDpxDataOffset + samples * 2));
    put_u32(b, 20, 1);     // ditto key: new frame
    put_u32(b, 24, 1664);  // generic header: file + image + orientation
    put_u32(b, 28, 384);   // industry header: film + television
    put_u32(b, 32, 0);     // no user data
    put_text(b, 160, "karvelin-mkseq");
    put_u32(b, 660, 0xFFFFFFFFu);  // not encrypted

    // Image information header: one element.
    put_u16(b, 768, 0);  // left to right, top to bottom
    put_u16(b, 770, 1);
    put_u32(b, 772, static_cast<std::uint32_t>(width));
    put_u32(b, 776, static_cast<std::uint32_t>(height));
    // Elements 1..7 are unused.
    std::memset(&b[780 + 72], 0xFF, 72 * 7);
    const std::size_t e = 780;
    put_u32(b, e + 0, 0);  // unsigned samples
    put_u32(b, e + 4, 0);  // reference low code
    put_u32(b, e + 8, 0xFFFFFFFFu);
    put_u32(b, e + 12, 65535);  // reference high code
    put_u32(b, e + 16, 0xFFFFFFFFu);
    b[e + 20] = 50;         // descriptor: RGB
    b[e + 21] = 4;          // transfer: unspecified video
    b[e + 22] = 4;          // colorimetric: unspecified video
    b[e + 23] = 16;         // bits per sample
    put_u16(b, e + 24, 0);  // packing: none
    put_u16(b, e + 26, 0);  // encoding: none
    put_u32(b, e + 28, kDpxDataOffset);
    put_u32(b, e + 32, 0);  // no end-of-line padding
    put_u32(b, e + 36, 0);  // no end-of-image padding
    put_text(b, e + 40, "RGB 16-bit");
    // Orientation header offsets, sizes and the film/TV fields stay undefined.
    std::memset(&b[1408], 0xFF, 1664 - 1408);
    std::memset(&b[1432], 0, 100 + 24 + 32 + 32);  // source name, time, device, serial
    return b;
}

std::vector<std::uint8_t> make_dpx_file(int width, int height, const std::uint16_t* rgb) {
    const std::size_t samples = static_cast<std::size_t>(width) * height * 3;
    std::vector<std::uint8_t> b = make_dpx_header(width, height);
    b.resize(kDpxDataOffset + samples * 2, 0);
    for (std::size_t i = 0; i < samples; ++i) put_u16(b, kDpxDataOffset + 2 * i, rgb[i]);
    return b;
}

int write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return -1;
    // An empty vector's data() may be null, which fwrite must not be given.
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (std::fclose(f) == 0 && ok) ? 0 : -1;
}

int write_dpx_file(const std::string& path, int width, int height, const std::uint16_t* rgb) {
    return write_file(path, make_dpx_file(width, height, rgb));
}

int write_planar_files(const std::string& base, int width, int height, const std::uint16_t* rgb,
                       const char* letters) {
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    std::vector<std::uint8_t> plane(pixels * 2);
    for (int p = 0; p < 3; ++p) {
        for (std::size_t i = 0; i < pixels; ++i) put_u16(plane, 2 * i, rgb[3 * i + p] & 0x0FFF);
        if (write_file(base + letters[p], plane) != 0) return -1;
    }
    return 0;
}
