#include "ui/usage.h"

#include <cstring>
#include <string>

#ifndef KARVELIN_VERSION
#error "KARVELIN_VERSION comes from the build (the project version)"
#endif

// Lines are kept under 80 columns for a terminal; the keys and mouse lines
// appear word for word in the README and the manual page.
const char kUsageText[] =
    "usage: karvelin [--rate FPS] [--cache MB] [--compare B_FRAME] [FRAME]\n"
    "       karvelin --info FRAME\n"
    "       karvelin --help | --version\n"
    "\n"
    "Shows FRAME and plays the test sequence it belongs to: every file in its\n"
    "folder whose name differs only in the digits before a dot (Cafe_00042.dpx\n"
    "belongs with Cafe_00000.dpx ... Cafe_00599.dpx). Everything after the\n"
    "program name is one path, spaces included (./--help names a file). Without\n"
    "FRAME the window opens empty: open a frame with File > Open... or drop one\n"
    "on the window. A graphical display is needed.\n"
    "\n"
    "Options (before FRAME):\n"
    "  --rate FPS          play at FPS frames per second, 1 to 240, whatever\n"
    "                      the files say\n"
    "  --cache MB          memory for decoded frames (0: none; default: half of\n"
    "                      the memory available at start)\n"
    "  --compare B_FRAME   compare the sequence with the one of B_FRAME (as\n"
    "                      File > Compare With... does)\n"
    "  --info FRAME        print what FRAME's header says, one \"field: value\"\n"
    "                      line each, without a window; exit 1 with the reason\n"
    "                      when FRAME cannot be read\n"
    "\n"
    "The step is the number of frames played per tick, -10 to +10. A tick is\n"
    "one frame time at the rate in force: --rate, else the Playback menu's\n"
    "choice, else the DPX header's frame rate, else 16 ms. Real Time (the\n"
    "default) skips late frames and counts them as dropped; Every Frame shows\n"
    "each one. The comparison's keys (A to 0 below) leave playback running.\n"
    "\n"
    "Comparing: File > Compare With... (or Ctrl+drop, or --compare) opens a\n"
    "second sequence, B, of the same size; B's frame n + offset is shown with\n"
    "A's frame n, and the status bar's second row gives their metrics on the\n"
    "stored samples (PSNR, MSE, largest difference, differing samples, first\n"
    "differing pixel, or \"identical\"). karvelin-compare(1) does the same for\n"
    "every pair on the command line.\n"
    "\n"
    "Keys:\n"
    "  Right arrow         step +1 (faster forwards / slower backwards)\n"
    "  Left arrow          step -1 (faster backwards / slower forwards)\n"
    "  any other key       pause\n"
    "  Q                   quit\n"
    "  Page Down or .      next frame\n"
    "  Page Up or ,        previous frame\n"
    "  Home                first frame\n"
    "  End                 last frame\n"
    "  Ctrl+G              go to frame (File > Go to Frame...)\n"
    "  Ctrl+I              what the frame's header says (File > Frame Info...)\n"
    "  A / B               show A / show B (while comparing; the Compare menu)\n"
    "  T                   toggle between A and B\n"
    "  W                   wipe: A left of the split, B right of it\n"
    "  S                   A and B side by side\n"
    "  D / Shift+D         difference |A-B| / A-B around mid-grey\n"
    "  G / Shift+G         difference gain x2 / /2 (1 to 256)\n"
    "  ] / [               B one frame later / earlier (the offset)\n"
    "  0                   no offset\n"
    "\n"
    "Mouse:\n"
    "  left-button drag, wheel, Shift+wheel\n"
    "                      pan a picture larger than the window\n"
    "  right button held   the source pixel under the cursor and its stored\n"
    "                      values in the status bar (A's, B's and A-B while\n"
    "                      comparing)\n"
    "  left-button drag in the wipe\n"
    "                      moves the split (the wheel still pans)\n"
    "  Ctrl+drop           compare with the dropped frame's sequence\n"
    "  click or drag on the timeline\n"
    "                      pause at the frame under the cursor\n"
    "\n"
    "Formats:\n"
    "  DPX         big-endian (SDPX) RGB or RGBA files of 8, 10, 12 or 16 bits\n"
    "              per sample, up to 7680x4320; the top 8 bits are shown\n"
    "  planar RGB  three headerless files per frame, NAME.4K.r, NAME.4K.g and\n"
    "              NAME.4K.b (4K: 3840x2160, 8K: 7680x4320), 12-bit samples in\n"
    "              big-endian 16-bit words, top row first\n"
    "\n"
    "Exit status: 0 after Q, File > Exit or closing the window; 1 when the\n"
    "window cannot be opened (no display, or not enough memory).\n";

const char kVersionText[] = "karvelin " KARVELIN_VERSION "\n";

const char* command_line_answer(const char* text) {
    if (text == nullptr) return nullptr;
    if (std::strcmp(text, "--help") == 0) return kUsageText;
    if (std::strcmp(text, "--version") == 0) return kVersionText;
    return nullptr;
}

namespace {

enum class LastLine { kNone, kProse, kEntry };

}  // namespace

int message_box_text(const char* text, char* out, int capacity) {
    if (capacity <= 0) return -1;
    std::string box;
    LastLine last = LastLine::kNone;
    bool described = false;  // the last entry has its description
    const char* line = text;
    while (*line != '\0') {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) end = line + std::strlen(line);
        std::size_t indent = 0;
        while (line + indent < end && line[indent] == ' ') ++indent;
        const std::string body(line + indent, end);
        if (body.empty()) {
            box += '\n';
            last = LastLine::kNone;
        } else if (indent >= 4 && last == LastLine::kEntry) {
            // The rest of an entry's description, or the description that
            // follows a name too long for the name column.
            box += described ? " " : ": ";
            box += body;
            described = true;
        } else if (indent >= 2 && indent < 4) {
            // "  name   description": the columns become "name: description".
            const std::size_t gap = body.find("  ");
            if (!box.empty()) box += '\n';
            box += body.substr(0, gap);
            described = gap != std::string::npos;
            if (described) box += ": " + body.substr(body.find_first_not_of(' ', gap));
            last = LastLine::kEntry;
        } else if (indent == 0 && last == LastLine::kProse) {
            box += ' ' + body;
        } else {
            if (!box.empty()) box += '\n';
            box += body;
            last = LastLine::kProse;
        }
        line = *end == '\n' ? end + 1 : end;
    }
    const std::size_t n = box.size() < static_cast<std::size_t>(capacity)
                              ? box.size()
                              : static_cast<std::size_t>(capacity) - 1;
    std::memcpy(out, box.data(), n);
    out[n] = '\0';
    return n == box.size() ? 0 : -1;
}
