#!/usr/bin/env bash
# Packs the Windows build (make windows-zip), run inside scripts/with-wine.sh:
#   scripts/windows-zip.sh WINDOWS_BUILD
# writes WINDOWS_BUILD/phonoskew-VERSION-windows-x86_64.zip, one folder of
# the same name holding
#   phonoskew.exe, phonoskew-prepare.exe, phonoskew-design.exe and
#     phonoskew-demo-signal.exe (stripped of their debugging data),
#   examples\coefficients\ (the example sets and their plots, and the
#     reference set) and examples\README.txt,
#   README.txt, accepted-files.txt and man\*.txt: the texts as Windows reads
#     them, UTF-8 with CR LF line ends; the man pages rendered as plain text,
#     the installed paths they name put as the zip has them.
# First it checks what the zip holds under wine: every program's --version,
# and phonoskew-prepare, run from elsewhere, on a recording whose name is not
# ASCII, with the example sets beside it.
set -euo pipefail
build=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n -E 's/^project\(Phonoskew VERSION ([0-9.]+) .*/\1/p' "$root/CMakeLists.txt")
name=phonoskew-$version-windows-x86_64
stage=$build/zip/$name
programs=(phonoskew.exe tools/phonoskew-prepare.exe tools/phonoskew-design.exe
    tools/phonoskew-demo-signal.exe)
for program in "${programs[@]}"; do
    if [ ! -f "$build/$program" ]; then
        echo "$build/$program is missing: phonoskew-prepare needs the Windows libsndfile" >&2
        echo "and libsoxr (scripts/build-windows-deps.sh $build/deps --prepare)." >&2
        exit 1
    fi
done

rm -rf "$build/zip" && mkdir -p "$stage/man" "$stage/examples/coefficients"
for program in "${programs[@]}"; do
    x86_64-w64-mingw32-strip -o "$stage/$(basename "$program")" "$build/$program"
done
(cd "$root/examples" && find coefficients -name '*.dat' -o -name '*.svg') |
    while read -r file; do
        mkdir -p "$stage/examples/$(dirname "$file")"
        cp "$root/examples/$file" "$stage/examples/$file"
    done

# Text for Windows: a byte order mark, so that every editor takes it as
# UTF-8, and CR LF line ends.
WindowsText() { printf '\xef\xbb\xbf' && sed 's/$/\r/'; }
WindowsText <"$root/README.md" >"$stage/README.txt"
WindowsText <"$root/docs/accepted-files.md" >"$stage/accepted-files.txt"
sed -e '/^<!-- sources only -->$/,/^<!-- end of sources only -->$/d' \
    -e 's|build/tools/phonoskew-design|phonoskew-design.exe|' \
    -e 's|cp examples/coefficients/reference/|copy examples\\coefficients\\reference\\|' \
    -e 's|cp examples/coefficients/|copy examples\\coefficients\\|' \
    "$root/examples/README.md" | WindowsText >"$stage/examples/README.txt"

# The man pages name the installed files under /usr/local; here they are in
# the folder the programs are in, <phonoskew-folder>.
for page in "$root"/man/*.1; do
    sed -e 's|/usr/local/share/phonoskew/examples/coefficients/reference/|<phonoskew\\-folder>\\eexamples\\ecoefficients\\ereference\\e|g' \
        -e 's|/usr/local/share/phonoskew/examples/coefficients/|<phonoskew\\-folder>\\eexamples\\ecoefficients\\e|g' \
        -e 's|/usr/local/share/phonoskew/examples/|<phonoskew\\-folder>\\eexamples\\e|g' \
        -e 's|/usr/local/share/doc/phonoskew/accepted\\-files\.md|<phonoskew\\-folder>\\eaccepted\\-files.txt|g' \
        -e 's|\.\./share/phonoskew/examples/coefficients|examples\\ecoefficients|g' \
        -e 's|^cp <phonoskew|copy <phonoskew|' -e 's|^\.I README\.md$|.I README.txt|' \
        "$page" |
        groff -man -Tascii -P-cbou 2>/dev/null | sed 's/$/\r/' >"$stage/man/$(basename "$page" .1).txt"
done
if grep -l '/usr/local' "$stage"/man/*.txt; then
    echo "A man page above still names /usr/local." >&2
    exit 1
fi

# What a user gets: each program starts, and phonoskew-prepare finds the
# example sets beside itself and opens a name in any script.
for program in "${programs[@]}"; do
    wine "$stage/$(basename "$program")" --version </dev/null | tr -d '\r' | grep -q "$version"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
recording="$work/Aufnahme ä 中.wav"
wine "$stage/phonoskew-demo-signal.exe" "$recording" --seconds 1 </dev/null >/dev/null
(cd "$work" && LC_ALL=C.UTF-8 wine "$stage/phonoskew-prepare.exe" --gain=-1 "Aufnahme ä 中.wav" \
    </dev/null | tr -d '\r' | grep -q "^Wrote: 'Aufnahme ä 中 24-96.wav'")
(cd "$work" && LC_ALL=C.UTF-8 wine "$stage/phonoskew-prepare.exe" "Aufnahme ä 中.wav" laut.wav \
    </dev/null | tr -d '\r' | grep -q "examples.coefficients")
echo "phonoskew-prepare.exe under wine: 'Aufnahme ä 中.wav' read, the example sets found beside it"

# A refused recording: the command phonoskew.exe suggests, typed at cmd's
# prompt from another folder, converts it with the prepare tool beside it.
sox -n -r 44100 -b 16 -c 2 "$work/cd 100% rip.wav" synth 0.5 sine 440 vol 0.5
suggested=$(cd "$work" && printf 'cd 100%% rip.wav\r\r' | wine "$stage/phonoskew.exe" 2>&1 >/dev/null |
    sed -n 's/.*convert with: \(.*\), or with SoX: .*/\1/p')
(cd "$work" && printf '%s\r\nexit\r\n' "$suggested" | wine cmd >/dev/null 2>&1)
test -s "$work/cd 100% rip 24-96.wav"
echo "phonoskew.exe's suggested command, typed into cmd: $suggested"

rm -f "$build/$name.zip"
(cd "$build/zip" && cmake -E tar cf "$build/$name.zip" --format=zip "$name")
echo "Wrote $build/$name.zip ($(stat -c %s "$build/$name.zip") bytes)"
