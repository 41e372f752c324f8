// Holding standard error on POSIX systems: descriptor 2 pointed at
// /dev/null, and back.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "system/standard_error.h"

StandardErrorHeld::StandardErrorHeld() {
    std::fflush(stderr);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    Saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (Saved >= 0 && dup2(null, STDERR_FILENO) < 0) {
        close(Saved);
        Saved = -1;
    }
    close(null);
}

StandardErrorHeld::~StandardErrorHeld() {
    if (Saved < 0) return;
    std::fflush(stderr);
    dup2(Saved, STDERR_FILENO);
    close(Saved);
}
