// Parsing and checking the DPX header, and the run-time forms of the sample
// decoding in dpx_layout.h.
#include "core/formats/dpx_layout.h"

#include <cstring>

#include "core/frame_store.h"

namespace {

// Offsets in the file information and image information headers.
constexpr std::size_t kMagic = 0;
constexpr std::size_t kDataOffset = 4;
constexpr std::size_t kDeclaredFileSize = 16;
constexpr std::size_t kElementCount = 770;
constexpr std::size_t kWidth = 772;
constexpr std::size_t kHeight = 776;
// The image elements, kElementBytes each, and the fields of one element.
constexpr std::size_t kElements = 780;
constexpr std::size_t kElementBytes = 72;
constexpr std::size_t kMaxElements = 8;
constexpr std::size_t kDataSign = 0;
constexpr std::size_t kDescriptor = 20;
constexpr std::size_t kBitSize = 23;
constexpr std::size_t kPacking = 24;
constexpr std::size_t kEncoding = 26;
constexpr std::size_t kElementDataOffset = 28;
constexpr std::size_t kEndOfLinePadding = 32;

constexpr std::uint32_t kUndefined32 = 0xFFFFFFFFu;
constexpr std::uint32_t kUndefined16 = 0xFFFFu;
constexpr std::uint8_t kUndefined8 = 0xFFu;

// Descriptors of the element's components.
constexpr std::uint8_t kUserDefined = 0;
constexpr std::uint8_t kRgb = 50;
constexpr std::uint8_t kRgba = 51;
constexpr std::uint8_t kAbgr = 52;

// Bytes that hold `samples` samples of a row: rows of word-based codings end on
// a whole word.
std::size_t row_bytes_of(DpxCoding coding, std::size_t samples) {
    switch (coding) {
        case kDpx8:
            return samples;
        case kDpx10FilledA:
        case kDpx10FilledB:
            return (samples + 2) / 3 * 4;
        case kDpx10Packed:
        case kDpx12Packed:
            return (samples * static_cast<std::size_t>(dpx_coding_bits(coding)) + 31) / 32 * 4;
        default:
            return samples * 2;
    }
}

// The element's coding from its bit size and packing. 8- and 16-bit samples fill
// their bytes whatever the packing says.
int coding_of(std::uint8_t bit_size, std::uint32_t packing, DpxCoding* coding, ReadFailure* why) {
    if (bit_size == 0 || bit_size == kUndefined8 || bit_size == 16) {
        *coding = kDpx16;
        return 0;
    }
    if (bit_size == 8) {
        *coding = kDpx8;
        return 0;
    }
    if (bit_size != 10 && bit_size != 12) return fail_with(why, kFailBitSize);
    // An undefined packing is taken as the common method A.
    if (packing == 1 || packing == kUndefined16)
        *coding = bit_size == 10 ? kDpx10FilledA : kDpx12FilledA;
    else if (packing == 2)
        *coding = bit_size == 10 ? kDpx10FilledB : kDpx12FilledB;
    else if (packing == 0)
        *coding = bit_size == 10 ? kDpx10Packed : kDpx12Packed;
    else
        return fail_with(why, kFailPacking);
    return 0;
}

// Bytes from one row to the next. SMPTE 268M ends every row on a 32-bit word,
// but some writers leave the padding out of 8-, 12- and 16-bit rows: rows are
// padded when the file is long enough to hold padded rows, else not. A file too
// short for either (cut short, or still being written) is measured by the size
// its header declares, and without one taken to follow the standard, so that
// the rows it does hold show as they are. -1 for rows no DPX file can hold: none
// is larger than its 32-bit size field can say.
int choose_row_stride(const std::uint8_t* header, const std::uint8_t* element,
                      std::int64_t file_bytes, DpxHeader& h) {
    std::uint64_t padding = dpx_be32(element + kEndOfLinePadding);
    if (padding == kUndefined32) padding = 0;
    const std::uint64_t rows_before_last = static_cast<std::uint64_t>(h.height) - 1;
    const std::uint64_t padded = (h.row_bytes + 3) / 4 * 4 + padding;
    const std::uint64_t plain = h.row_bytes + padding;
    const std::uint64_t padded_end = h.data_offset + rows_before_last * padded + h.row_bytes;
    const std::uint64_t plain_end = h.data_offset + rows_before_last * plain + h.row_bytes;
    std::uint64_t length = static_cast<std::uint64_t>(file_bytes);
    const std::uint32_t declared = dpx_be32(header + kDeclaredFileSize);
    if (length < plain_end && declared != kUndefined32 && declared > length) length = declared;
    h.row_stride =
        static_cast<std::size_t>(padded_end <= length || plain_end > length ? padded : plain);
    return plain > kUndefined32 - 3 || plain_end > kUndefined32 ? -1 : 0;
}

}  // namespace

int parse_dpx_header(const std::uint8_t* header, std::int64_t file_bytes, DpxHeader* out,
                     ReadFailure* why) {
    if (std::memcmp(header + kMagic, "SDPX", 4) != 0) return fail_with(why, kFailNotBigEndianDpx);
    // Sizes compare as signed numbers: a width with the top bit set reads as negative.
    const auto width = static_cast<std::int32_t>(dpx_be32(header + kWidth));
    const auto height = static_cast<std::int32_t>(dpx_be32(header + kHeight));
    if (width <= 0 || height <= 0 || width > kMaxFrameWidth || height > kMaxFrameHeight)
        return fail_with(why, kFailSizeOutOfRange);

    const std::uint8_t* element = header + kElements;
    // The file's image data offset, or the first element's own when the file's is
    // undefined and the element's is not (0 would be inside the header). Seek
    // positions are signed 32-bit numbers.
    std::uint32_t data_offset = dpx_be32(header + kDataOffset);
    const std::uint32_t element_offset = dpx_be32(element + kElementDataOffset);
    if (data_offset == kUndefined32 && element_offset != 0) data_offset = element_offset;
    if (data_offset >= 0x80000000u || file_bytes < 0 || data_offset > file_bytes)
        return fail_with(why, kFailDataOffset);

    DpxHeader h{};
    h.width = width;
    h.height = height;
    h.data_offset = data_offset;
    const std::uint8_t descriptor = element[kDescriptor];
    if (descriptor == kRgb || descriptor == kUserDefined || descriptor == kUndefined8) {
        h.components = 3;
        h.red = 0, h.green = 1, h.blue = 2;
    } else if (descriptor == kRgba) {
        h.components = 4;
        h.red = 0, h.green = 1, h.blue = 2;
    } else if (descriptor == kAbgr) {
        h.components = 4;
        h.red = 3, h.green = 2, h.blue = 1;
    } else {
        return fail_with(why, kFailDescriptor);
    }
    if (coding_of(element[kBitSize], dpx_be16(element + kPacking), &h.coding, why) != 0) return -1;
    const std::uint32_t encoding = dpx_be16(element + kEncoding);
    if (encoding != 0 && encoding != kUndefined16) return fail_with(why, kFailEncoded);
    const std::uint32_t sign = dpx_be32(element + kDataSign);
    if (sign != 0 && sign != kUndefined32) return fail_with(why, kFailSigned);

    // Further elements (a stereo pair, say) are shown as the first one only when
    // they share its layout.
    std::uint32_t elements = dpx_be16(header + kElementCount);
    if (elements == 0 || elements == kUndefined16) elements = 1;
    if (elements > kMaxElements) return fail_with(why, kFailElementCount);
    for (std::uint32_t e = 1; e < elements; ++e) {
        const std::uint8_t* other = element + e * kElementBytes;
        if (std::memcmp(other + kDataSign, element + kDataSign, 4) != 0 ||
            other[kDescriptor] != descriptor || other[kBitSize] != element[kBitSize] ||
            std::memcmp(other + kPacking, element + kPacking, 4) != 0)
            return fail_with(why, kFailMixedElements);
    }

    const std::uint64_t samples = static_cast<std::uint64_t>(width) * h.components;
    h.row_bytes = row_bytes_of(h.coding, samples);
    if (choose_row_stride(header, element, file_bytes, h) != 0) return fail_with(why, kFailRowSize);

    *out = h;
    return 0;
}

namespace {

// Text field `bytes` long at `at`: up to its terminator or its end, and only what
// the file holds.
void copy_text(const std::uint8_t* header, std::int64_t held, std::size_t at, std::size_t bytes,
               char* out) {
    std::size_t n = 0;
    while (n < bytes && static_cast<std::int64_t>(at + n) < held && header[at + n] != 0) {
        out[n] = static_cast<char>(header[at + n]);
        ++n;
    }
    out[n] = '\0';
}

// Offsets of the descriptive fields (file information, image element 0, the
// orientation, film and television headers).
constexpr std::size_t kVersion = 8;
constexpr std::size_t kFileName = 36;
constexpr std::size_t kCreationTime = 136;
constexpr std::size_t kCreator = 160;
constexpr std::size_t kProject = 260;
constexpr std::size_t kCopyright = 460;
constexpr std::size_t kOrientation = 768;
constexpr std::size_t kTransfer = 21;
constexpr std::size_t kColorimetric = 22;
constexpr std::size_t kInputDevice = 1556;
constexpr std::size_t kFilmFrameRate = 1724;
constexpr std::size_t kTimecode = 1920;
constexpr std::size_t kUserBits = 1924;
constexpr std::size_t kTvFrameRate = 1940;

}  // namespace

void parse_dpx_fields(const std::uint8_t* header, std::int64_t held, HeaderFields& out) {
    const std::uint8_t* element = header + kElements;
    out.present = true;
    out.descriptor = element[kDescriptor];
    out.transfer = element[kTransfer];
    out.colorimetric = element[kColorimetric];
    out.bit_size = element[kBitSize];
    out.packing = dpx_be16(element + kPacking);
    out.encoding = dpx_be16(element + kEncoding);
    out.end_of_line_padding = dpx_be32(element + kEndOfLinePadding);
    out.orientation = dpx_be16(header + kOrientation);
    out.element_count = dpx_be16(header + kElementCount);
    out.declared_file_size = dpx_be32(header + kDeclaredFileSize);
    out.data_offset = dpx_be32(header + kDataOffset);
    out.film_rate_bits = dpx_be32(header + kFilmFrameRate);
    out.tv_rate_bits = dpx_be32(header + kTvFrameRate);
    out.timecode = dpx_be32(header + kTimecode);
    out.user_bits = dpx_be32(header + kUserBits);
    copy_text(header, held, kVersion, 8, out.version);
    copy_text(header, held, kFileName, 100, out.file_name);
    copy_text(header, held, kCreationTime, 24, out.creation_time);
    copy_text(header, held, kCreator, 100, out.creator);
    copy_text(header, held, kProject, 200, out.project);
    copy_text(header, held, kCopyright, 200, out.copyright);
    copy_text(header, held, kInputDevice, 32, out.input_device);
}

int read_dpx_header(FileHandle file, DpxHeader* out, ReadFailure* why) {
    // Magic, offsets, sizes and the image elements in one read. A file too short
    // to hold the size fields is not a frame this reader can size; the element
    // fields a shorter file lacks count as undefined.
    std::uint8_t header[kDpxHeaderBytes];
    const std::int64_t held = file_read_at(file, header, sizeof header, 0);
    if (held < 4 || std::memcmp(header, "SDPX", 4) != 0)
        return fail_with(why, kFailNotBigEndianDpx);
    if (held < static_cast<std::int64_t>(kDpxSizeFieldsEnd)) return fail_with(why, kFailHeaderCut);
    std::memset(header + held, 0xFF, sizeof header - static_cast<std::size_t>(held));
    return parse_dpx_header(header, file_size(file), out, why);
}

std::uint32_t dpx_sample_of(DpxCoding coding, const std::uint8_t* row, std::size_t index) {
    switch (coding) {
        case kDpx16:
            return dpx_sample<kDpx16>(row, index);
        case kDpx12FilledA:
            return dpx_sample<kDpx12FilledA>(row, index);
        case kDpx12FilledB:
            return dpx_sample<kDpx12FilledB>(row, index);
        case kDpx12Packed:
            return dpx_sample<kDpx12Packed>(row, index);
        case kDpx10FilledA:
            return dpx_sample<kDpx10FilledA>(row, index);
        case kDpx10FilledB:
            return dpx_sample<kDpx10FilledB>(row, index);
        case kDpx10Packed:
            return dpx_sample<kDpx10Packed>(row, index);
        case kDpx8:
            return dpx_sample<kDpx8>(row, index);
    }
    return 0;
}

std::size_t dpx_samples_held(DpxCoding coding, std::size_t bytes) {
    switch (coding) {
        case kDpx8:
            return bytes;
        case kDpx10FilledA:
        case kDpx10FilledB:
            return bytes / 4 * 3;
        case kDpx10Packed:
        case kDpx12Packed:
            return bytes / 4 * 32 / static_cast<std::size_t>(dpx_coding_bits(coding));
        default:
            return bytes / 2;
    }
}
