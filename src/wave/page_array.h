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
