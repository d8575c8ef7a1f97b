// The cache of decoded display frames and its decode workers.
#include "core/frame_cache.h"

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace {

enum SlotState { kSlotEmpty, kSlotDecoding, kSlotReady };

/// One decoded frame, or room for one. While a worker decodes into a slot only
/// that worker touches its pixels; everything else is read and written under
/// the cache's lock.
struct Slot {
    std::uint8_t* pixels = nullptr;
    std::size_t bytes = 0;
    SlotState state = kSlotEmpty;
    std::uint64_t generation = 0;
    std::int32_t frame = -1;
    /// The files the frame was read from, as they were before the read.
    int files = 0;
    FileStamp stamps[kMaxFrameFiles];
    std::uint32_t timecode = 0xFFFFFFFFu;
    std::int64_t row_stride = 0;
};

void* default_alloc(void*, std::size_t bytes) {
    return heap_alloc_large(bytes);
}

}  // namespace

struct FrameCache {
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable idle;
    /// Signalled whenever a worker ends a decode.
    std::condition_variable done;
    std::vector<std::thread> threads;
    bool stopping = false;
    const ConversionTables* tables = nullptr;
    std::uint64_t budget = 0;
    std::uint64_t held = 0;
    CacheAlloc alloc = default_alloc;
    void* alloc_context = nullptr;

    /// The sequence and the display its frames are decoded for.
    std::uint64_t generation = 0;
    bool open = false;
    std::string folder;
    std::vector<char> names;
    std::int32_t longest = 0;
    std::int32_t count = 0;
    std::int32_t format = 0;
    std::int32_t width = 0, height = 0, shift = 0, convert = 0;
    std::size_t frame_bytes = 0;

    std::vector<std::int32_t> plan;
    /// Each frame's place in the plan (INT_MAX: not in it).
    std::vector<int> rank;
    std::vector<Slot> slots;
    /// Workers between taking a frame and storing it.
    int decoding = 0;
    /// Counts the changes that may give the workers work (a plan, a sequence, a
    /// frame taken), and the workers that found none since the last one.
    std::uint64_t changes = 0;
    int idle_workers = 0;
    /// The frame the display's pixels hold since it was taken from a slot
    /// (its record, pixels null when the display holds anything else): a take
    /// swaps those pixels into the slot it empties, so the frame stays cached.
    Slot lent;
};

namespace {

int rank_of(const FrameCache& c, const Slot& s) {
    if (s.generation != c.generation || s.frame < 0 || s.frame >= c.count) return INT_MAX;
    return c.rank[static_cast<std::size_t>(s.frame)];
}

bool frame_held(const FrameCache& c, std::int32_t frame) {
    for (const Slot& s : c.slots)
        if (s.state != kSlotEmpty && s.generation == c.generation && s.frame == frame) return true;
    return false;
}

void free_slot(FrameCache& c, std::size_t index) {
    heap_free(c.slots[index].pixels);
    c.held -= c.slots[index].bytes;
    c.slots.erase(c.slots.begin() + static_cast<std::ptrdiff_t>(index));
}

/// Empty slots of another size than the frames now decoded are memory for
/// nothing.
void free_misfits(FrameCache& c) {
    for (std::size_t i = c.slots.size(); i-- > 0;)
        if (c.slots[i].state == kSlotEmpty && c.slots[i].bytes != c.frame_bytes) free_slot(c, i);
}

/// A slot to decode a frame of plan place `rank` into: an empty one of the
/// right size, a new one while the budget allows, else the one farthest from
/// the playhead when it is farther than this frame. -1 when there is none.
int find_slot(FrameCache& c, int rank) {
    for (std::size_t i = 0; i < c.slots.size(); ++i)
        if (c.slots[i].state == kSlotEmpty && c.slots[i].bytes == c.frame_bytes)
            return static_cast<int>(i);
    free_misfits(c);
    if (c.held + c.frame_bytes <= c.budget) {
        auto* pixels = static_cast<std::uint8_t*>(c.alloc(c.alloc_context, c.frame_bytes));
        if (pixels) {
            Slot s;
            s.pixels = pixels;
            s.bytes = c.frame_bytes;
            c.slots.push_back(s);
            c.held += c.frame_bytes;
            return static_cast<int>(c.slots.size() - 1);
        }
        // The system has no more to give: the cache keeps what it has.
        c.budget = c.held;
    }
    int worst = -1;
    int worst_rank = rank;
    for (std::size_t i = 0; i < c.slots.size(); ++i) {
        const Slot& s = c.slots[i];
        if (s.state != kSlotReady || s.bytes != c.frame_bytes) continue;
        const int r = rank_of(c, s);
        if (r > worst_rank) {
            worst_rank = r;
            worst = static_cast<int>(i);
        }
    }
    if (worst >= 0) {
        c.slots[static_cast<std::size_t>(worst)].state = kSlotEmpty;
        c.slots[static_cast<std::size_t>(worst)].frame = -1;
    }
    return worst;
}

/// The nearest frame of the plan that no slot holds, with a slot claimed for
/// it; false when there is none or no room for it.
bool take_job(FrameCache& c, std::int32_t* frame, int* slot) {
    if (!c.open || c.frame_bytes == 0) return false;
    for (std::size_t i = 0; i < c.plan.size(); ++i) {
        const std::int32_t f = c.plan[i];
        if (frame_held(c, f)) continue;
        const int s = find_slot(c, static_cast<int>(i));
        if (s < 0) return false;
        Slot& claimed = c.slots[static_cast<std::size_t>(s)];
        claimed.state = kSlotDecoding;
        claimed.generation = c.generation;
        claimed.frame = f;
        *frame = f;
        *slot = s;
        return true;
    }
    return false;
}

/// Writes the path of frame `frame` (kPathMax bytes); -1 when it does not fit.
int path_of(const FrameCache& c, std::int32_t frame, char* out) {
    const char* name = c.names.data() + static_cast<std::size_t>(frame) * (c.longest + 1);
    const std::size_t name_length = strnlen(name, static_cast<std::size_t>(c.longest) + 1);
    if (c.folder.size() + name_length + 1 > static_cast<std::size_t>(kPathMax)) return -1;
    std::memcpy(out, c.folder.data(), c.folder.size());
    std::memcpy(out + c.folder.size(), name, name_length);
    out[c.folder.size() + name_length] = '\0';
    return 0;
}

/// The files frame `path` is read from, and their stamps now. Returns how many
/// (0 when any cannot be looked at).
int stamp_files(std::int32_t format, const char* path, std::int32_t width, std::int32_t height,
                FileStamp* stamps, char* last_path) {
    const FrameFormat* f = frame_format(format);
    if (!f) return 0;
    ReadAheadFile files[kMaxFrameFiles];
    const ReadAheadShape shape{width, height, 0};
    const int n = f->read_ahead_files(path, shape, files);
    if (n <= 0 || n > kMaxFrameFiles) return 0;
    for (int i = 0; i < n; ++i)
        if (file_stamp(files[i].path, &stamps[i]) != 0) return 0;
    if (last_path)
        std::memcpy(last_path, files[n - 1].path, strnlen(files[n - 1].path, kPathMax - 1) + 1);
    return n;
}

/// What a worker needs to decode one frame, copied under the lock.
struct Job {
    std::uint64_t generation;
    std::int32_t frame, format, width, height, shift, convert;
    char path[kPathMax];
    std::uint8_t* pixels;
};

/// Decodes a job into its pixels; fills the slot's record. Returns 0 or -1.
int decode_job(const Job& job, const ConversionTables* tables, DecodeScratch& scratch, Slot& out) {
    // Stamped before the read: a file that changes during it is then found
    // changed when the frame is taken.
    out.files = stamp_files(job.format, job.path, job.width, job.height, out.stamps, nullptr);
    if (out.files == 0) return -1;
    OpenFrame frame;
    if (open_frame(job.format, job.path, job.width, job.height, frame) != 0) return -1;
    // A frame of another size goes through the window's own size change.
    if (frame.info.width != job.width || frame.info.height != job.height) return -1;
    DecodeSettings settings;
    settings.shift = job.shift;
    settings.tables = job.convert ? tables : nullptr;
    // The helper thread takes half the rows when it is free (the window, whose
    // frames come from here, mostly is); when it is busy the worker goes alone.
    settings.share_rows = true;
    PixelTarget target;
    target.pixels = job.pixels;
    target.width = job.width >> job.shift;
    target.height = job.height >> job.shift;
    target.stride = static_cast<std::size_t>(target.width) * 4;
    if (target.width <= 0 || target.height <= 0) return -1;
    if (decode_frame(frame, settings, target, scratch) != 0) return -1;
    out.timecode = frame.info.header.present ? frame.info.header.timecode : 0xFFFFFFFFu;
    out.row_stride = frame.info.row_stride;
    return 0;
}

/// True when the display holds pictures of the cache's frames: the same
/// source size, shift and conversion, unmarked, and a buffer of that size.
bool fits_display(const FrameCache& c, const FrameStore& store) {
    return c.open && store.pixels && !store.marks && c.width == store.source_width &&
           c.height == store.source_height && c.shift == store.shift &&
           c.convert == store.convert && (c.width >> c.shift) == display_width(store) &&
           (c.height >> c.shift) == display_height(store);
}

void drop_from_plan(FrameCache& c, std::int32_t frame) {
    c.rank[static_cast<std::size_t>(frame)] = INT_MAX;
    for (std::size_t i = 0; i < c.plan.size(); ++i)
        if (c.plan[i] == frame) {
            c.plan.erase(c.plan.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    // The places after it moved up by one.
    for (std::size_t i = 0; i < c.plan.size(); ++i)
        c.rank[static_cast<std::size_t>(c.plan[i])] = static_cast<int>(i);
}

/// Something changed that may give the workers work: wakes them all.
void changed(FrameCache& c) {
    ++c.changes;
    c.idle_workers = 0;
    c.work.notify_all();
}

void worker_main(FrameCache* c) {
    // Frames ahead are worth the processors the window does not want: its own
    // reads and paints come first.
    thread_give_way();
    DecodeScratch scratch;
    const bool have_scratch = alloc_scratch(scratch) == 0;
    std::unique_lock<std::mutex> lock(c->mutex);
    std::uint64_t idle_since = ~std::uint64_t{0};
    while (!c->stopping) {
        std::int32_t frame = -1;
        int index = -1;
        if (!have_scratch || !take_job(*c, &frame, &index)) {
            if (idle_since != c->changes) {
                idle_since = c->changes;
                ++c->idle_workers;
                c->idle.notify_all();
            }
            c->work.wait(lock);
            continue;
        }
        Job job;
        job.generation = c->generation;
        job.frame = frame;
        job.format = c->format;
        job.width = c->width;
        job.height = c->height;
        job.shift = c->shift;
        job.convert = c->convert;
        job.pixels = c->slots[static_cast<std::size_t>(index)].pixels;
        const int named = path_of(*c, frame, job.path);
        ++c->decoding;
        lock.unlock();
        Slot record;
        const int result = named == 0 ? decode_job(job, c->tables, scratch, record) : -1;
        lock.lock();
        --c->decoding;
        c->done.notify_all();
        // The slot may have moved in the list (slots freed meanwhile), never
        // been reused: only this worker changes a decoding slot.
        for (Slot& s : c->slots) {
            if (s.pixels != job.pixels) continue;
            const bool current = job.generation == c->generation && s.bytes == c->frame_bytes;
            if (result == 0 && current) {
                s.state = kSlotReady;
                s.files = record.files;
                std::memcpy(s.stamps, record.stamps, sizeof s.stamps);
                s.timecode = record.timecode;
                s.row_stride = record.row_stride;
            } else {
                // Frames that fail to decode are read by the window, which
                // shows why; they are not tried again until the next plan.
                s.state = kSlotEmpty;
                s.frame = -1;
                if (result != 0 && current && frame < c->count) drop_from_plan(*c, frame);
                // Its room is free for another frame.
                changed(*c);
            }
            break;
        }
    }
    lock.unlock();
    release_scratch(scratch);
}

void forget_frames(FrameCache& c) {
    ++c.generation;
    c.lent = Slot();
    for (Slot& s : c.slots)
        if (s.state == kSlotReady) {
            s.state = kSlotEmpty;
            s.frame = -1;
        }
    c.plan.clear();
}

}  // namespace

int cache_worker_count(int processors) {
    return processors > 2 ? processors - 1 : 1;
}

FrameCache* cache_create(std::uint64_t budget_bytes, int workers, const ConversionTables* tables) {
    if (budget_bytes == 0 || workers < 1) return nullptr;
    auto* c = new FrameCache;
    c->budget = budget_bytes;
    c->tables = tables;
    for (int i = 0; i < workers; ++i) {
        try {
            c->threads.emplace_back(worker_main, c);
        } catch (...) {
            break;
        }
    }
    if (c->threads.empty()) {
        delete c;
        return nullptr;
    }
    return c;
}

void cache_destroy(FrameCache* cache) {
    if (!cache) return;
    {
        std::lock_guard<std::mutex> lock(cache->mutex);
        cache->stopping = true;
    }
    cache->work.notify_all();
    for (std::thread& t : cache->threads) t.join();
    for (Slot& s : cache->slots) heap_free(s.pixels);
    delete cache;
}

void cache_set_alloc(FrameCache* cache, CacheAlloc alloc, void* context) {
    if (!cache) return;
    std::lock_guard<std::mutex> lock(cache->mutex);
    cache->alloc = alloc ? alloc : default_alloc;
    cache->alloc_context = context;
}

void cache_set_sequence(FrameCache* cache, const Sequence& seq, std::int32_t width,
                        std::int32_t height, std::int32_t shift, std::int32_t convert) {
    if (!cache) return;
    std::lock_guard<std::mutex> lock(cache->mutex);
    FrameCache& c = *cache;
    forget_frames(c);
    c.open = seq.frame_count > 0 && seq.frame_list != nullptr && width > 0 && height > 0 &&
             shift >= 0 && shift <= 3 && seq.name_slot >= 0 && seq.name_slot < kPathMax;
    c.count = c.open ? seq.frame_count : 0;
    c.longest = seq.longest_name;
    c.format = seq.source_format;
    c.width = width;
    c.height = height;
    c.shift = shift;
    c.convert = convert;
    c.frame_bytes = c.open ? static_cast<std::size_t>(width >> shift) *
                                 static_cast<std::size_t>(height >> shift) * 4
                           : 0;
    if (c.frame_bytes == 0) c.open = false;
    c.folder.assign(seq.current_path, c.open ? static_cast<std::size_t>(seq.name_slot) : 0);
    if (c.open)
        c.names.assign(seq.frame_list,
                       seq.frame_list + static_cast<std::size_t>(c.count) * (c.longest + 1));
    else
        c.names.clear();
    c.rank.assign(static_cast<std::size_t>(c.count), INT_MAX);
    free_misfits(c);
    changed(c);
}

void cache_clear(FrameCache* cache) {
    if (!cache) return;
    std::lock_guard<std::mutex> lock(cache->mutex);
    forget_frames(*cache);
    cache->open = false;
    cache->rank.clear();
    cache->count = 0;
    changed(*cache);
}

void cache_plan(FrameCache* cache, const std::int32_t* frames, int count) {
    if (!cache) return;
    {
        std::lock_guard<std::mutex> lock(cache->mutex);
        FrameCache& c = *cache;
        for (std::int32_t f : c.plan) c.rank[static_cast<std::size_t>(f)] = INT_MAX;
        c.plan.clear();
        for (int i = 0; i < count && c.open; ++i) {
            const std::int32_t f = frames[i];
            if (f < 0 || f >= c.count || c.rank[static_cast<std::size_t>(f)] != INT_MAX) continue;
            c.rank[static_cast<std::size_t>(f)] = static_cast<int>(c.plan.size());
            c.plan.push_back(f);
        }
        changed(c);
    }
}

int cache_take(FrameCache* cache, std::int32_t frame, FrameStore& store, char* path,
               std::int64_t wait_us) {
    if (!cache || !store.pixels || store.marks) return -1;
    std::unique_lock<std::mutex> lock(cache->mutex);
    FrameCache& c = *cache;
    if (!fits_display(c, store) || frame < 0 || frame >= c.count) return -1;
    // A worker already reading this frame has it sooner than a read of the
    // window's own, which would only take the processors from it.
    auto find = [&](SlotState state) -> Slot* {
        for (Slot& s : c.slots)
            if (s.state == state && s.generation == c.generation && s.frame == frame) return &s;
        return nullptr;
    };
    const std::uint64_t generation = c.generation;
    c.done.wait_for(lock, std::chrono::microseconds(wait_us > 0 ? wait_us : 0), [&] {
        return c.stopping || c.generation != generation || !find(kSlotDecoding);
    });
    Slot* slot = c.generation == generation ? find(kSlotReady) : nullptr;
    if (!slot) return -1;
    const std::size_t display_bytes = static_cast<std::size_t>(display_width(store)) *
                                      static_cast<std::size_t>(display_height(store)) * 4;
    char name[kPathMax];
    FileStamp now[kMaxFrameFiles];
    char last[kPathMax];
    const bool named = path_of(c, frame, name) == 0;
    const int files = named ? stamp_files(c.format, name, c.width, c.height, now, last) : 0;
    bool same = slot->bytes == display_bytes && files == slot->files && files > 0;
    for (int i = 0; same && i < files; ++i)
        same = now[i].size == slot->stamps[i].size && now[i].modified == slot->stamps[i].modified;
    slot->state = kSlotEmpty;
    if (!same) {
        // Changed on disk since it was decoded: the window reads it afresh.
        slot->frame = -1;
        changed(c);
        return -1;
    }
    const Slot taken = *slot;
    std::swap(slot->pixels, store.pixels);
    slot->frame = -1;
    // The display's previous frame, when it came from a slot and nothing has
    // written the display since, is kept in the slot its pixels go to.
    if (c.lent.pixels == slot->pixels && c.lent.generation == c.generation && c.lent.frame >= 0 &&
        c.lent.frame != frame && !frame_held(c, c.lent.frame)) {
        std::uint8_t* pixels = slot->pixels;
        *slot = c.lent;
        slot->pixels = pixels;
        slot->bytes = taken.bytes;
        slot->state = kSlotReady;
    }
    c.lent = taken;
    c.lent.pixels = store.pixels;
    // Shown: the workers go on with the frames after it.
    drop_from_plan(c, frame);
    store.timecode = taken.timecode;
    store.row_stride = taken.row_stride;
    store.size_recorded = 0;
    if (path) std::memcpy(path, last, strnlen(last, kPathMax - 1) + 1);
    // The slot is free again for the frames ahead.
    changed(c);
    return 0;
}

void cache_display_written(FrameCache* cache) {
    if (!cache) return;
    std::lock_guard<std::mutex> lock(cache->mutex);
    cache->lent = Slot();
}

void cache_display_reading(FrameCache* cache, std::int32_t frame, FrameStore& store) {
    if (!cache) return;
    std::lock_guard<std::mutex> lock(cache->mutex);
    FrameCache& c = *cache;
    // The frame on screen goes to a slot while there is room for it, and the
    // read goes into that slot's pixels, so that a run of frames the window
    // reads itself stays cached too.
    const Slot& on_screen = c.lent;
    if (on_screen.pixels && on_screen.pixels == store.pixels &&
        on_screen.generation == c.generation && on_screen.frame >= 0 && on_screen.frame < c.count &&
        !frame_held(c, on_screen.frame) && fits_display(c, store)) {
        // Only a slot already there: fresh memory costs its first writes, which
        // the window's thread is not to pay.
        int index = -1;
        for (std::size_t i = 0; i < c.slots.size() && index < 0; ++i)
            if (c.slots[i].state == kSlotEmpty && c.slots[i].bytes == c.frame_bytes)
                index = static_cast<int>(i);
        if (index >= 0) {
            Slot& slot = c.slots[static_cast<std::size_t>(index)];
            std::uint8_t* pixels = slot.pixels;
            const std::size_t bytes = slot.bytes;
            slot = on_screen;
            slot.bytes = bytes;
            slot.state = kSlotReady;
            store.pixels = pixels;
        }
    }
    c.lent = Slot();
    char name[kPathMax];
    if (!c.open || frame < 0 || frame >= c.count || path_of(c, frame, name) != 0) return;
    // Stamped before the read, as a worker stamps before its own.
    c.lent.files = stamp_files(c.format, name, c.width, c.height, c.lent.stamps, nullptr);
    if (c.lent.files == 0) return;
    c.lent.frame = frame;
    c.lent.generation = c.generation;
}

void cache_display_read(FrameCache* cache, const FrameStore& store, bool read) {
    if (!cache) return;
    std::lock_guard<std::mutex> lock(cache->mutex);
    FrameCache& c = *cache;
    // Only a frame read whole at the cache's size and conversion, unmarked.
    const bool usable =
        read && c.lent.frame >= 0 && c.lent.generation == c.generation && fits_display(c, store);
    if (!usable) {
        c.lent = Slot();
        return;
    }
    c.lent.pixels = store.pixels;
    c.lent.bytes = c.frame_bytes;
    c.lent.timecode = store.timecode;
    c.lent.row_stride = store.row_stride;
}

void cache_ready_frames(FrameCache* cache, std::vector<std::uint8_t>& ready) {
    if (!cache) {
        ready.clear();
        return;
    }
    std::lock_guard<std::mutex> lock(cache->mutex);
    ready.assign(static_cast<std::size_t>(cache->count), 0);
    for (const Slot& s : cache->slots)
        if (s.state == kSlotReady && s.generation == cache->generation && s.frame >= 0 &&
            s.frame < cache->count)
            ready[static_cast<std::size_t>(s.frame)] = 1;
}

std::uint64_t cache_budget(const FrameCache* cache) {
    if (!cache) return 0;
    std::lock_guard<std::mutex> lock(const_cast<FrameCache*>(cache)->mutex);
    return cache->budget;
}

std::uint64_t cache_held(const FrameCache* cache) {
    if (!cache) return 0;
    std::lock_guard<std::mutex> lock(const_cast<FrameCache*>(cache)->mutex);
    return cache->held;
}

void cache_wait_idle(FrameCache* cache) {
    if (!cache) return;
    std::unique_lock<std::mutex> lock(cache->mutex);
    cache->idle.wait(lock, [cache] {
        return cache->decoding == 0 &&
               cache->idle_workers == static_cast<int>(cache->threads.size());
    });
}
