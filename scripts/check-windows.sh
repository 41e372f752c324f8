#!/usr/bin/env bash
# The Windows build's checks under wine (make check-windows), run inside
# scripts/with-wine.sh, which keeps one wine session up:
#   scripts/check-windows.sh WINDOWS_BUILD NATIVE_BUILD
#  1. the unit tests' .exe files through ctest, but for the one that compares
#     phonoskew-design's taps with the committed examples: its filter design
#     runs in long double through mingw's maths library, whose last bits
#     differ from glibc's (as on arm64; no output byte depends on it);
#  2. the whole job on a demo recording with the default and the exact
#     kernel, its four outputs compared byte for byte with the native build's;
#  3. the screen: the native end-to-end test that starts phonoskew.exe under
#     wine in a pseudo-terminal of 80x55 and reads wine's console with libvterm.
# Each part's time is printed.
set -euo pipefail
windows=$1
native=$2
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
WINDOWS_SKIP='^ErrorModels\.CommittedExamplesAreWhatTheDefaultsMake$'

start=$SECONDS
(cd "$windows" && ctest --output-on-failure -j "$jobs" -E "$WINDOWS_SKIP")
echo "(Windows unit tests under wine took $((SECONDS - start)) s)"

start=$SECONDS
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/examples/coefficients/{FO,SO,FOP,SOP}.dat "$work"/
"$native/tools/phonoskew-demo-signal" "$work/take.wav" --seconds 3 >/dev/null
wine "$windows/tools/phonoskew-demo-signal.exe" "$work/take-windows.wav" --seconds 3 \
    </dev/null >/dev/null
cmp "$work/take.wav" "$work/take-windows.wav"
failed=0
for kernel in auto exact; do
    for build in native windows; do
        if [ $build = native ]; then
            (cd "$work" && PHONOSKEW_KERNEL=$kernel "$native/phonoskew" take.wav) </dev/null >/dev/null
        else
            (cd "$work" && PHONOSKEW_KERNEL=$kernel wine "$windows/phonoskew.exe" take.wav) \
                </dev/null >/dev/null
        fi
        mkdir -p "$work/$build-$kernel"
        mv "$work"/take\ RIAA\ error\ ?.wav "$work/$build-$kernel/"
    done
    for n in 1 2 3 4; do
        if cmp "$work/native-$kernel/take RIAA error $n.wav" "$work/windows-$kernel/take RIAA error $n.wav"; then
            echo "Windows, PHONOSKEW_KERNEL=$kernel: output $n is the native build's, byte for byte"
        else
            failed=1
        fi
    done
done
echo "(the whole job under wine, both kernels, took $((SECONDS - start)) s)"

start=$SECONDS
PHONOSKEW_WINDOWS_BIN=$windows/phonoskew-emulated "$native/tests/e2e_tests" \
    --gtest_filter='WindowsBuildUnderWine.*' --gtest_brief=1 || failed=1
echo "(the screen under wine took $((SECONDS - start)) s)"
exit $failed
