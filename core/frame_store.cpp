// The display frame store: header arithmetic and the two heap blocks.
#include "core/frame_store.h"

#include <cstring>

#include "platform/platform.h"

namespace {

// Leaves a 0x0 display with no pixel buffer: the readers refuse to write into it
// and the window draws nothing, so a failed allocation can never be written through.
void clear_display(FrameStore& store) {
    std::memset(&store.bitmap, 0, sizeof store.bitmap);
    store.bitmap.header.biSize = sizeof(BitmapInfoHeader);
    store.bitmap.header.biPlanes = 1;
    store.bitmap.header.biBitCount = 32;
    store.bitmap.header.biCompression = 0;
}

}  // namespace

int reallocate_display(FrameStore& store) {
    heap_free(store.pixels);
    store.pixels = nullptr;
    clear_display(store);

    // A shift outside 0..3 or a source size no reader accepts has no display;
    // refuse it rather than shift by an undefined amount or allocate without bound.
    if (store.shift < 0 || store.shift > 3 || store.source_width < 0 || store.source_height < 0 ||
        store.source_width > kMaxFrameWidth || store.source_height > kMaxFrameHeight)
        return -1;

    const std::int32_t width = store.source_width >> store.shift;
    const std::int32_t height = store.source_height >> store.shift;
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;

    if (!store.row_buffer) {
        store.row_buffer = static_cast<std::uint8_t*>(heap_alloc_zeroed(kRowBufferBytes));
        if (!store.row_buffer) return -1;
    }
    if (!store.read_buffer) {
        // The larger read buffer only speeds up full-size reads; without it the
        // readers go row by row through the row buffer.
        store.read_buffer = static_cast<std::uint8_t*>(heap_alloc_zeroed(kReadBufferBytes));
    }

    // A frame smaller than the factor decimates to nothing; it still gets a
    // (tiny) block so that a null pixel buffer always means a failed allocation.
    store.pixels = static_cast<std::uint8_t*>(heap_alloc_zeroed(bytes ? bytes : 4));
    if (!store.pixels) return -1;

    store.bitmap.header.biWidth = width;
    store.bitmap.header.biHeight = height;
    return 0;
}

void release_display(FrameStore& store) {
    heap_free(store.pixels);
    heap_free(store.row_buffer);
    heap_free(store.read_buffer);
    store.pixels = nullptr;
    store.row_buffer = nullptr;
    store.read_buffer = nullptr;
    clear_display(store);
}
