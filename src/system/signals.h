// Signals and helper threads: which signals end the program, which are
// faults of its own code, holding them back while something must not be cut
// into, and starting a helper thread that leaves them to the main thread.
// The lists are written here once; the terminal's restoring handlers
// (terminal_device.h), the output files and every helper thread use them.
// Windows has no signals to hold: a console's close, a logoff or a shutdown
// comes as an event on a thread of its own, which takes the hold's lock
// before it ends the program, so a hold there is that lock.
#pragma once

#include <signal.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

// ---- Start of the program --------------------------------------------------------

// Opens the null device on any of the standard descriptors 0 to 2 that is
// closed, so no file the program opens later takes their place: a closed
// standard input then reads as an input that has ended. Called first.
void OpenStandardDescriptors();

// Makes a write beyond the file-size limit (`ulimit -f`) fail with EFBIG, as
// a full disk fails with ENOSPC, instead of ending the program by SIGXFSZ.
void ReportFileSizeLimitAsError();

// ---- Signal sets -------------------------------------------------------------------

// What a hold keeps back.
enum class HeldSignals {
    OutsideEnding,         // OutsideEndingSignals
    OutsideEndingAndStop,  // and SIGTSTP: while bytes go to the terminal
    Every,                 // every signal that can be held
    AllButFaults,          // what a helper thread holds for its whole life
};

#ifdef _WIN32
// What a hold on Windows takes: the lock the console's ending events take
// before they end the program. A helper thread holds nothing.
struct SavedSignals {
    bool Locked = false;
};
// The lock itself, for the console's event handler.
std::recursive_mutex& EndingLock();
#else
// The faults of the program's own code, which a thread raises itself: each
// gets the terminal's restoring handler, and no thread ever holds them, since
// a fault raised while held ends the program at once, without the handler.
inline constexpr int FaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

// The signals by which someone outside asks the program to end (kill, the
// terminal, batch systems' time limits, timers, the real-time signals): each
// ends the program by default. They are held while a temporary file exists,
// and they, with the faults, get the terminal's restoring handler.
sigset_t OutsideEndingSignals();

sigset_t SignalSet(HeldSignals which);

struct SavedSignals {
    sigset_t Mask;
};
#endif

// Holds `which` back on this thread while it lives, then puts things back
// as they were. Every place that holds signals uses it: a write that a
// handler must not cut into, a temporary file a stop must not leave behind,
// and the start of a helper thread, which takes the mask in force then.
struct SignalsHeld {
    SavedSignals previous;
    explicit SignalsHeld(HeldSignals which);
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// The bytes of a thread's signal stack.
constexpr size_t SignalStackSize = 64 << 10;

// A signal stack, made before the thread that takes it starts, so that a
// thread never allocates to start; nullptr when the memory cannot be had.
std::unique_ptr<std::byte[]> MakeSignalStack();

// Gives this thread `stack` (SignalStackSize bytes, made by MakeSignalStack)
// for its signal handlers, so that a fault handler still runs when the
// thread's stack is what ran out (a small `ulimit -s`); a stack the thread
// has already (a sanitizer's) is kept. nullptr gives the stack back, before
// its bytes are freed.
void UseSignalStack(std::byte* stack);

// The same with a stack of its own, for the main thread: once.
void UseSignalStack();

// ---- A tool's open line ----------------------------------------------------------

// A line tool that rewrites a progress line in place on standard error
// (phonoskew-prepare) ends that line before an ending signal (Ctrl+C, or on
// Windows Ctrl+C, Ctrl+Break and the console's close) ends the program, so
// that what comes next starts on a line of its own; and it removes a named
// temporary output file, as the terminal's handlers do. Installed once.
void EndOpenLineOnEndingSignals();
// Whether a line is open now.
void SetOpenLine(bool open);

// ---- Helper threads --------------------------------------------------------------

// Runs `work` on `thread`, started with every signal but the faults held, so
// that stop, terminal and ending signals reach the main thread alone, which
// holds them while an output file is written and restores the terminal; it
// takes `stack`, which outlives it, as its signal stack. Without a thread
// or a stack to be had, `work` runs here, before this returns. Returns
// whether it went to a thread.
template <typename Work>
bool StartHelperThread(std::jthread& thread, Work work, std::byte* stack) {
    if (stack != nullptr) {
        SignalsHeld held(HeldSignals::AllButFaults);
        try {
            thread = std::jthread([work, stack] {
                UseSignalStack(stack);
                work();
                UseSignalStack(nullptr);
            });
            return true;
        } catch (const std::system_error&) {
        }
    }
    work();
    return false;
}

// The same with a signal stack made for the thread, freed as it ends.
template <typename Work>
bool StartHelperThread(std::jthread& thread, Work work) {
    std::shared_ptr<std::byte[]> stack = MakeSignalStack();
    return StartHelperThread(
        thread, [work, stack] { work(); }, stack.get());
}
