// Reserving and committing the pages of a PageArray on Windows. The memory
// is committed with the reservation, so the system's commit charge counts
// it from the start; touching each page then makes it present.
#include <windows.h>

#include "system/memory.h"

void* MapPages(size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool CommitPages(void* pages, size_t bytes) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    auto* bytesAt = static_cast<volatile unsigned char*>(pages);
    for (size_t at = 0; at < bytes; at += info.dwPageSize) bytesAt[at] = 0;
    return true;
}

void UnmapPages(void* pages, size_t) {
    if (pages) VirtualFree(pages, 0, MEM_RELEASE);
}
