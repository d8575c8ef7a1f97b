// POSIX implementation of the platform layer.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

FileHandle file_open_read(const char* path, FileOpenFailure* why) {
    FileOpenFailure failure = kOpenFailed;
    // O_NONBLOCK so that a FIFO named like a frame cannot hang the open; the type
    // check below then refuses it along with folders, sockets and devices.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) failure = kOpenNoSuchFile;
        if (errno == EACCES || errno == EPERM) failure = kOpenDenied;
        // A folder may refuse O_RDONLY opens on some systems; it is still a folder.
        if (errno == EISDIR) failure = kOpenNotRegularFile;
        if (why) *why = failure;
        return kNoFile;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (why) *why = kOpenNotRegularFile;
        return kNoFile;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

std::int64_t file_read_at(FileHandle file, void* buffer, std::size_t count, std::int64_t offset) {
    if (offset < 0) return -1;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(static_cast<int>(file), out + done, count - done,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return done ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t file_size(FileHandle file) {
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

void file_close(FileHandle file) {
    if (file != kNoFile) ::close(static_cast<int>(file));
}

void file_prefetch_open(FileHandle file, std::int64_t offset, std::int64_t length) {
    if (file == kNoFile || offset < 0 || length <= 0) return;
    ::posix_fadvise(static_cast<int>(file), static_cast<off_t>(offset), static_cast<off_t>(length),
                    POSIX_FADV_WILLNEED);
}

int file_evict_cache(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    ::fdatasync(fd);
    const int r = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    return r == 0 ? 0 : -1;
}

namespace {

// A wildcard position matches exactly one byte of the name; UTF-8 names are
// matched byte-wise, which is how the frame digits (always ASCII) are told apart.
bool name_matches(const char* pattern, const char* wildcards, const char* name) {
    for (std::size_t i = 0; pattern[i] != '\0'; ++i) {
        if (name[i] == '\0') return false;
        const bool any = wildcards ? wildcards[i] != 0 : pattern[i] == '?';
        if (!any && pattern[i] != name[i]) return false;
    }
    return name[std::strlen(pattern)] == '\0';
}

}  // namespace

int list_matching(const char* pattern, const char* wildcards, ListCallback callback,
                  void* context) {
    const char* slash = std::strrchr(pattern, '/');
    const char* name_pattern = slash ? slash + 1 : pattern;
    const char* name_wildcards = wildcards ? wildcards + (name_pattern - pattern) : nullptr;
    char folder[kPathMax];
    if (slash) {
        const std::size_t len = static_cast<std::size_t>(slash - pattern);
        if (len + 1 >= sizeof folder) return -1;
        std::memcpy(folder, pattern, len);
        folder[len] = '\0';
        if (len == 0) std::strcpy(folder, "/");
    } else {
        std::strcpy(folder, ".");
    }
    if (*name_pattern == '\0') return -1;
    DIR* dir = ::opendir(folder);
    if (!dir) return -1;
    int matches = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (!name_matches(name_pattern, name_wildcards, name)) continue;
        ++matches;
        if (callback(context, name) != 0) break;
    }
    ::closedir(dir);
    return matches ? 0 : -1;
}

int path_char_prev(const char*, int pos) {
    return pos > 0 ? pos - 1 : -1;
}

bool path_char_is_digit(const char* text, int pos) {
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    return c >= '0' && c <= '9';
}

int path_char_length(const char*, int) {
    return 1;
}

void* heap_alloc_zeroed(std::size_t size) {
    return std::calloc(size ? size : 1, 1);
}

void* heap_alloc_large(std::size_t size) {
    void* block = std::calloc(size ? size : 1, 1);
    // A block this large is a mapping of its own, still untouched: the whole
    // 2 MB pages inside it can be backed by large pages before the first write.
    constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kLarge - 1) & ~(kLarge - 1);
    const std::uintptr_t end = (start + size) & ~(kLarge - 1);
#if defined(MADV_HUGEPAGE)
    if (block && end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
    return block;
}

void heap_free(void* block) {
    std::free(block);
}

ThreadRef thread_self() {
    return static_cast<ThreadRef>(::pthread_self());
}

#if defined(__linux__)
int current_processor() {
    return ::sched_getcpu();
}

void thread_give_way() {
    // Linux keeps a nice value per thread: raising it is always allowed.
    const int tid = static_cast<int>(::syscall(SYS_gettid));
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), now + 10 > 19 ? 19 : now + 10);
}

void thread_avoid_processor(ThreadRef thread, int processor) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (processor < 0 || processor >= CPU_SETSIZE ||
        ::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return;
    CPU_CLR(processor, &allowed);
    if (CPU_COUNT(&allowed) == 0) return;
    ::pthread_setaffinity_np(static_cast<pthread_t>(thread), sizeof allowed, &allowed);
}
#else
int current_processor() {
    return -1;
}

void thread_avoid_processor(ThreadRef, int) {}

void thread_give_way() {}
#endif

std::int64_t monotonic_us() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int file_stamp(const char* path, FileStamp* out) {
    struct stat st;
    if (!path || !out || ::stat(path, &st) != 0) return -1;
    out->size = static_cast<std::int64_t>(st.st_size);
    out->modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return 0;
}

std::uint64_t available_memory_bytes() {
    // MemAvailable counts the page cache the kernel would give back, which is
    // what a cache of decoded frames competes with.
    std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
    if (meminfo) {
        char line[256];
        unsigned long long kb = 0;
        bool found = false;
        while (std::fgets(line, sizeof line, meminfo))
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                found = true;
                break;
            }
        std::fclose(meminfo);
        if (found) return static_cast<std::uint64_t>(kb) * 1024;
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
}

int processor_count() {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}
