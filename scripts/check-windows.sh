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
#  3. a one-block input on two threads, 50 times, each run's four outputs
#     the native build's: a stage of one part runs on the calling thread,
#     and no thread is joined by itself;
#  4. the screen: the native end-to-end test that starts phonoskew.exe under
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
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
frames=1000
mkdir -p "$work/one"
cp "$work"/*.dat "$work/one/"
{
    printf "RIFF$(le32 $((36 + 6 * frames)))WAVEfmt $(le32 16)\\x01\\x00\\x02\\x00"
    printf "$(le32 96000)$(le32 576000)\\x06\\x00\\x18\\x00data$(le32 $((6 * frames)))"
    head -c $((44 + 6 * frames)) "$work/take.wav" | tail -c $((6 * frames))
} >"$work/one/one.wav"
(cd "$work/one" && PHONOSKEW_THREADS=2 "$native/phonoskew" one.wav) </dev/null >/dev/null
mkdir -p "$work/one/native"
mv "$work"/one/one\ RIAA\ error\ ?.wav "$work/one/native/"
loops_failed=0
for run in $(seq 1 50); do
    if ! (cd "$work/one" && PHONOSKEW_THREADS=2 wine "$windows/phonoskew.exe" one.wav) \
        </dev/null >/dev/null 2>"$work/one/errors"; then
        echo "one-block run $run under wine failed: $(cat "$work/one/errors")"
        loops_failed=1
    fi
    for n in 1 2 3 4; do
        cmp -s "$work/one/native/one RIAA error $n.wav" "$work/one/one RIAA error $n.wav" ||
            { echo "one-block run $run: output $n differs or is missing"; loops_failed=1; }
    done
    rm -f "$work"/one/one\ RIAA\ error\ ?.wav
done
[ $loops_failed = 0 ] && echo "Windows, one-block input on two threads: 50 runs, every output the native build's"
[ $loops_failed = 0 ] || failed=1
echo "(the one-block runs under wine took $((SECONDS - start)) s)"

start=$SECONDS
PHONOSKEW_WINDOWS_BIN=$windows/phonoskew-emulated "$native/tests/e2e_tests" \
    --gtest_filter='WindowsBuildUnderWine.*' --gtest_brief=1 || failed=1
echo "(the screen under wine took $((SECONDS - start)) s)"
exit $failed
