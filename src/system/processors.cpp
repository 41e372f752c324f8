// The processors of a CPU quota.
#include "system/processors.h"

#include <algorithm>

#include "system/status_files.h"

int ProcessorsInQuota(std::string_view quota, std::string_view period) {
    uint64_t microseconds = LeadingNumber(quota);  // "max" and "-1" read as none
    uint64_t every = LeadingNumber(period);
    if (microseconds == NoBound || every == NoBound || microseconds == 0 || every == 0) return 0;
    uint64_t processors = microseconds / every + (microseconds % every != 0);
    return int(std::min<uint64_t>(processors, 1 << 20));
}
