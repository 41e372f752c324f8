// Error filters: the four coefficient files and the filter stages. A stage
// loads its 64 coefficients from FO.dat, SO.dat, FOP.dat or SOP.dat in the
// working directory (waiting with a message box while the file is missing)
// and convolves both input channels with them into the filtered channels.
#pragma once

#include "wave/wave.h"

// Runs stage `stageNumber` (1 FO, 2 SO, 3 FOP, 4 SOP): title line, coefficient
// load, filter, "Done". Leaves the result in arrays.FilteredLeft/Right.
void RunFilterStage(int stageNumber, JobArrays& arrays);
