// Decoded display frames kept in memory ahead of the playhead: background
// workers decode the frames playback will show next, at the display's size and
// conversion, into slots within a memory budget; the window takes a frame from
// its slot instead of reading it when the slot is ready and the frame's files
// are the ones it was decoded from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "color/bt2020.h"
#include "core/formats/format.h"
#include "core/frame_store.h"
#include "core/sequence.h"

/// Allocates `bytes` zero-filled bytes for a slot (null: none to be had); what
/// it gives is released with heap_free.
using CacheAlloc = void* (*)(void* context, std::size_t bytes);

struct FrameCache;

/// How many decode workers a machine with `processors` processors gets: one
/// less than it has (the window thread reads too), at least one.
int cache_worker_count(int processors);

/// A cache of at most `budget_bytes` bytes of pixels with `workers` decode
/// threads, converting through `tables` (which must outlive it). Null when no
/// worker can be started or the budget is 0.
FrameCache* cache_create(std::uint64_t budget_bytes, int workers, const ConversionTables* tables);

/// Stops the workers (waiting for the decodes they are in) and frees every slot.
void cache_destroy(FrameCache* cache);

/// Slots are allocated through `alloc` from now on (tests make it fail).
void cache_set_alloc(FrameCache* cache, CacheAlloc alloc, void* context);

/// Forgets every frame and takes the frames of `seq` (its list is copied) at
/// source size `width` x `height`, `shift` and `convert`: what the display has
/// now. Nothing is decoded until a plan asks for it. A sequence with no frames
/// leaves the cache empty.
void cache_set_sequence(FrameCache* cache, const Sequence& seq, std::int32_t width,
                        std::int32_t height, std::int32_t shift, std::int32_t convert);

/// Forgets every frame and decodes nothing until the next cache_set_sequence.
void cache_clear(FrameCache* cache);

/// The frames playback shows next, nearest first (`count` of them; earlier
/// plans are replaced). Workers decode them in that order while the budget
/// allows, making room by evicting the frames farthest from the playhead:
/// frames not in the plan first, then the plan's last ones.
void cache_plan(FrameCache* cache, const std::int32_t* frames, int count);

/// Puts frame `frame` of the sequence into the store when a slot holds it
/// decoded for the store's source size, shift and conversion, and every file
/// it was read from still has the size and modification time it had then:
/// swaps the slot's pixels with the store's, sets the timecode and row stride
/// the read would have set, and writes the path of the last file the frame was
/// read from to `path` (kPathMax bytes). Returns 0, or -1 when the frame must be
/// read as usual (a stale frame is dropped from its slot). A worker in the
/// middle of reading the frame is waited for, `wait_us` at most. The frame stays cached until
/// evicted (see cache_display_written).
int cache_take(FrameCache* cache, std::int32_t frame, FrameStore& store, char* path,
               std::int64_t wait_us = 0);

/// The display's pixels were written by something else than cache_take (a
/// read, a black picture): the frame a take put there is no longer in them.
/// Until then each take keeps the frame shown before it cached, in the slot
/// the taken frame leaves.
void cache_display_written(FrameCache* cache);

/// Before the window reads frame `frame` into the display itself (the cache
/// did not have it): the frame the display holds, when the cache knows it, is
/// moved to a free slot (the store gets that slot's pixels to read into, of
/// the same size); the files of `frame` are stamped, so that after a successful read
/// (cache_display_read with `read` true, the store as the read left it) the
/// next take keeps that frame cached like one it gave.
void cache_display_reading(FrameCache* cache, std::int32_t frame, FrameStore& store);
void cache_display_read(FrameCache* cache, const FrameStore& store, bool read);

/// Marks in `ready` (resized to the sequence's frame count) the frames that
/// are decoded and waiting.
void cache_ready_frames(FrameCache* cache, std::vector<std::uint8_t>& ready);

/// Bytes the slots may hold now (less than asked for after a failed allocation),
/// and bytes they hold.
std::uint64_t cache_budget(const FrameCache* cache);
std::uint64_t cache_held(const FrameCache* cache);

/// Waits until the workers have nothing of the plan left to decode that the
/// budget allows (tests and benchmarks).
void cache_wait_idle(FrameCache* cache);
