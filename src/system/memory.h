// Memory: how much the process can have, and the large arrays the job keeps
// in mappings of their own.
//
// PageArray: a large array in a memory mapping of its own. The system hands
// the pages out zero-filled as they are first touched, so creating it needs
// no zero-fill pass of its own; where the system offers transparent huge
// pages, the mapping asks for them, so touching 100 MB takes about 50 page
// faults instead of 25 000. Commit touches them all at once, so the memory
// counts as used from then on (another job checking what is free sees it
// taken) instead of being found missing half-way through the job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---- Memory the process can have --------------------------------------------------

// What the process can still have.
struct MemoryRoom {
    // The least of the system's available memory (MemAvailable) and the room
    // left under the memory limit of the process's control group and of each
    // group above it (usage subtracted, less its clean file cache, active and
    // inactive, which the system gives back when asked).
    uint64_t Memory = UINT64_MAX;
    // The room left in the address-space limit (RLIMIT_AS) and in the data
    // limit (RLIMIT_DATA), before any thread stacks.
    uint64_t Mappings = UINT64_MAX;
};
// A part that cannot be read sets no bound: UINT64_MAX.
MemoryRoom MeasureMemoryRoom();

// What a job can take of `room` when its threads set aside
// `addressSpaceReserve` of the mappings' room for their stacks.
uint64_t AvailableMemory(const MemoryRoom& room, uint64_t addressSpaceReserve);

// Held from a job's memory check until its memory is taken, by every
// Phonoskew process of the user at once, so that a second job's check sees
// the first job's memory taken instead of passing the same check beside
// it. Where the lock cannot be had, the job goes on without it.
struct MemoryCheckHeld {
    intptr_t Lock = -1;
    MemoryCheckHeld();
    ~MemoryCheckHeld();
    MemoryCheckHeld(const MemoryCheckHeld&) = delete;
    MemoryCheckHeld& operator=(const MemoryCheckHeld&) = delete;
};

// The parts, for tests: each gives UINT64_MAX where the text sets no bound.
// "MemAvailable: 123 kB" in /proc/meminfo, in bytes.
uint64_t MemAvailableBytes(std::string_view meminfo);
// A control group's limit ("max", or bytes) less its usage, of which
// `reclaimable` bytes count as free, in bytes.
uint64_t ControlGroupRoom(std::string_view limit, std::string_view usage, uint64_t reclaimable);
// The clean file cache of a control group's memory.stat, active and
// inactive, less what is dirty or under writeback: version 1's totals of
// the group and those below it (total_active_file, ...), else version 2's
// names (active_file, inactive_file, file_dirty, file_writeback).
uint64_t ControlGroupCleanCache(std::string_view stat);
// ---- Page arrays ------------------------------------------------------------------

// The raw mapping: `bytes` zero-filled bytes aligned to 2 MiB, or nullptr.
void* MapPages(size_t bytes);
void UnmapPages(void* pages, size_t bytes);
// Makes every page of the mapping present; false when the system cannot.
bool CommitPages(void* pages, size_t bytes);

template <typename T>
struct PageArray {
    T* Data = nullptr;
    size_t Count = 0;

    PageArray() = default;
    PageArray(const PageArray&) = delete;
    PageArray& operator=(const PageArray&) = delete;
    PageArray(PageArray&& other) noexcept : Data(other.Data), Count(other.Count) {
        other.Data = nullptr;
        other.Count = 0;
    }
    PageArray& operator=(PageArray&& other) noexcept {
        if (this != &other) {
            Release();
            Data = other.Data;
            Count = other.Count;
            other.Data = nullptr;
            other.Count = 0;
        }
        return *this;
    }
    ~PageArray() { Release(); }

    // `count` zero-filled elements in place of what was there; false, with
    // the array empty, when the memory cannot be had.
    bool Allocate(size_t count) {
        Release();
        if (count == 0) return true;
        if (count > SIZE_MAX / sizeof(T)) return false;
        Data = static_cast<T*>(MapPages(count * sizeof(T)));
        Count = Data ? count : 0;
        return Data != nullptr;
    }

    // Takes the memory of every element now; false when it cannot be had.
    bool Commit() { return Count == 0 || CommitPages(Data, Count * sizeof(T)); }

    void Release() {
        if (Data) UnmapPages(Data, Count * sizeof(T));
        Data = nullptr;
        Count = 0;
    }

    T* data() const { return Data; }
    size_t size() const { return Count; }
    bool empty() const { return Count == 0; }
    T& operator[](size_t i) const { return Data[i]; }
    T* begin() const { return Data; }
    T* end() const { return Data + Count; }
    operator std::span<T>() const { return {Data, Count}; }
    operator std::span<const T>() const { return {Data, Count}; }
};
