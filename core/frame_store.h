// The display frame store: the current source size, the display scale and the
// pixels the window shows.
#pragma once

#include <cstddef>
#include <cstdint>

struct PixelMarks;

/// Laid out exactly as the Windows BITMAPINFOHEADER, so the Win32 front end can
/// hand it to SetDIBitsToDevice as it stands.
struct BitmapInfoHeader {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

/// The header followed by its one (unused) colour entry, as BITMAPINFO.
struct BitmapInfo {
    BitmapInfoHeader header;
    std::uint32_t colors[1];
};
static_assert(sizeof(BitmapInfo) == 44, "BITMAPINFO with one colour entry is 44 bytes");

/// Bytes in the row buffer: one row of the widest accepted frame, 7680 pixels of
/// 8 bytes (16-bit RGBA DPX), or three planes of 7680 two-byte samples.
constexpr std::size_t kRowBufferBytes = 61440;
/// Widest and tallest frame the readers accept.
constexpr std::int32_t kMaxFrameWidth = 7680;
constexpr std::int32_t kMaxFrameHeight = 4320;
/// Bytes in the optional read buffer: several source rows at once, so that a
/// full-size frame is read in a few large reads instead of one per row.
constexpr std::size_t kReadBufferBytes = 1 << 20;

/// Source size, decimation shift, the bottom-up 32-bit picture and its header,
/// the shared row buffer and the BT.709 conversion switch.
struct FrameStore {
    std::int32_t source_width = 3840;
    std::int32_t source_height = 2160;
    /// 0 = full size, 1 = 1/2, 2 = 1/4, 3 = 1/8.
    std::int32_t shift = 2;
    BitmapInfo bitmap{};
    /// display width x display height x 4 bytes, BGRX, row 0 = bottom line.
    std::uint8_t* pixels = nullptr;
    /// Scratch for one source row, allocated once.
    std::uint8_t* row_buffer = nullptr;
    /// Scratch for several source rows (kReadBufferBytes), allocated once with the
    /// row buffer; nullptr when that allocation failed (readers then go row by row).
    std::uint8_t* read_buffer = nullptr;
    /// 1 when the readers convert every pixel from BT.2020 to BT.709.
    std::int32_t convert = 0;
    /// Set by a reader that recorded a new source size and read no pixel; cleared
    /// by a reader that read the frame. Lets the loader read the frame again even
    /// when the new size decimates to the same display size.
    std::int32_t size_recorded = 0;
    /// Bytes from one row to the next in the files of the last frame read,
    /// padding included; 0 before any. The read-ahead hints the next frame's
    /// rows with it.
    std::int64_t row_stride = 0;
    /// The pixels the readers mark beside the display (null: none); owned by
    /// whoever set it, its planes large enough for any display.
    const PixelMarks* marks = nullptr;
    /// The SMPTE timecode the header of the last frame read gives (BCD, hours
    /// in the top byte), all ones when it gives none or the frame could not be
    /// read.
    std::uint32_t timecode = 0xFFFFFFFFu;
};

/// Display width and height: the header's biWidth and biHeight.
inline std::int32_t display_width(const FrameStore& store) {
    return store.bitmap.header.biWidth;
}
inline std::int32_t display_height(const FrameStore& store) {
    return store.bitmap.header.biHeight;
}

/// Brings the header and the pixel buffer in line with the source size and shift:
/// releases the old buffer, rewrites the header, allocates a zero-filled buffer,
/// and allocates the row buffer the first time. On allocation failure the display
/// becomes 0x0 with no pixel buffer (readers then refuse to write) and -1 is
/// returned; 0 otherwise.
int reallocate_display(FrameStore& store);

/// Releases the pixel, row and read buffers (process exit and tests).
void release_display(FrameStore& store);
