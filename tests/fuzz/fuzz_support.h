// Shared pieces of the fuzz targets: a check that aborts (so libFuzzer and the
// corpus replay both see a failure), a scratch folder made once per process, and
// guarded buffers that catch a write outside the display, row or read buffer even
// in a build without AddressSanitizer.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "color/bt2020.h"
#include "core/helper_thread.h"
#include "core/frame_store.h"
#include "platform/platform.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

/// A folder of this process's own under the temporary folder, made on first use
/// and removed with its contents at exit. Every input reuses the same file names
/// in it, so a long run does not fill the disk.
inline const std::string& scratch_folder() {
    // Never destroyed: the exit handler that removes the folder runs after the
    // static destructors.
    static const std::string* folder = [] {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "karvelin-fuzz-XXXXXX").string();
        const char* made = mkdtemp(tmpl.data());
        FUZZ_CHECK(made != nullptr);
        auto* kept = new std::string(made);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch_folder(), ec);
        });
        return kept;
    }();
    return *folder;
}

inline std::string scratch_file(const std::string& name) {
    return scratch_folder() + "/" + name;
}

/// Replaces the file at `path` with `size` bytes. Aborts when it cannot: a fuzz
/// run that silently reads a stale file would test nothing.
inline void write_bytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
}

inline const ConversionTables& tables() {
    static const ConversionTables* built = [] {
        auto* t = new ConversionTables{};
        build_conversion_tables(*t);
        return t;
    }();
    return *built;
}

constexpr std::size_t kGuardBytes = 64;
constexpr std::uint8_t kGuardByte = 0xCB;

/// A block with kGuardBytes of a known byte on either side.
struct Guarded {
    std::uint8_t* base = nullptr;
    std::size_t size = 0;
    std::uint8_t* data() const { return base ? base + kGuardBytes : nullptr; }
};

inline Guarded guarded_alloc(std::size_t size) {
    Guarded g;
    g.size = size;
    g.base = static_cast<std::uint8_t*>(std::malloc(size + 2 * kGuardBytes));
    FUZZ_CHECK(g.base != nullptr);
    std::memset(g.base, kGuardByte, kGuardBytes);
    std::memset(g.base + kGuardBytes, 0, size);
    std::memset(g.base + kGuardBytes + size, kGuardByte, kGuardBytes);
    return g;
}

inline bool guards_intact(const Guarded& g) {
    if (!g.base) return true;
    for (std::size_t i = 0; i < kGuardBytes; ++i)
        if (g.base[i] != kGuardByte || g.base[kGuardBytes + g.size + i] != kGuardByte) return false;
    return true;
}

inline void guarded_free(Guarded& g) {
    std::free(g.base);
    g = Guarded{};
}

/// A frame store whose three buffers are guarded blocks. The display is sized by
/// the real reallocate_display first (so its header is what the viewer would
/// have), then its block is swapped for a guarded one of the same size. The row
/// and read buffers are made once per process, as the viewer makes them once.
struct GuardedStore {
    FrameStore store;
    Guarded pixels;

    static Guarded& row() {
        static Guarded g = guarded_alloc(kRowBufferBytes);
        return g;
    }
    static Guarded& read() {
        // The viewer starts the helper thread with its read buffer; large frames
        // are then split between the two threads, each with half of the buffer.
        static Guarded g = (start_frame_helper(), guarded_alloc(kReadBufferBytes));
        return g;
    }

    /// Allocates the display for `width` x `height` at `shift`; `read_buffer`
    /// false leaves the store without the large read buffer (row-by-row reads).
    void setup(std::int32_t width, std::int32_t height, std::int32_t shift, bool read_buffer) {
        teardown();
        store = FrameStore{};
        store.source_width = width;
        store.source_height = height;
        store.shift = shift;
        store.row_buffer = row().data();
        store.read_buffer = read().data();
        FUZZ_CHECK(reallocate_display(store) == 0);
        FUZZ_CHECK(store.row_buffer == row().data() && store.read_buffer == read().data());
        FUZZ_CHECK(display_width(store) == (width >> shift));
        FUZZ_CHECK(display_height(store) == (height >> shift));
        const std::size_t bytes =
            static_cast<std::size_t>(display_width(store)) * display_height(store) * 4;
        heap_free(store.pixels);
        pixels = guarded_alloc(bytes);
        store.pixels = pixels.data();
        if (!read_buffer) store.read_buffer = nullptr;
    }

    std::size_t display_bytes() const { return pixels.size; }

    bool intact() const {
        return guards_intact(pixels) && guards_intact(row()) && guards_intact(read());
    }

    void teardown() {
        guarded_free(pixels);
        store.pixels = store.row_buffer = store.read_buffer = nullptr;
    }

    ~GuardedStore() { teardown(); }
};

/// Fills the display with bytes that depend on their position, so that a pixel
/// written where it should not be, or byte 3 of any pixel written at all, shows.
inline void fill_display(std::uint8_t* pixels, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) pixels[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 7));
}

inline std::uint8_t fill_byte(std::size_t i) {
    return static_cast<std::uint8_t>(0xA5 ^ (i * 7));
}

/// Checks every display pixel against plain decimation of a `width` x `height`
/// source: display row d shows the source row d*f from the bottom, column c the
/// source column c*f, and `source(row_from_top, column, bgr)` gives that sample's
/// blue, green and red as the file holds them. Pixels the source does not reach
/// keep what fill_display put there, and byte 3 of every pixel is never written.
/// With the store's convert flag the expected row goes through the conversion,
/// one row per call as the readers do it.
template <class Source>
void verify_display(const FrameStore& store, std::int32_t width, std::int32_t height,
                    Source&& source) {
    const std::int32_t f = 1 << store.shift;
    const std::int32_t dw = display_width(store), dh = display_height(store);
    const std::int32_t cols_out = std::min((width - 1) / f + 1, dw);
    const std::int32_t rows_out = std::min((height - 1) / f + 1, dh);
    std::vector<std::uint8_t> want(static_cast<std::size_t>(cols_out > 0 ? cols_out : 0) * 4);
    for (std::int32_t d = 0; d < dh; ++d) {
        const std::uint8_t* row = store.pixels + static_cast<std::size_t>(d) * dw * 4;
        const std::int32_t written = d < rows_out ? cols_out : 0;
        if (written > 0) {
            for (std::int32_t c = 0; c < written; ++c)
                source(height - 1 - d * f, c * f, &want[static_cast<std::size_t>(c) * 4]);
            if (store.convert) convert_row_bgrx(tables(), want.data(), written);
        }
        for (std::int32_t c = 0; c < dw; ++c) {
            const std::size_t at = (static_cast<std::size_t>(d) * dw + c) * 4;
            const std::uint8_t* px = row + static_cast<std::size_t>(c) * 4;
            if (c < written) {
                const std::uint8_t* w = &want[static_cast<std::size_t>(c) * 4];
                FUZZ_CHECK(px[0] == w[0] && px[1] == w[1] && px[2] == w[2]);
            } else {
                for (int k = 0; k < 3; ++k) FUZZ_CHECK(px[k] == fill_byte(at + k));
            }
            FUZZ_CHECK(px[3] == fill_byte(at + 3));
        }
    }
}

}  // namespace fuzz
