// Helper threads and the fault signals: a fault a helper thread raises must
// reach the handler installed for it, which puts the terminal back; a
// fault raised while held ends the program at once, without the handler.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "system/signals.h"

namespace {

void NoteAndLeave(int) {
    const char note[] = "handled\n";
    ssize_t ignored = write(STDERR_FILENO, note, sizeof note - 1);
    (void)ignored;
    _exit(7);
}

// The debug trap, which raises SIGTRAP.
void DebugTrap() {
#if defined(__x86_64__) || defined(__i386__)
    __asm__ volatile("int3");
#elif defined(__aarch64__)
    __asm__ volatile("brk #0");
#else
    __builtin_trap();
#endif
}

void TrapInstruction() { __builtin_trap(); }

// Starts `fault` on a helper thread, with the handler on every fault signal.
template <typename Fault>
void FaultOnHelperThread(Fault fault) {
    for (int signal : FaultSignals) ::signal(signal, NoteAndLeave);
    std::jthread helper;
    StartHelperThread(helper, fault);
    helper.join();
    _exit(0);
}

// Calls itself until the stack runs out, long before the depth it counts to.
volatile int deepest = 1 << 30;
int Deeper(int depth) {
    volatile char frame[1024];
    frame[0] = char(depth);
    if (depth >= deepest) return frame[0];
    return Deeper(depth + 1) + frame[0];
}

void StackOverflow() { Deeper(0); }

TEST(StartHelperThread, FaultsOfAHelperThreadReachTheirHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FaultOnHelperThread(DebugTrap), testing::ExitedWithCode(7), "handled");
    EXPECT_EXIT(FaultOnHelperThread(TrapInstruction), testing::ExitedWithCode(7), "handled");
}

// A helper thread whose stack ran out still gets its handler, on the
// thread's own signal stack.
TEST(StartHelperThread, StackOverflowReachesTheHandlerOnTheSignalStack) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto overflow = [] {
        struct sigaction action {};
        action.sa_handler = NoteAndLeave;
        action.sa_flags = SA_ONSTACK;
        sigaction(SIGSEGV, &action, nullptr);
        std::jthread helper;
        StartHelperThread(helper, StackOverflow);
    };
    EXPECT_EXIT(overflow(), testing::ExitedWithCode(7), "handled");
}

}  // namespace
