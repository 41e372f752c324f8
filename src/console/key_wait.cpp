// Waiting for keys: standard input read as it comes and decoded, a short
// pause telling a lone Esc from the start of an escape sequence, and the
// screen kept up to date (and redrawn after a resize or a stop) while the
// program waits. Before StartTerminal the keys come from FeedKeyBytes.
#include "console/screen.h"
#include "console/terminal.h"
#include "system/terminal_device.h"

namespace {

constexpr int EscapeWaitMilliseconds = 50;  // a lone ESC is Esc after this pause

KeyDecoder decoder;
bool inputEnded = false;

}  // namespace

// ---- Reading keys -------------------------------------------------------------------------

void FeedKeyBytes(std::string_view bytes) { decoder.pending.append(bytes); }

void ClearKeyBytes() { decoder = KeyDecoder{}; }

void ReadEscapeSequences(bool fromTerminal) { decoder.escapeSequences = fromTerminal; }

bool NextKey(Key& key) {
    for (;;) {
        if (!TerminalStarted()) return TakeKey(decoder, true, key);
        if (TakeKey(decoder, inputEnded, key)) return true;
        if (inputEnded) return false;
        // The screen is up to date (and resized) while waiting, and the
        // transcript has every row above the cursor.
        LogFinishedRows(false);
        ShowScreen();
        int timeout = decoder.pending.empty() ? -1 : EscapeWaitMilliseconds;
        switch (WaitForKeyBytes(timeout, decoder.pending)) {
            case DeviceWait::TimedOut:
                if (TakeKey(decoder, true, key)) return true;
                break;
            case DeviceWait::Ended:
                inputEnded = true;
                break;
            case DeviceWait::Bytes:
            case DeviceWait::Woken:
                break;
        }
    }
}

// ---- Waiting while another thread works --------------------------------------------------

void WaitServingTerminal(int timeoutMs) {
    // Keys typed meanwhile stay queued on the terminal: only a wake ends this.
    WaitForWake(timeoutMs);
    ShowScreen();
}
