// Win32 implementation of the platform layer (ANSI entry points throughout).
#include <windows.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/mbcs.h"

namespace {

HANDLE to_handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

// ReadFile takes a 32-bit count; larger requests go in pieces of this size.
constexpr DWORD kMaxChunk = 1u << 30;

}  // namespace

FileHandle file_open_read(const char* path, FileOpenFailure* why) {
    if (path == nullptr || path[0] == '\0') {
        if (why) *why = kOpenNoSuchFile;
        return kNoFile;
    }
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened at all; the
    // checks below also refuse devices (CON, NUL, COM1), pipes and anything else
    // that is not a file on a disk, so no read can block or run forever.
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        FileOpenFailure failure = kOpenFailed;
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_NAME)
            failure = kOpenNoSuchFile;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            // Opening a folder as a file is refused as access denied.
            const DWORD attributes = GetFileAttributesA(path);
            failure = (attributes != INVALID_FILE_ATTRIBUTES &&
                       (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                          ? kOpenNotRegularFile
                          : kOpenDenied;
        }
        if (why) *why = failure;
        return kNoFile;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(h);
        if (why) *why = kOpenNotRegularFile;
        return kNoFile;
    }
    return reinterpret_cast<FileHandle>(h);
}

std::int64_t file_read_at(FileHandle file, void* buffer, std::size_t count, std::int64_t offset) {
    if (offset < 0) return -1;
    HANDLE h = to_handle(file);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t left = count - done;
        const DWORD ask = left > kMaxChunk ? kMaxChunk : static_cast<DWORD>(left);
        const std::uint64_t at = static_cast<std::uint64_t>(offset) + done;
        // The offset travels with each read, so the two threads a frame is shared
        // between never depend on the handle's file position.
        OVERLAPPED ov{};
        ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        ov.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!ReadFile(h, out + done, ask, &got, &ov)) {
            // Reading at or past the end with an offset reports ERROR_HANDLE_EOF.
            if (GetLastError() != ERROR_HANDLE_EOF && done == 0) return -1;
            break;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t file_size(FileHandle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(to_handle(file), &size)) return -1;
    return size.QuadPart;
}

void file_close(FileHandle file) {
    if (file != kNoFile) CloseHandle(to_handle(file));
}

void file_prefetch_open(FileHandle, std::int64_t, std::int64_t) {
    // The sequential-scan hint given at open already makes the cache manager read
    // ahead; Win32 has no asynchronous hint for a range of an open file.
}

int file_evict_cache(const char*) {
    // Dropping one file from the system cache needs privileges a viewer does not
    // have; the cold-cache benchmarks run on Linux only.
    return -1;
}

int list_matching(const char* pattern, const char*, ListCallback callback, void* context) {
    // Names here cannot hold '?', so the pattern's own '?' are exactly the
    // wildcard positions: the map of them is not needed.
    if (pattern == nullptr) return -1;
    const unsigned cp = mb_ansi_code_page();
    // The name part starts after the last separator; stepping by characters keeps
    // a trail byte 0x5C of a double-byte character from being taken for '\'.
    int name_start = 0;
    for (int i = 0; pattern[i] != '\0'; i += mb_char_length(cp, pattern, i))
        if (pattern[i] == '\\' || pattern[i] == '/' || pattern[i] == ':') name_start = i + 1;
    const char* name_pattern = pattern + name_start;
    if (*name_pattern == '\0') return -1;

    WIN32_FIND_DATAA data;
    HANDLE find =
        FindFirstFileExA(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return -1;
    int matches = 0;
    do {
        const char* name = data.cFileName;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        // The system also matches the generated 8.3 short names and lets a '?'
        // before a dot match nothing, so "f_????.dpx" would bring in "f_1.dpx" or
        // "F_LONG~1.DPX"; only names that match character for character count.
        if (!mb_name_matches(cp, name_pattern, name)) continue;
        ++matches;
        if (callback(context, name) != 0) break;
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return matches ? 0 : -1;
}

int path_char_prev(const char* text, int pos) {
    return mb_char_prev(mb_ansi_code_page(), text, pos);
}

bool path_char_is_digit(const char* text, int pos) {
    // Only single-byte ASCII digits count; a caller stepping with path_char_prev
    // never lands on a trail byte, and bytes above 0x7F are never digits.
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    return c >= '0' && c <= '9';
}

int path_char_length(const char* text, int pos) {
    return mb_char_length(mb_ansi_code_page(), text, pos);
}

void* heap_alloc_zeroed(std::size_t size) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
}

void* heap_alloc_large(std::size_t size) {
    // Large pages need a privilege a viewer does not have: plain heap memory.
    return heap_alloc_zeroed(size);
}

void heap_free(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

ThreadRef thread_self() {
    return static_cast<ThreadRef>(GetCurrentThreadId());
}

int current_processor() {
    return -1;
}

void thread_avoid_processor(ThreadRef, int) {
    // Left to the system's own placement.
}

void thread_give_way() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

std::int64_t monotonic_us() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    // Split so that a counter of many days at a high frequency cannot overflow.
    const std::int64_t whole = count.QuadPart / frequency.QuadPart;
    const std::int64_t part = count.QuadPart % frequency.QuadPart;
    return whole * 1000000 + part * 1000000 / frequency.QuadPart;
}

int file_stamp(const char* path, FileStamp* out) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!path || !out || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    out->size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    out->modified = (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                    data.ftLastWriteTime.dwLowDateTime;
    return 0;
}

std::uint64_t available_memory_bytes() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    // A 32-bit process cannot hold more than its own address space, whatever
    // the machine has.
    std::uint64_t available = status.ullAvailPhys;
    if (status.ullAvailVirtual < available) available = status.ullAvailVirtual;
    return available;
}

int processor_count() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}
