// Holds, the start of the program and signal stacks, on Windows. A console's
// ending events (its close, a logoff, a shutdown) arrive on a thread of
// their own, which takes the ending lock before it ends the program: a hold
// is that lock, so an output is whole or absent and the console is never
// put back half-way through a write.
#include <windows.h>

#include <atomic>
#include <new>

#include "system/files.h"
#include "system/signals.h"

// ---- Start of the program --------------------------------------------------------

// A standard handle the program was started without reads as an input that
// has ended, or writes nowhere: the null device takes its place.
void OpenStandardDescriptors() {
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (DWORD kind : kinds) {
        HANDLE handle = GetStdHandle(kind);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
        const DWORD access = kind == STD_INPUT_HANDLE ? GENERIC_READ : GENERIC_WRITE;
        HANDLE null = CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (null != INVALID_HANDLE_VALUE) SetStdHandle(kind, null);
    }
}

// Windows sets no file-size limit that ends a program.
void ReportFileSizeLimitAsError() {}

// ---- Holds -------------------------------------------------------------------------

std::recursive_mutex& EndingLock() {
    static std::recursive_mutex lock;
    return lock;
}

SignalsHeld::SignalsHeld(HeldSignals which) {
    if (which == HeldSignals::AllButFaults) return;
    EndingLock().lock();
    previous.Locked = true;
}

SignalsHeld::~SignalsHeld() {
    if (previous.Locked) EndingLock().unlock();
}

// A fault on Windows is an exception that the console's unhandled-exception
// filter catches on the faulting thread; its stack is the thread's own, and
// Windows keeps a guard page's worth for it.
std::unique_ptr<std::byte[]> MakeSignalStack() {
    return std::unique_ptr<std::byte[]>(new (std::nothrow) std::byte[1]);
}
void UseSignalStack(std::byte*) {}
void UseSignalStack() {}

// ---- A tool's open line -----------------------------------------------------------

namespace {

std::atomic<bool> lineOpen{false};

// Any console event ends a line tool, once any output under way is whole
// or gone, with the status Windows gives a program Ctrl+C ends.
BOOL WINAPI EndLineAndEnd(DWORD) {
    std::lock_guard<std::recursive_mutex> hold(EndingLock());
    if (lineOpen) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\n", 1, &written, nullptr);
    }
    RemovePendingTemporaryFile();
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void EndOpenLineOnEndingSignals() { SetConsoleCtrlHandler(EndLineAndEnd, TRUE); }

void SetOpenLine(bool open) { lineOpen = open; }
