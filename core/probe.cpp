// The pixel probe: the decode's row plan maps display to source, and the
// frame's format gives the stored values.
#include "core/probe.h"

#include "core/formats/row_sharing.h"
#include "core/readers.h"

int display_to_source(const FrameStore& store, std::int32_t display_x, std::int32_t display_y,
                      std::int32_t* source_x, std::int32_t* source_y) {
    FramePlan plan;
    if (plan_frame(store.source_width, store.source_height, store.shift, display_target(store),
                   plan) != 0)
        return -1;
    // The pixel buffer is bottom-up: display row 0 is the bottom line.
    const std::int32_t row = display_height(store) - 1 - display_y;
    if (display_x < 0 || display_x >= plan.cols_out || row < 0 || row >= plan.rows_out) return -1;
    *source_x = source_column(plan, display_x);
    *source_y = source_row_from_top(plan, row);
    return 0;
}

int read_source_values(const char* path, std::int32_t source_format, const FrameStore& store,
                       std::int32_t x, std::int32_t y, SourceValues* out) {
    if (!path || !out || x < 0 || y < 0 || x >= store.source_width || y >= store.source_height)
        return -1;
    // A frame that no longer has the size it was shown at has no such pixel.
    OpenFrame frame;
    if (open_frame(source_format, path, store.source_width, store.source_height, frame) != 0 ||
        frame.info.width != store.source_width || frame.info.height != store.source_height)
        return -1;
    return read_source_pixel(frame, x, y, out);
}
