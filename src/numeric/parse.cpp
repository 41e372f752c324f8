// ParseNumber: placeholder until the coefficient text rules are written.
#include <cstdlib>
#include <string>

#include "numeric/numeric.h"

Extended ParseNumber(std::string_view text) { return std::strtold(std::string(text).c_str(), nullptr); }
