#include "ui/status_info.h"

#include <cstring>

#include "ui/compare_logic.h"
#include "ui/playback_logic.h"
#include "ui/signal_logic.h"

namespace {

/// One segment of the fourth part; writes an empty text when it has nothing to say.
using Segment = void (*)(const Window& win, char* out, int capacity);

/// In the order they are shown: playback (rate and drops), the signal (timecode,
/// warnings), comparison.
const Segment kSegments[] = {playback_segment, signal_segment, compare_status_segment};

}  // namespace

void status_info_text(const Window& win, char* out, int capacity) {
    if (!out || capacity <= 0) return;
    out[0] = '\0';
    std::size_t used = 0;
    char segment[512];
    for (Segment write : kSegments) {
        write(win, segment, sizeof segment);
        const std::size_t length = std::strlen(segment);
        if (length == 0) continue;
        const char* gap = used > 0 ? "  " : "";
        const std::size_t need = std::strlen(gap) + length;
        if (used + need + 1 > static_cast<std::size_t>(capacity)) break;
        std::memcpy(out + used, gap, std::strlen(gap));
        std::memcpy(out + used + std::strlen(gap), segment, length + 1);
        used += need;
    }
}
