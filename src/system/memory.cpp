// The parts of the memory check that read status texts.
#include "system/memory.h"

#include <algorithm>
#include <cstdint>

#include "system/status_files.h"

uint64_t MemAvailableBytes(std::string_view meminfo) {
    return StatusKilobytes(meminfo, "MemAvailable");
}

uint64_t ControlGroupRoom(std::string_view limit, std::string_view usage, uint64_t reclaimable) {
    uint64_t bound = LeadingNumber(limit);  // "max" reads as no number: no bound
    if (bound == NoBound) return NoBound;
    uint64_t used = LeadingNumber(usage);
    if (used == NoBound) used = 0;
    used -= std::min(used, reclaimable);
    return bound > used ? bound - used : 0;
}

uint64_t ControlGroupCleanCache(std::string_view stat) {
    struct Names {
        const char* Active;
        const char* Inactive;
        const char* Dirty;
        const char* Writeback;
    };
    // Version 1 also has the group's own active_file and inactive_file: its
    // totals come first.
    for (const Names& names :
         {Names{"total_active_file", "total_inactive_file", "total_dirty", "total_writeback"},
          Names{"active_file", "inactive_file", "file_dirty", "file_writeback"}}) {
        uint64_t active = NamedLineNumber(stat, names.Active, ' ');
        uint64_t inactive = NamedLineNumber(stat, names.Inactive, ' ');
        if (active == NoBound || inactive == NoBound) continue;
        uint64_t dirty = NamedLineNumber(stat, names.Dirty, ' ');
        uint64_t writeback = NamedLineNumber(stat, names.Writeback, ' ');
        uint64_t busy = (dirty == NoBound ? 0 : dirty) + (writeback == NoBound ? 0 : writeback);
        return active + inactive > busy ? active + inactive - busy : 0;
    }
    return 0;
}

uint64_t AvailableMemory(const MemoryRoom& room, uint64_t addressSpaceReserve) {
    uint64_t mappings = room.Mappings == NoBound              ? NoBound
                        : room.Mappings > addressSpaceReserve ? room.Mappings - addressSpaceReserve
                                                              : 0;
    return std::min(room.Memory, mappings);
}
