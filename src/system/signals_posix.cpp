// Signal sets, holds and the start of the program, on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "system/files.h"
#include "system/signals.h"

// ---- Start of the program --------------------------------------------------------

void OpenStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one, as the lower ones are open.
        int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

void ReportFileSizeLimitAsError() { signal(SIGXFSZ, SIG_IGN); }

// ---- Signal sets -------------------------------------------------------------------

sigset_t OutsideEndingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGXCPU, SIGUSR1, SIGUSR2, SIGALRM,
                       SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT}) {
        sigaddset(&signals, signal);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&signals, signal);
    return signals;
}

sigset_t SignalSet(HeldSignals which) {
    sigset_t signals;
    switch (which) {
        case HeldSignals::OutsideEnding:
            return OutsideEndingSignals();
        case HeldSignals::OutsideEndingAndStop:
            signals = OutsideEndingSignals();
            sigaddset(&signals, SIGTSTP);
            return signals;
        case HeldSignals::Every:
            sigfillset(&signals);
            return signals;
        case HeldSignals::AllButFaults:
            sigfillset(&signals);
            for (int fault : FaultSignals) sigdelset(&signals, fault);
            return signals;
    }
    sigemptyset(&signals);
    return signals;
}

std::unique_ptr<std::byte[]> MakeSignalStack() {
    return std::unique_ptr<std::byte[]>(new (std::nothrow) std::byte[SignalStackSize]);
}

namespace {
// The stack this thread took through UseSignalStack, to give back.
thread_local std::byte* signalStackTaken = nullptr;
}  // namespace

void UseSignalStack(std::byte* stack) {
    stack_t present{};
    if (stack == nullptr) {
        if (signalStackTaken == nullptr) return;
        present.ss_flags = SS_DISABLE;
        sigaltstack(&present, nullptr);
        signalStackTaken = nullptr;
        return;
    }
    // A stack the thread has already (one a sanitizer's runtime gives every
    // thread, say) serves as well, and is its owner's to free.
    if (sigaltstack(nullptr, &present) == 0 && !(present.ss_flags & SS_DISABLE)) return;
    stack_t given{};
    given.ss_sp = stack;
    given.ss_size = SignalStackSize;
    if (sigaltstack(&given, nullptr) == 0) signalStackTaken = stack;
}

void UseSignalStack() {
    // Kept for the thread's whole life: a handler may need it at any moment.
    static thread_local std::unique_ptr<std::byte[]> stack;
    if (!stack) stack = MakeSignalStack();
    if (stack) UseSignalStack(stack.get());
}

SignalsHeld::SignalsHeld(HeldSignals which) {
    sigset_t signals = SignalSet(which);
    pthread_sigmask(SIG_BLOCK, &signals, &previous.Mask);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous.Mask, nullptr); }

// ---- A tool's open line -----------------------------------------------------------

namespace {

volatile sig_atomic_t lineOpen = 0;

// Async-signal-safe: write, unlink, signal and raise. Ends the program the
// way the signal would have, so its status shows it.
void EndLineAndEnd(int signal) {
    int savedErrno = errno;
    if (lineOpen) {
        ssize_t ignored = write(STDERR_FILENO, "\n", 1);
        (void)ignored;
    }
    RemovePendingTemporaryFile();
    ::signal(signal, SIG_DFL);
    raise(signal);
    errno = savedErrno;
}

}  // namespace

void EndOpenLineOnEndingSignals() {
    sigset_t outside = OutsideEndingSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&outside, signal) != 1) continue;
        struct sigaction action {};
        action.sa_handler = EndLineAndEnd;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

void SetOpenLine(bool open) { lineOpen = open ? 1 : 0; }
