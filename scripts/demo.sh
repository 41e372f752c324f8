#!/usr/bin/env bash
# The hands-free demo: makes a 10-second demo recording, copies the example
# error filters beside it, and runs phonoskew on it in this terminal with the
# path typed for you. The run's whole screen plays out and ends by itself;
# then the four output files are listed.
set -euo pipefail

build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
case $build in /*) ;; *) build=$root/$build ;; esac
# PHONOSKEW_DEMO_DIR and PHONOSKEW_DEMO_PAUSE (seconds the final screen
# stands) let the test suite run the demo in its own folder, without pauses.
demo=${PHONOSKEW_DEMO_DIR:-$root/demo}
pause=${PHONOSKEW_DEMO_PAUSE:-3}

mkdir -p "$demo"
"$build/tools/phonoskew-demo-signal" "$demo/demo.wav" --seconds 10 >/dev/null
cp "$root"/examples/coefficients/{FO,SO,FOP,SOP}.dat "$demo/"
rm -f "$demo"/demo\ RIAA\ error\ ?.wav

# Types the path a key at a time, waits until the last output file is
# there, lets the final screen stand for a moment, then ends the input,
# which counts as the final key press.
type_for_user() {
    local path=demo.wav i
    [ "$pause" = 0 ] || sleep 1
    for ((i = 0; i < ${#path}; i++)); do
        printf '%s' "${path:i:1}"
        [ "$pause" = 0 ] || sleep 0.08
    done
    printf '\r'
    for ((i = 0; i < 600; i++)); do
        [ -f "$demo/demo RIAA error 4.wav" ] && break
        sleep 0.1
    done
    sleep "$pause"
}

cd "$demo"
status=0
type_for_user | "$build/phonoskew" || status=$?

echo
echo "Phonoskew wrote these files in $demo:"
for stage in 1 2 3 4; do
    file="$demo/demo RIAA error $stage.wav"
    if [ -f "$file" ]; then
        printf '  %10d bytes  %s\n' "$(stat -c %s "$file")" "${file##*/}"
    else
        echo "  (missing: ${file##*/})"
        status=1
    fi
done
cat <<MSG

To run Phonoskew on your own recording (stereo, 24-bit, 96 kHz WAVE), put
FO.dat, SO.dat, FOP.dat and SOP.dat in a folder (the examples are in
examples/coefficients/), change to that folder and start
    $build/phonoskew
then type the recording's path. See docs/accepted-files.md if it is refused.
MSG
exit $status
