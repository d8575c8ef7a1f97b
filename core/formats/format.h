// One seam per source format. Every consumer of frames (the window's display,
// a cache of decoded frames, a second sequence beside the first, a frame's
// header for the information box) goes through here: what a frame's header
// says, read without its pixels; a decode at any shift, conversion on or off,
// into any caller-owned picture, with caller-owned scratch, so that two decodes
// can run at once on two threads; the stored values of one source pixel; and
// the byte runs a read at a shift needs, for the read-ahead.
//
// A format is one file pair beside this one and one entry of the table in
// format.cpp; nothing else knows which formats exist.
#pragma once

#include <cstddef>
#include <cstdint>

#include "color/bt2020.h"
#include "core/frame_store.h"
#include "core/pixel_marks.h"
#include "core/read_failure.h"
#include "platform/platform.h"

/// Most files one frame is stored in (planar RGB: one per colour).
constexpr int kMaxFrameFiles = 3;

/// The open files of one frame, closed when it goes away, on every path.
struct FrameFiles {
    FileHandle file[kMaxFrameFiles] = {kNoFile, kNoFile, kNoFile};
    /// Files opened so far, from file[0].
    int count = 0;

    FrameFiles() = default;
    FrameFiles(const FrameFiles&) = delete;
    FrameFiles& operator=(const FrameFiles&) = delete;
    ~FrameFiles() { close_all(); }
    /// Closes every open file; the object may be used again.
    void close_all();
    /// Takes ownership of `handle` as the next file; false when all are taken
    /// (the handle is then closed).
    bool add(FileHandle handle);
};

/// Longest header text kept (DPX: project and copyright, 200 bytes), NUL included.
constexpr int kHeaderTextBytes = 201;

/// The descriptive fields of a frame's header, as stored: what the frame
/// information shows and where the rate and the timecode come from. A format
/// without a header leaves `present` false and everything else unset.
struct HeaderFields {
    bool present = false;
    /// Codes of the first image element (all ones where the file leaves them
    /// undefined): descriptor, transfer characteristic, colorimetric
    /// specification, bit size, packing, encoding.
    std::uint32_t descriptor = 0xFF, transfer = 0xFF, colorimetric = 0xFF, bit_size = 0xFF;
    std::uint32_t packing = 0xFFFF, encoding = 0xFFFF;
    /// Image orientation (0 = left to right, top to bottom).
    std::uint32_t orientation = 0xFFFF;
    /// Image elements the file declares, and the first one's end-of-line padding.
    std::uint32_t element_count = 0xFFFF;
    std::uint32_t end_of_line_padding = 0xFFFFFFFFu;
    /// The file size the header declares, and its image data offset.
    std::uint32_t declared_file_size = 0xFFFFFFFFu;
    std::uint32_t data_offset = 0xFFFFFFFFu;
    /// Frame rates as their stored 32-bit patterns (IEEE single precision), so
    /// that an undefined all-ones field can be told from a stored NaN: the film
    /// header's frame rate and the television header's temporal frame rate.
    std::uint32_t film_rate_bits = 0xFFFFFFFFu;
    std::uint32_t tv_rate_bits = 0xFFFFFFFFu;
    /// SMPTE timecode (BCD HH MM SS FF, hours in the top byte) and user bits.
    std::uint32_t timecode = 0xFFFFFFFFu;
    std::uint32_t user_bits = 0xFFFFFFFFu;
    /// Text fields, each up to its terminator or its field's end, NUL-terminated;
    /// bytes as stored (shown only after making them printable).
    char version[9] = {};
    char file_name[101] = {};
    char creation_time[25] = {};
    char creator[101] = {};
    char project[kHeaderTextBytes] = {};
    char copyright[kHeaderTextBytes] = {};
    char input_device[33] = {};
};

/// What a frame's header (or, for planar frames, its name) says: its size and
/// how its samples are laid out, without any pixel read.
struct FrameInfo {
    /// The source format, as sequence discovery chose it.
    std::int32_t format = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    /// Bits of one stored sample.
    std::int32_t bits = 0;
    /// Samples per pixel in the file, and where red, green and blue are among them.
    std::int32_t components = 3;
    std::int32_t red = 0, green = 1, blue = 2;
    /// The format's own code for how samples are stored (DPX: its coding).
    std::int32_t layout = 0;
    /// Where the top row starts in the (each) file.
    std::int64_t data_offset = 0;
    /// Bytes that hold one row's samples (of one plane), and from one row to the next.
    std::int64_t row_bytes = 0;
    std::int64_t row_stride = 0;
    /// Bytes in each of the frame's files, once opened (-1 before).
    std::int64_t file_bytes[kMaxFrameFiles] = {-1, -1, -1};
    HeaderFields header;
};

/// The frame rate a header gives, in frames per second: the television
/// header's, else the film header's. 0 when neither gives one: unset (all
/// ones), 0, NaN, infinite or outside 1 .. 240.
double header_frame_rate(const HeaderFields& header);

/// A stored frame rate field as a number; false when it gives none (see
/// header_frame_rate).
bool header_rate_value(std::uint32_t bits, double* rate);

/// A caller-owned picture a decode writes: width x height pixels of 4 bytes
/// (blue, green, red, and a fourth byte that is never written), row 0 the
/// bottom line of the picture, rows `stride` bytes apart.
struct PixelTarget {
    std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::size_t stride = 0;
};

/// A decode's own scratch, owned by the caller: `row` of kRowBufferBytes
/// (required) and `read` of kReadBufferBytes (optional: without it rows are
/// read one at a time). Two decodes at once need two scratches; the display's
/// row and read buffers are the window's.
struct DecodeScratch {
    std::uint8_t* row = nullptr;
    std::uint8_t* read = nullptr;
};

/// Allocates both scratch buffers (the read buffer may fail alone, leaving it
/// null). Returns -1 when the row buffer cannot be allocated.
int alloc_scratch(DecodeScratch& scratch);
void release_scratch(DecodeScratch& scratch);

/// How to decode: the shift (0 = full size .. 3 = 1/8), the conversion tables
/// when pixels are converted from BT.2020 to BT.709 (null: not converted),
/// whether the frame's rows may be shared with the helper thread (a frame the
/// window waits for; decode workers of their own go alone), and the pixels to
/// mark beside the picture (null: none), whose planes must hold the picture's
/// rows and columns.
struct DecodeSettings {
    std::int32_t shift = 2;
    const ConversionTables* tables = nullptr;
    bool share_rows = false;
    const PixelMarks* marks = nullptr;
};

/// Stored sample values of one source pixel, as the file holds them.
struct SourceValues {
    std::uint32_t red, green, blue;
    /// Bits per stored sample: 16 for 16-bit DPX, 12 for planar, the file's bit size otherwise.
    std::int32_t bits;
};

/// One file a read-ahead hints: its path, the bytes of one picture row in it
/// (0 or less: the whole file), and whether its header page is hinted too.
struct ReadAheadFile {
    char path[kPathMax];
    std::int64_t row_bytes;
    bool header;
};

/// What a read-ahead knows of the frame to come without reading it: the size
/// and row stride of the frame before it (0: unknown).
struct ReadAheadShape {
    std::int32_t width;
    std::int32_t height;
    std::int64_t row_stride;
};

/// One format: plain functions over its files and its FrameInfo.
struct FrameFormat {
    const char* name;
    /// Reads what the frame at `path` says of itself into `info` without
    /// reading pixels, opening into `files` whatever the header needs (DPX: its
    /// file; planar frames: nothing). `width` x `height` is the size to assume
    /// where the frame does not say. Refuses, saying why, what cannot be shown.
    int (*read_info)(const char* path, std::int32_t width, std::int32_t height, FrameFiles& files,
                     FrameInfo& info, ReadFailure* why);
    /// Opens what decoding needs beyond that (planar: the three planes) and
    /// completes info.file_bytes. Rewrites `path` to name each file it opens
    /// and leaves it at the last one opened, or at the one that failed.
    int (*open_data)(char* path, FrameFiles& files, FrameInfo& info, ReadFailure* why);
    /// Decodes the frame into `target` (see decode_frame).
    int (*decode)(const FrameFiles& files, const FrameInfo& info, const DecodeSettings& settings,
                  const PixelTarget& target, DecodeScratch& scratch);
    /// Reads the stored values of source pixel (x, y), y from the top (see read_source_pixel).
    int (*read_pixel)(const FrameFiles& files, const FrameInfo& info, std::int32_t x,
                      std::int32_t y, SourceValues* out);
    /// Decodes stored samples of source rows (see read_sample_rows).
    int (*read_samples)(const FrameFiles& files, const FrameInfo& info, std::int32_t top,
                        std::int32_t count, std::int32_t shift, std::uint16_t* out,
                        std::size_t out_stride, DecodeScratch& scratch);
    /// The files a read-ahead of the frame at `path` hints (at most
    /// kMaxFrameFiles written to `out`); -1 when the path cannot name them.
    int (*read_ahead_files)(const char* path, const ReadAheadShape& shape, ReadAheadFile* out);
};

/// The format with code `source_format` (as sequence discovery sets it), or
/// null for a code no format has.
const FrameFormat* frame_format(std::int32_t source_format);

/// A frame opened through its format: the files, closed when it goes away, and
/// what its header says.
struct OpenFrame {
    const FrameFormat* format = nullptr;
    FrameFiles files;
    FrameInfo info;
};

/// Opens the frame at `path` (any plane's name for planar frames) of format
/// `source_format` for decoding: reads its header and opens its files.
/// `width` x `height` is the size to assume where the frame does not say.
/// Returns 0, or -1 saying why in *why when given.
int open_frame(std::int32_t source_format, const char* path, std::int32_t width,
               std::int32_t height, OpenFrame& frame, ReadFailure* why = nullptr);

/// Reads what the frame at `path` says of itself (header only, no pixels; for
/// planar frames the planes are opened to learn their sizes). Returns 0 or -1.
int read_frame_info(std::int32_t source_format, const char* path, std::int32_t width,
                    std::int32_t height, FrameInfo& info, ReadFailure* why = nullptr);

/// Decodes the open frame at `settings.shift` into `target`: display pixel
/// (c, r), r counted from the bottom, shows source pixel c << shift of the row
/// r << shift from the bottom, the top 8 bits of each sample, converted when
/// the settings carry tables. Writes only display rows and columns that have
/// a source pixel and lie inside the target; a file that ends early shows black
/// from the first pixel whose samples it does not all hold (its missing samples
/// count as 0 for the range marks). With marks, each written row's marks are
/// written too, and painted when the marks say so. Thread-safe: two decodes may
/// run at once with different scratch, targets and marks. Returns 0, or -1 when
/// there is no target to write, no scratch row buffer, or marks too small.
int decode_frame(const OpenFrame& frame, const DecodeSettings& settings, const PixelTarget& target,
                 DecodeScratch& scratch);

/// The stored values of source pixel (x, y) of the open frame, y from the top,
/// exactly those a decode shows (the top 8 bits of each). Returns -1 when the
/// pixel is outside the frame or its file(s) end before its samples.
int read_source_pixel(const OpenFrame& frame, std::int32_t x, std::int32_t y, SourceValues* out);

/// Decodes the stored samples (full precision, frame.info.bits bits) of
/// `count` source rows: row top, top + (1 << shift), ... counted from the top,
/// and in each every (1 << shift)-th pixel from the left, (width - 1 >> shift)
/// + 1 pixels. Row i goes to out + i * out_stride as red, green, blue
/// triplets. Samples the file does not hold are 0. Thread-safe as
/// decode_frame. Returns 0, or -1 for rows outside the frame or no scratch.
int read_sample_rows(const OpenFrame& frame, std::int32_t top, std::int32_t count,
                     std::int32_t shift, std::uint16_t* out, std::size_t out_stride,
                     DecodeScratch& scratch);
