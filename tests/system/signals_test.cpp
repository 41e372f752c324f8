// Helper threads and the fault signals: a fault a helper thread raises must
// reach the handler installed for it, which puts the terminal back; a
// fault raised while held ends the program at once, without the handler.
#include "system/signals.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

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

TEST(StartHelperThread, FaultsOfAHelperThreadReachTheirHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FaultOnHelperThread(DebugTrap), testing::ExitedWithCode(7), "handled");
    EXPECT_EXIT(FaultOnHelperThread(TrapInstruction), testing::ExitedWithCode(7), "handled");
}

}  // namespace
