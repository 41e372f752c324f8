// Holding standard error: while a hold lives, whatever is written to the
// process's standard error descriptor (by a library's own code, such as the
// sound libraries' probing chatter) goes to the null device instead of the
// user's screen; the descriptor is put back when the hold ends.
#pragma once

struct StandardErrorHeld {
    int Saved = -1;  // a copy of the descriptor, or -1 when none could be made
    StandardErrorHeld();
    ~StandardErrorHeld();
    StandardErrorHeld(const StandardErrorHeld&) = delete;
    StandardErrorHeld& operator=(const StandardErrorHeld&) = delete;
};
