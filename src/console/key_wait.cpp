// Waiting for keys: standard input read as it comes and decoded, a short
// pause telling a lone Esc from the start of an escape sequence, Ctrl-Z
// from a terminal acted on, and the screen kept up to date (and redrawn
// after a resize or a stop) while the program waits. Before StartTerminal
// the keys come from FeedKeyBytes.
#include "console/key_wait.h"

#include "console/screen.h"
#include "console/terminal.h"
#include "console/transcript.h"
#include "system/terminal_device.h"

namespace {

constexpr int EscapeWaitMilliseconds = 50;  // a lone ESC is Esc after this pause
constexpr char SuspendByte = 26;            // Ctrl-Z

KeyDecoder decoder;
bool inputEnded = false;

// Raw mode keeps the terminal from turning Ctrl-Z into the stop signal, so
// the program stops itself; the key is used up.
bool TakeSuspendKey(const Key& key) {
    if (!CtrlZSuspends() || key.kind != KeyKind::Control || key.code != SuspendByte) return false;
    SuspendProgram();
    return true;
}

}  // namespace

// ---- Reading keys -------------------------------------------------------------------------

void FeedKeyBytes(std::string_view bytes) { decoder.pending.append(bytes); }

void ClearKeyBytes() { decoder = KeyDecoder{}; }

bool NextKey(Key& key) {
    for (;;) {
        if (!TerminalStarted()) return TakeKey(decoder, true, key);
        decoder.escapeSequences = KeysHaveEscapeSequences();
        if (TakeKey(decoder, inputEnded, key)) {
            if (TakeSuspendKey(key)) continue;
            return true;
        }
        if (inputEnded) return false;
        // The screen is up to date (and resized) while waiting, and the
        // transcript has every row above the cursor.
        LogFinishedRows(false);
        ShowScreen();
        int timeout = decoder.pending.empty() ? -1 : EscapeWaitMilliseconds;
        switch (WaitForKeyBytes(timeout, decoder.pending)) {
            case DeviceWait::TimedOut:
                if (TakeKey(decoder, true, key) && !TakeSuspendKey(key)) return true;
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
    if (!CtrlZSuspends() || inputEnded) {
        // Keys typed meanwhile stay queued: only a wake ends this.
        WaitForWake(timeoutMs);
    } else {
        // Keys typed meanwhile join the queue, in order, for the keys to
        // come; only a Ctrl-Z among them acts now.
        if (WaitForKeyBytes(timeoutMs, decoder.pending) == DeviceWait::Ended) inputEnded = true;
        for (size_t at = decoder.pending.find(SuspendByte); at != std::string::npos;
             at = decoder.pending.find(SuspendByte)) {
            decoder.pending.erase(at, 1);
            SuspendProgram();
        }
    }
    ShowScreen();
}
