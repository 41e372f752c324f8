#!/usr/bin/env bash
# The arm64 build's checks under qemu-aarch64 (make check-arm64):
#   scripts/check-arm64.sh ARM64_BUILD NATIVE_BUILD
# Debian 12's qemu-user cannot fork or start a thread of an arm64 program
# on this machine kind (the new process spins), so:
#  - the unit tests run under qemu on one thread, but for the few that fork
#    or start a thread of their own, or ask the kernel which pages are
#    resident (qemu does not pass that on): those run in the native builds;
#  - the end-to-end check starts the arm64 program from this script, on one
#    thread, on a demo recording with the example sets, with each kernel,
#    and compares its four outputs byte for byte with the native build's.
set -euo pipefail
arm=$1
native=$2
root=$(cd "$(dirname "$0")/.." && pwd)
run() { PHONOSKEW_THREADS=1 qemu-aarch64 -L /usr/aarch64-linux-gnu "$@"; }

run "$arm/tests/numeric_tests" --gtest_brief=1
run "$arm/tests/filters_tests" --gtest_brief=1 \
    --gtest_filter=-CoefficientFiles.HugeFieldInFixedMemory
# The aimed outputs, with every kernel; the table of lengths and thread
# counts (minutes of emulated software arithmetic) is the native runs'.
run "$arm/tests/engine_tests" --gtest_brief=1 --gtest_filter='*Aimed*'
run "$arm/tests/wave_tests" --gtest_brief=1
run "$arm/tests/system_tests" --gtest_brief=1 \
    --gtest_filter=-ReplaceFile.KilledMidWriteLeavesNothingBehind:ReplaceFile.StopSignalWaitsUntilTheFileIsComplete:StartHelperThread.*
# Not the tools' tests: the design tool's maths run in long double, 113
# bits in software on arm64, minutes under qemu, and its taps differ from the
# committed x86-64 examples in the last digits; no output byte depends on it.
run "$arm/tests/driver_tests" --gtest_brief=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/examples/coefficients/{FO,SO,FOP,SOP}.dat "$work"/
"$native/tools/phonoskew-demo-signal" "$work/take.wav" --seconds 1 >/dev/null
run "$arm/tools/phonoskew-demo-signal" "$work/take-arm64.wav" --seconds 1 >/dev/null
cmp "$work/take.wav" "$work/take-arm64.wav"
failed=0
for kernel in auto exact; do
    for build in native arm64; do
        if [ $build = native ]; then
            (cd "$work" && PHONOSKEW_KERNEL=$kernel "$native/phonoskew" take.wav) </dev/null >/dev/null
        else
            (cd "$work" && PHONOSKEW_KERNEL=$kernel run "$arm/phonoskew" take.wav) </dev/null >/dev/null
        fi
        mkdir -p "$work/$build-$kernel"
        mv "$work"/take\ RIAA\ error\ ?.wav "$work/$build-$kernel/"
    done
    for n in 1 2 3 4; do
        if cmp "$work/native-$kernel/take RIAA error $n.wav" "$work/arm64-$kernel/take RIAA error $n.wav"; then
            echo "arm64, PHONOSKEW_KERNEL=$kernel: output $n is the native build's, byte for byte"
        else
            failed=1
        fi
    done
done
exit $failed
