#include "support/viewer_fixture.h"

#include <cstring>

ViewerFixtureBase::ViewerFixtureBase(int shift) {
    viewer.store.source_width = 16;
    viewer.store.source_height = 8;
    viewer.store.shift = shift;
    EXPECT_EQ(reallocate_display(viewer.store), 0);
}

ViewerFixtureBase::~ViewerFixtureBase() {
    release_display(viewer.store);
    release_sequence(viewer.seq);
}

std::vector<std::uint16_t> ViewerFixtureBase::dpx(const std::string& name, int width, int height,
                                                  int seed) {
    std::vector<std::uint16_t> rgb = test_pattern(width, height, seed);
    EXPECT_EQ(write_dpx_file(dir.file(name), width, height, rgb.data()), 0);
    return rgb;
}

void ViewerFixtureBase::open_path(const std::string& path, bool* display_changed) {
    ASSERT_LT(path.size(), sizeof viewer.seq.current_path);
    std::memcpy(viewer.seq.current_path, path.c_str(), path.size() + 1);
    open_sequence(viewer);
    bool changed = false;
    complete_size_change(viewer, &changed);
    if (display_changed) *display_changed = changed;
}

std::size_t ViewerFixtureBase::display_bytes() const {
    return static_cast<std::size_t>(display_width(viewer.store)) * display_height(viewer.store) * 4;
}

std::vector<std::uint8_t> ViewerFixtureBase::picture() const {
    return std::vector<std::uint8_t>(viewer.store.pixels, viewer.store.pixels + display_bytes());
}

std::string ViewerFixtureBase::loaded_name() const {
    return viewer.seq.current_path + viewer.seq.name_slot;
}
