// The part the viewer tests' fixtures share: a viewer with a small display, a
// fresh folder for its frames, and the window's way of opening a file.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/loading.h"
#include "support/test_files.h"

/// A viewer whose display starts at a 16x8 source shown at `shift`, so that the
/// frames can be small. The display and the frame list go with the test.
struct ViewerFixtureBase : ::testing::Test {
    TempDir dir;
    Viewer viewer;

    explicit ViewerFixtureBase(int shift);
    ~ViewerFixtureBase() override;

    /// Writes the DPX frame `name` of the given size in the folder; returns its
    /// samples.
    std::vector<std::uint16_t> dpx(const std::string& name, int width, int height, int seed);

    /// Opens `path` as the window's open path does: open, then the size check.
    void open_path(const std::string& path, bool* display_changed = nullptr);

    /// Bytes of the display buffer at its current size.
    std::size_t display_bytes() const;
    /// A copy of the display buffer.
    std::vector<std::uint8_t> picture() const;
    /// The path of the frame the name slot names now.
    std::string loaded_name() const;
};
