// Holding standard error on Windows: the C runtime's descriptor 2 pointed
// at NUL, and back. (What a library writes to the console through its own
// handle is not the runtime's to hold.)
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "system/standard_error.h"

StandardErrorHeld::StandardErrorHeld() {
    std::fflush(stderr);
    const int null = _open("NUL", _O_WRONLY);
    if (null < 0) return;
    Saved = _dup(2);
    if (Saved >= 0 && _dup2(null, 2) != 0) {
        _close(Saved);
        Saved = -1;
    }
    _close(null);
}

StandardErrorHeld::~StandardErrorHeld() {
    if (Saved < 0) return;
    std::fflush(stderr);
    _dup2(Saved, 2);
    _close(Saved);
}
