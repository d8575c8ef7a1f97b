// The window's readers: the size-change protocol over the format seam.
#include "core/readers.h"

#include <cstring>

#include "core/formats/dpx.h"

PixelTarget display_target(const FrameStore& store) {
    PixelTarget target;
    target.pixels = store.pixels;
    target.width = display_width(store) > 0 ? display_width(store) : 0;
    target.height = display_height(store) > 0 ? display_height(store) : 0;
    target.stride = static_cast<std::size_t>(target.width) * 4;
    return target;
}

int read_frame_into_store(const FrameFormat& format, char* path, FrameStore& store,
                          const ConversionTables& tables, ReadFailure* why) {
    // Everything that makes a frame unreadable from its header is refused before
    // the size is recorded, so a refused frame never changes the store.
    FrameFiles files;
    FrameInfo info;
    store.timecode = 0xFFFFFFFFu;
    if (format.read_info(path, store.source_width, store.source_height, files, info, why) != 0)
        return -1;
    if (info.header.present) store.timecode = info.header.timecode;
    if (info.width != store.source_width || info.height != store.source_height) {
        store.source_width = info.width;
        store.source_height = info.height;
        store.size_recorded = 1;
        return 0;
    }
    if (format.open_data(path, files, info, why) != 0) return -1;
    DecodeSettings settings;
    settings.shift = store.shift;
    settings.tables = store.convert ? &tables : nullptr;
    // The window waits for this frame: it may share the rows with the helper.
    settings.share_rows = true;
    settings.marks = store.marks;
    DecodeScratch scratch;
    scratch.row = store.row_buffer;
    scratch.read = store.read_buffer;
    if (format.decode(files, info, settings, display_target(store), scratch) != 0)
        return fail_with(why, kFailNoDisplay);
    store.size_recorded = 0;
    store.row_stride = info.row_stride;
    return 0;
}

int read_dpx_frame(const char* path, FrameStore& store, const ConversionTables& tables,
                   ReadFailure* why) {
    // A DPX frame is one file, whose name its reading leaves as it is.
    char copy[kPathMax];
    const std::size_t length = strnlen(path, kPathMax);
    if (length >= static_cast<std::size_t>(kPathMax)) return fail_with(why, kFailNameTooLong);
    std::memcpy(copy, path, length + 1);
    return read_frame_into_store(kDpxFormat, copy, store, tables, why);
}

int read_planar_frame(char* path, FrameStore& store, const ConversionTables& tables,
                      ReadFailure* why) {
    return read_frame_into_store(kPlanarFormat, path, store, tables, why);
}
