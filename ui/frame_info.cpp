#include "ui/frame_info.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/sequence.h"

namespace {

constexpr const char* kNotSet = "not set";

void line(std::string& out, const char* field, const std::string& value) {
    out += field;
    out += ": ";
    out += value;
    out += '\n';
}

std::string number(std::uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(v));
    return text;
}

// A code with its name, the number alone for a code without one, or "not set"
// for the all-ones value the file leaves undefined.
std::string code(std::uint32_t value, std::uint32_t undefined, const char* name) {
    if (value == undefined) return kNotSet;
    return name ? number(value) + " (" + name + ")" : number(value);
}

// Transfer characteristics and colorimetric specifications of SMPTE 268M.
const char* characteristic_name(std::uint32_t c) {
    static const char* const kNames[] = {"user-defined",
                                         "printing density",
                                         "linear",
                                         "logarithmic",
                                         "unspecified video",
                                         "SMPTE 274M",
                                         "BT.709",
                                         "BT.601 system B or G",
                                         "BT.601 system M",
                                         "NTSC composite video",
                                         "PAL composite video",
                                         "Z depth linear",
                                         "Z depth homogeneous",
                                         "ADX"};
    return c < std::size(kNames) ? kNames[c] : nullptr;
}

const char* descriptor_name(std::uint32_t d) {
    switch (d) {
        case 0:
            return "user-defined";
        case 1:
            return "red";
        case 2:
            return "green";
        case 3:
            return "blue";
        case 4:
            return "alpha";
        case 6:
            return "luma";
        case 7:
            return "colour difference";
        case 8:
            return "depth";
        case 9:
            return "composite video";
        case 50:
            return "RGB";
        case 51:
            return "RGBA";
        case 52:
            return "ABGR";
        case 100:
            return "CbYCrY 4:2:2";
        case 101:
            return "CbYACrYA 4:2:2:4";
        case 102:
            return "CbYCr 4:4:4";
        case 103:
            return "CbYCrA 4:4:4:4";
        default:
            return d >= 150 && d <= 156 ? "user-defined components" : nullptr;
    }
}

const char* packing_name(std::uint32_t p) {
    return p == 0 ? "packed" : p == 1 ? "filled, method A" : p == 2 ? "filled, method B" : nullptr;
}

const char* encoding_name(std::uint32_t e) {
    return e == 0 ? "none" : e == 1 ? "run-length" : nullptr;
}

const char* orientation_name(std::uint32_t o) {
    static const char* const kNames[] = {
        "left to right, top to bottom", "right to left, top to bottom",
        "left to right, bottom to top", "right to left, bottom to top",
        "top to bottom, left to right", "top to bottom, right to left",
        "bottom to top, left to right", "bottom to top, right to left"};
    return o < std::size(kNames) ? kNames[o] : nullptr;
}

// A stored frame rate: "not set" for all ones, NaN or 0; a rate the viewer
// would not play at is shown as stored and said to be unused.
std::string rate(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (bits == 0xFFFFFFFFu || std::isnan(value) || value == 0) return kNotSet;
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
    // 24.000 -> 24, 29.970 -> 29.97.
    std::string shown = text;
    if (shown.find('.') != std::string::npos) {
        while (shown.back() == '0') shown.pop_back();
        if (shown.back() == '.') shown.pop_back();
    }
    double used = 0;
    if (!header_rate_value(bits, &used)) shown += " (outside 1 to 240, not used)";
    return shown;
}

// A text field, only its printable characters: others show as '?'. Empty, or
// all 0xFF (how some writers leave a field undefined), it is not set.
std::string text_field(const char* stored) {
    std::string shown;
    bool defined = false;
    for (const char* p = stored; *p; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        defined = defined || byte != 0xFF;
        shown += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?';
    }
    return shown.empty() || !defined ? kNotSet : shown;
}

std::string hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

std::string plain(std::uint32_t v) {
    return v == 0xFFFFFFFFu ? kNotSet : number(v);
}

void dpx_fields(const HeaderFields& h, std::string& out) {
    line(out, "header version", text_field(h.version));
    line(out, "image file name", text_field(h.file_name));
    line(out, "creation time", text_field(h.creation_time));
    line(out, "creator", text_field(h.creator));
    line(out, "project", text_field(h.project));
    line(out, "copyright", text_field(h.copyright));
    line(out, "input device", text_field(h.input_device));
    line(out, "declared file size", plain(h.declared_file_size));
    line(out, "image elements", code(h.element_count, 0xFFFF, nullptr));
    line(out, "descriptor", code(h.descriptor, 0xFF, descriptor_name(h.descriptor)));
    line(out, "bit size", code(h.bit_size, 0xFF, nullptr));
    line(out, "packing", code(h.packing, 0xFFFF, packing_name(h.packing)));
    line(out, "encoding", code(h.encoding, 0xFFFF, encoding_name(h.encoding)));
    line(out, "transfer", code(h.transfer, 0xFF, characteristic_name(h.transfer)));
    line(out, "colorimetric", code(h.colorimetric, 0xFF, characteristic_name(h.colorimetric)));
    line(out, "orientation", code(h.orientation, 0xFFFF, orientation_name(h.orientation)));
    line(out, "film frame rate", rate(h.film_rate_bits));
    line(out, "television frame rate", rate(h.tv_rate_bits));
    char tc[16];
    if (h.timecode == 0xFFFFFFFFu)
        line(out, "timecode", kNotSet);
    else if (format_timecode(h.timecode, tc, sizeof tc))
        line(out, "timecode", std::string(tc) + (h.timecode & 0x40 ? " (drop frame)" : ""));
    else
        line(out, "timecode", "invalid (" + hex(h.timecode) + ")");
    line(out, "user bits", h.user_bits == 0xFFFFFFFFu ? kNotSet : hex(h.user_bits));
    line(out, "data offset", plain(h.data_offset));
    line(out, "end-of-line padding", plain(h.end_of_line_padding));
}

}  // namespace

bool format_timecode(std::uint32_t timecode, char* out, int capacity) {
    if (timecode == 0xFFFFFFFFu || capacity < 12) return false;
    // Hours, minutes and seconds keep their flag bits above the tens digit;
    // frames keep two (drop frame, colour frame).
    const std::uint32_t fields[4] = {(timecode >> 24) & 0x3F, (timecode >> 16) & 0x7F,
                                     (timecode >> 8) & 0x7F, timecode & 0x3F};
    const int most[4] = {23, 59, 59, 99};
    int value[4];
    for (int i = 0; i < 4; ++i) {
        const int tens = static_cast<int>(fields[i] >> 4),
                  units = static_cast<int>(fields[i] & 0xF);
        if (units > 9 || tens > 9) return false;
        value[i] = tens * 10 + units;
        if (value[i] > most[i]) return false;
    }
    std::snprintf(out, static_cast<std::size_t>(capacity), "%02d:%02d:%02d%c%02d", value[0],
                  value[1], value[2], timecode & 0x40 ? ';' : ':', value[3]);
    return true;
}

std::string frame_info_text(const char* path, const FrameInfo& info) {
    std::string out;
    const FrameFormat* format = frame_format(info.format);
    line(out, "file", path);
    line(out, "format", format ? format->name : "unknown");
    line(out, "size",
         number(static_cast<std::uint64_t>(info.width)) + " x " +
             number(static_cast<std::uint64_t>(info.height)));
    line(out, "bits per sample", number(static_cast<std::uint64_t>(info.bits)));
    if (info.header.present) {
        line(out, "file size",
             info.file_bytes[0] >= 0
                 ? number(static_cast<std::uint64_t>(info.file_bytes[0])) + " bytes"
                 : kNotSet);
        dpx_fields(info.header, out);
        return out;
    }
    // Frames without a header: each of their files and its size.
    ReadAheadFile files[kMaxFrameFiles];
    const ReadAheadShape shape{info.width, info.height, info.row_stride};
    const int count = format ? format->read_ahead_files(path, shape, files) : -1;
    static const char* const kPlanes[kMaxFrameFiles] = {"red plane", "green plane", "blue plane"};
    for (int i = 0; i < count && i < kMaxFrameFiles; ++i)
        line(out, kPlanes[i],
             std::string(files[i].path) + " (" +
                 (info.file_bytes[i] >= 0
                      ? number(static_cast<std::uint64_t>(info.file_bytes[i])) + " bytes"
                      : std::string(kNotSet)) +
                 ")");
    return out;
}

int frame_info_listing(std::int32_t source_format, const char* path, std::int32_t width,
                       std::int32_t height, std::string& out, ReadFailure* why) {
    FrameInfo info;
    if (read_frame_info(source_format, path, width, height, info, why) != 0) return -1;
    out = frame_info_text(path, info);
    return 0;
}

int info_command(const char* frame, std::string& out, std::string& error) {
    const std::size_t length = strnlen(frame, kPathMax);
    ReadFailure why = kFailNameTooLong;
    if (length > 0 && length < static_cast<std::size_t>(kPathMax)) {
        char pattern[kPathMax];
        int name_slot = 0;
        std::int32_t source_format = 0;
        derive_pattern(frame, pattern, nullptr, &name_slot, &source_format);
        // A planar frame without a size tag is taken at the viewer's start-up size.
        if (frame_info_listing(source_format, frame, 3840, 2160, out, &why) == 0) return 0;
    } else if (length == 0) {
        why = kFailNoSuchFile;
    }
    error = std::string("karvelin: ") + frame + ": " + read_failure_text(why) + "\n";
    return 1;
}
