// Multibyte character helpers for the Win32 platform layer.
#include "platform/win32/mbcs.h"

#include <windows.h>

#include <cstring>

unsigned mb_ansi_code_page() {
    return GetACP();
}

bool mb_is_lead_byte(unsigned cp, unsigned char byte) {
    // Bytes below 0x80 are single-byte in every ANSI code page; skipping the call
    // keeps the common path cheap.
    return byte >= 0x80 && IsDBCSLeadByteEx(cp, byte) != 0;
}

int mb_char_length(unsigned cp, const char* text, int pos) {
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    if (mb_is_lead_byte(cp, c) && text[pos + 1] != '\0') return 2;
    return 1;
}

int mb_char_prev(unsigned cp, const char* text, int pos) {
    if (pos <= 0) return -1;
    // A byte's role (lead, trail or single) depends on everything before it, so
    // walk forwards from the start, as CharPrevExA does; paths are short.
    int i = 0;
    int prev = 0;
    while (i < pos) {
        prev = i;
        i += mb_char_length(cp, text, i);
    }
    return prev;
}

namespace {

// One character of a name, decoded to UTF-16 and upper-cased, for comparing
// without regard to case as the file system does.
int fold_char(unsigned cp, const char* text, int len) {
    WCHAR w[2] = {0, 0};
    if (MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text, len, w, 2) != 1) {
        // Not a valid character of the code page: compare its bytes as they are.
        return len == 2 ? 0x10000 | (static_cast<unsigned char>(text[0]) << 8) |
                              static_cast<unsigned char>(text[1])
                        : static_cast<unsigned char>(text[0]);
    }
    CharUpperBuffW(w, 1);
    return w[0];
}

}  // namespace

bool mb_name_matches(unsigned cp, const char* pattern, const char* name) {
    int p = 0;
    int n = 0;
    while (pattern[p] != '\0') {
        if (name[n] == '\0') return false;
        const int plen = mb_char_length(cp, pattern, p);
        const int nlen = mb_char_length(cp, name, n);
        if (!(plen == 1 && pattern[p] == '?') &&
            fold_char(cp, pattern + p, plen) != fold_char(cp, name + n, nlen))
            return false;
        p += plen;
        n += nlen;
    }
    return name[n] == '\0';
}
