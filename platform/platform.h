// The thin operating-system layer the core reads files and folders through.
// One POSIX and one Win32 implementation stand behind this header; nothing here
// exposes a type of either system.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
/// Longest path the viewer holds, NUL included (the Windows ANSI path limit).
constexpr int kPathMax = 260;
/// The character that separates folders in a path.
constexpr char kPathSeparator = '\\';
/// Whether a file name may hold '"'. Windows names cannot, so there a trailing
/// one can only be the closing quote of a quoted command line.
constexpr bool kNamesCanHoldQuotes = false;
#else
/// Longest path the viewer holds, NUL included (PATH_MAX on Linux).
constexpr int kPathMax = 4096;
/// The character that separates folders in a path.
constexpr char kPathSeparator = '/';
/// Whether a file name may hold '"' (any byte but '/' and NUL may be in a name).
constexpr bool kNamesCanHoldQuotes = true;
#endif

/// An open file; kNoFile when none.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

/// Why file_open_read refused a path.
enum FileOpenFailure {
    kOpenNoSuchFile,
    /// A folder, FIFO, socket, device or anything else that is not a file on disk.
    kOpenNotRegularFile,
    kOpenDenied,
    kOpenFailed,
};

/// Opens a regular file for reading, shared for reading, with a sequential-access
/// hint. Anything that is not a regular file (a folder, FIFO, socket or device) is
/// refused without blocking. Returns kNoFile on failure, and then says why in
/// *why when `why` is given.
FileHandle file_open_read(const char* path, FileOpenFailure* why = nullptr);

/// Reads up to `count` bytes at absolute `offset`, retrying short reads. Safe to
/// call from two threads on one file. Returns the bytes read or -1.
std::int64_t file_read_at(FileHandle file, void* buffer, std::size_t count, std::int64_t offset);

/// Size of the open file in bytes, or -1.
std::int64_t file_size(FileHandle file);

/// Closes a file opened by file_open_read; kNoFile is ignored.
void file_close(FileHandle file);

/// Asks the system to start reading `length` bytes at `offset` of an open file
/// into its cache, without waiting (a hint; failures are ignored).
void file_prefetch_open(FileHandle file, std::int64_t offset, std::int64_t length);

/// Whether file_prefetch_open hints anything. Where it does not (Windows, whose
/// sequential-scan flag at open is all the read-ahead there is), opening the next
/// frame's files only to hint them would cost opens for nothing.
#if defined(_WIN32)
constexpr bool kFilePrefetchHints = false;
#else
constexpr bool kFilePrefetchHints = true;
#endif

/// Asks the system to drop the cached pages of the file at `path` (used by the
/// cold-cache benchmarks). Returns 0 when the request was accepted, -1 otherwise.
int file_evict_cache(const char* path);

/// Called once per directory entry that matches a pattern, with the entry's name
/// (no folder part). Returning non-zero stops the listing.
using ListCallback = int (*)(void* context, const char* name);

/// Lists the entries (files and folders alike, hidden ones included, "." and ".."
/// never) of the folder named by `pattern` whose names match its last component.
/// `wildcards`, when not null, holds one byte per byte of `pattern`: non-zero
/// where that position stands for exactly one character, zero where it stands
/// only for itself, a '?' included (POSIX names may hold '?'). When null, every
/// '?' is a wildcard. Windows names cannot hold '?', so there every '?' is one
/// whatever `wildcards` says. On POSIX names compare case-sensitively; on Windows
/// as the system does. Returns -1 when the folder cannot be listed or nothing
/// matches, else 0.
int list_matching(const char* pattern, const char* wildcards, ListCallback callback, void* context);

/// Index of the character before the one at `pos` in `text` (multibyte aware in
/// double-byte ANSI code pages, where a trail byte may look like '\\' or a digit);
/// -1 when `pos` is 0.
int path_char_prev(const char* text, int pos);

/// True when the character starting at text[pos] is a single-byte decimal digit.
/// Bytes above 0x7F are never digits.
bool path_char_is_digit(const char* text, int pos);

/// Length in bytes of the character starting at text[pos] (1 or 2).
int path_char_length(const char* text, int pos);

/// Allocates `size` zero-filled bytes from the process heap; nullptr on failure.
void* heap_alloc_zeroed(std::size_t size);

/// heap_alloc_zeroed for blocks of many megabytes written soon after (decoded
/// frames): where the system has large pages, it is asked to back the block
/// with them, which makes the first writes to fresh memory several times
/// cheaper. Released with heap_free.
void* heap_alloc_large(std::size_t size);

/// Releases a block from heap_alloc_zeroed; nullptr is ignored.
void heap_free(void* block);

/// A thread of this process, as thread_self gives it.
using ThreadRef = std::uintptr_t;

/// The calling thread.
ThreadRef thread_self();

/// The processor the calling thread runs on now, or -1 where the system does not say.
int current_processor();

/// Lowers the calling thread's priority below the process's other threads, so
/// that work it does on the side (the scopes) gives way to the window and the
/// frame readers whenever they want the processors. A hint; failures are ignored.
void thread_give_way();

/// Lets `thread` run on every processor the calling thread may use except
/// `processor` (a placement hint: when that would leave none, nothing changes).
/// Where the system places threads itself, does nothing.
void thread_avoid_processor(ThreadRef thread, int processor);

/// Microseconds of a clock that never goes back (not the time of day).
std::int64_t monotonic_us();

/// What tells one version of a file from the next without reading it: its size
/// and its modification time. A decoded frame is kept only while its files'
/// stamps stay the same.
struct FileStamp {
    std::int64_t size = -1;
    std::int64_t modified = 0;
};

/// The stamp of the file at `path`. Returns 0, or -1 when it cannot be looked at.
int file_stamp(const char* path, FileStamp* out);

/// Bytes of memory the system could give this process now without swapping
/// (physical memory available), or 0 when it does not say.
std::uint64_t available_memory_bytes();

/// Processors this process may run on (at least 1).
int processor_count();
