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

uint64_t ControlGroupStat(std::string_view stat, std::string_view name) {
    return NamedLineNumber(stat, name, ' ');
}
