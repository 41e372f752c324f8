// Mapping and unmapping the pages of a PageArray.
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>

#include "system/memory.h"

namespace {

constexpr size_t HugePage = size_t{2} << 20;
constexpr size_t SmallPage = 4096;

size_t RoundUp(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

}  // namespace

// Maps a huge page more than asked and gives back the unaligned ends, so the
// array starts on a huge-page boundary and every part of it can be a huge
// page.
void* MapPages(size_t bytes) {
    if (bytes > SIZE_MAX - 2 * HugePage) return nullptr;
    size_t length = RoundUp(bytes, HugePage);
    size_t mapped = length + HugePage;
    void* start = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) return nullptr;
    auto address = reinterpret_cast<uintptr_t>(start);
    uintptr_t aligned = RoundUp(address, HugePage);
    if (aligned > address) munmap(start, aligned - address);
    uintptr_t end = address + mapped;
    if (end > aligned + length)
        munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
    // Only a hint: without transparent huge pages the mapping still works.
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

// MADV_POPULATE_WRITE (Linux 5.14) faults the pages in and says when it
// cannot; on older systems each page is written once instead. The kernel
// hands them out zero-filled, and a written zero keeps them so.
bool CommitPages(void* pages, size_t bytes) {
    size_t length = RoundUp(bytes, HugePage);
    if (madvise(pages, length, MADV_POPULATE_WRITE) == 0) return true;
    if (errno != EINVAL) return false;
    auto* bytesAt = static_cast<volatile unsigned char*>(pages);
    for (size_t at = 0; at < length; at += SmallPage) bytesAt[at] = 0;
    return true;
}

void UnmapPages(void* pages, size_t bytes) {
    if (pages) munmap(pages, RoundUp(bytes, HugePage));
}
