// The format table and what every format shares: opening a frame, owning its
// files, and the checks each consumer's call passes before the format's own code.
#include "core/formats/format.h"

#include <cmath>
#include <cstring>

#include "core/formats/dpx.h"
#include "core/formats/planar.h"
#include "core/sequence.h"

namespace {

/// Every format, by the code sequence discovery gives it.
struct FormatEntry {
    std::int32_t code;
    const FrameFormat* format;
};

const FormatEntry kFormats[] = {
    {kFormatPlanar, &kPlanarFormat},
    {kFormatDpx, &kDpxFormat},
};

}  // namespace

void FrameFiles::close_all() {
    for (int i = 0; i < count; ++i) file_close(file[i]);
    for (FileHandle& f : file) f = kNoFile;
    count = 0;
}

bool FrameFiles::add(FileHandle handle) {
    if (count >= kMaxFrameFiles) {
        file_close(handle);
        return false;
    }
    file[count++] = handle;
    return true;
}

const FrameFormat* frame_format(std::int32_t source_format) {
    for (const FormatEntry& entry : kFormats)
        if (entry.code == source_format) return entry.format;
    return nullptr;
}

bool header_rate_value(std::uint32_t bits, double* rate) {
    if (bits == 0xFFFFFFFFu) return false;
    float value;
    static_assert(sizeof value == sizeof bits, "a stored rate is an IEEE single");
    std::memcpy(&value, &bits, sizeof value);
    // NaN and the infinities fail both comparisons or the second.
    if (!(value >= 1.0f && value <= 240.0f)) return false;
    *rate = value;
    return true;
}

double header_frame_rate(const HeaderFields& header) {
    if (!header.present) return 0;
    double rate = 0;
    if (header_rate_value(header.tv_rate_bits, &rate)) return rate;
    if (header_rate_value(header.film_rate_bits, &rate)) return rate;
    return 0;
}

int alloc_scratch(DecodeScratch& scratch) {
    release_scratch(scratch);
    scratch.row = static_cast<std::uint8_t*>(heap_alloc_zeroed(kRowBufferBytes));
    if (!scratch.row) return -1;
    // The read buffer only speeds up reads of many rows; decodes go row by row without it.
    scratch.read = static_cast<std::uint8_t*>(heap_alloc_zeroed(kReadBufferBytes));
    return 0;
}

void release_scratch(DecodeScratch& scratch) {
    heap_free(scratch.row);
    heap_free(scratch.read);
    scratch.row = nullptr;
    scratch.read = nullptr;
}

namespace {

/// Reads the header and, with `data`, opens the rest. The path is copied: a
/// format may rewrite it as it opens each file.
int open_info(std::int32_t source_format, const char* path, std::int32_t width, std::int32_t height,
              bool data, OpenFrame& frame, ReadFailure* why) {
    frame.files.close_all();
    frame.info = FrameInfo{};
    frame.format = frame_format(source_format);
    if (!frame.format || !path) return fail_with(why, kFailCannotOpen);
    const std::size_t length = strnlen(path, kPathMax);
    if (length == 0 || length >= static_cast<std::size_t>(kPathMax))
        return fail_with(why, kFailNameTooLong);
    char copy[kPathMax];
    std::memcpy(copy, path, length + 1);
    frame.info.format = source_format;
    if (frame.format->read_info(copy, width, height, frame.files, frame.info, why) != 0) return -1;
    if (data && frame.format->open_data(copy, frame.files, frame.info, why) != 0) return -1;
    return 0;
}

}  // namespace

int open_frame(std::int32_t source_format, const char* path, std::int32_t width,
               std::int32_t height, OpenFrame& frame, ReadFailure* why) {
    return open_info(source_format, path, width, height, true, frame, why);
}

int read_frame_info(std::int32_t source_format, const char* path, std::int32_t width,
                    std::int32_t height, FrameInfo& info, ReadFailure* why) {
    OpenFrame frame;
    const int result = open_info(source_format, path, width, height, true, frame, why);
    info = frame.info;
    return result;
}

int decode_frame(const OpenFrame& frame, const DecodeSettings& settings, const PixelTarget& target,
                 DecodeScratch& scratch) {
    if (!frame.format || !scratch.row) return -1;
    return frame.format->decode(frame.files, frame.info, settings, target, scratch);
}

int read_source_pixel(const OpenFrame& frame, std::int32_t x, std::int32_t y, SourceValues* out) {
    if (!frame.format || !out || x < 0 || y < 0 || x >= frame.info.width || y >= frame.info.height)
        return -1;
    return frame.format->read_pixel(frame.files, frame.info, x, y, out);
}

int read_sample_rows(const OpenFrame& frame, std::int32_t top, std::int32_t count,
                     std::int32_t shift, std::uint16_t* out, std::size_t out_stride,
                     DecodeScratch& scratch) {
    if (!frame.format || !out || !scratch.row || shift < 0 || shift > 3 || count < 0) return -1;
    if (count == 0) return 0;
    const std::int64_t last = top + (static_cast<std::int64_t>(count - 1) << shift);
    const std::size_t pixels = static_cast<std::size_t>(((frame.info.width - 1) >> shift) + 1);
    if (top < 0 || last >= frame.info.height || frame.info.width <= 0 || out_stride < 3 * pixels)
        return -1;
    return frame.format->read_samples(frame.files, frame.info, top, count, shift, out, out_stride,
                                      scratch);
}
