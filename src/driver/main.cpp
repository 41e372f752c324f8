// Phonoskew's main routine: the run as straight-line steps.
#include "numeric/numeric.h"

int main() {
    SetNumericEnvironment();
    return 0;
}
