// Waiting for keys: standard input read as it comes and decoded, a short
// pause telling a lone Esc from the start of an escape sequence, and the
// screen kept up to date (and redrawn after a resize or a stop) while the
// program waits. Before StartTerminal the keys come from FeedKeyBytes.
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "console/screen.h"
#include "console/terminal.h"
#include "console/terminal_state.h"

namespace {

constexpr int EscapeWaitMilliseconds = 50;  // a lone ESC is Esc after this pause

KeyDecoder decoder;
bool inputEnded = false;

// Reads what standard input has; its end or an error ends the input.
void ReadKeyBytes() {
    char bytes[256];
    ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count > 0)
        decoder.pending.append(bytes, static_cast<size_t>(count));
    else if (count == 0 || (errno != EINTR && errno != EAGAIN))
        inputEnded = true;
}

}  // namespace

// ---- Reading keys -------------------------------------------------------------------------

void FeedKeyBytes(std::string_view bytes) { decoder.pending.append(bytes); }

void ClearKeyBytes() { decoder = KeyDecoder{}; }

bool NextKey(Key& key) {
    for (;;) {
        if (!terminal.started) return TakeKey(decoder, true, key);
        if (TakeKey(decoder, inputEnded, key)) return true;
        if (inputEnded) return false;
        // The screen is up to date (and resized) while waiting, and the
        // transcript has every row above the cursor.
        LogFinishedRows(false);
        ShowScreen();
        int wakeFd = terminal.wakeFds[0];
        pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int timeout = decoder.pending.empty() ? -1 : EscapeWaitMilliseconds;
        int ready = poll(watched, wakeFd >= 0 ? 2 : 1, timeout);
        if (ready == 0) {
            if (TakeKey(decoder, true, key)) return true;
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) continue;
            inputEnded = true;
            continue;
        }
        if (watched[1].revents & POLLIN) DrainWakePipe();
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) ReadKeyBytes();
    }
}

// ---- Waiting while another thread works --------------------------------------------------

void WaitServingTerminal(int timeoutMs) {
    int wakeFd = terminal.wakeFds[0];
    pollfd watched = {wakeFd, POLLIN, 0};
    if (poll(&watched, wakeFd >= 0 ? 1 : 0, timeoutMs) > 0) DrainWakePipe();
    if (terminal.resizeNoted || terminal.continueNoted) ShowScreen();
}

void WakeTerminalWait() { WakeKeyWait(); }
