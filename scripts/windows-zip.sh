#!/usr/bin/env bash
# Packs the Windows build (make windows-zip), run inside scripts/with-wine.sh:
#   scripts/windows-zip.sh WINDOWS_BUILD
# writes WINDOWS_BUILD/phonoskew-VERSION-windows-x86_64.zip, one folder of
# the same name holding
#   phonoskew.exe, phonoskew-prepare.exe, phonoskew-design.exe,
#     phonoskew-demo-signal.exe and, where it was built, phonoskew-listen.exe
#     (stripped of their debugging data),
#   examples\coefficients\ (the example sets and their plots, and the
#     reference set), examples\README.txt and examples\batch.bat,
#   README.txt (docs/README-windows.txt: the README for a Windows user),
#     docs\README.md (the full README), accepted-files.txt and man\*.txt:
#     the texts as Windows reads them, UTF-8 with CR LF line ends; the man
#     pages rendered as plain text with their commands as a Windows user
#     types them (scripts/windows-man.sed).
# The folder stays in WINDOWS_BUILD/zip/ for the installer
# (scripts/windows-installer.sh). First it checks what the zip holds under
# wine: every program's --version; phonoskew-prepare, run from elsewhere, on
# a recording whose name is not ASCII, with the example sets beside it; and
# examples\batch.bat over a folder with an accepted recording, a refused one
# and the outputs of an earlier run.
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

# phonoskew-listen where its libraries were found (PortAudio, libebur128).
listen=false
if [ -f "$build/tools/phonoskew-listen.exe" ]; then
    programs+=(tools/phonoskew-listen.exe)
    listen=true
fi

rm -rf "$build/zip" && mkdir -p "$stage/man" "$stage/examples/coefficients" "$stage/docs"
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
# The README for a Windows user names phonoskew-listen only where it is.
if $listen; then
    sed "s/@VERSION@/$version/g" "$root/docs/README-windows.txt"
else
    sed -e "s/@VERSION@/$version/g" -e '/^    phonoskew-listen.exe /d' \
        -e '/^phonoskew-listen does all of this for you:$/,/^devices it can use\.$/d' \
        "$root/docs/README-windows.txt"
fi | WindowsText >"$stage/README.txt"
# No Linux command in it.
if grep -n -E '^ +(make|apt-get|sudo|sed|grep|ln|cp|mv|ls|cat|xxd|man|sh|bash) |/usr/|~/|\$\(' \
    "$stage/README.txt"; then
    echo "README.txt above names a Linux command or path." >&2
    exit 1
fi
WindowsText <"$root/README.md" >"$stage/docs/README.md"
# A batch file without the byte order mark, which cmd would take for a command.
sed 's/$/\r/' "$root/examples/batch.bat" >"$stage/examples/batch.bat"
WindowsText <"$root/docs/accepted-files.md" >"$stage/accepted-files.txt"
sed -f "$root/scripts/windows-examples.sed" "$root/examples/README.md" |
    WindowsText >"$stage/examples/README.txt"

# The man pages name the installed files under /usr/local; here they are in
# the folder the programs are in, <phonoskew-folder>.
for page in "$root"/man/*.1; do
    [ "$(basename "$page")" = phonoskew-listen.1 ] && ! $listen && continue
    sed -f "$root/scripts/windows-man.sed" "$page" |
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
# Its input ends at the prompt after the refusal, which is exit status 2.
suggested=$(cd "$work" &&
    { printf 'cd 100%% rip.wav\r\r' | wine "$stage/phonoskew.exe" 2>&1 >/dev/null || true; } |
    sed -n 's/.*convert with: \(.*\), or with SoX: .*/\1/p')
[ -n "$suggested" ] || { echo "phonoskew.exe suggested no command for a refused recording" >&2; exit 1; }
(cd "$work" && printf '%s\r\nexit\r\n' "$suggested" | wine cmd >/dev/null 2>&1)
test -s "$work/cd 100% rip 24-96.wav"
echo "phonoskew.exe's suggested command, typed into cmd: $suggested"

# examples\batch.bat over a folder: an accepted recording whose name holds
# cmd's special characters, a refused one, and one done by an earlier run,
# whose outputs are passed over as well.
batch=$work/batch
mkdir -p "$batch"
cp "$stage"/examples/coefficients/{FO,SO,FOP,SOP}.dat "$batch"/
wine "$stage/phonoskew-demo-signal.exe" "$batch/take 1 & co!.wav" --seconds 1 </dev/null >/dev/null
cp "$batch/take 1 & co!.wav" "$batch/earlier.wav"
for n in 1 2 3 4; do echo earlier >"$batch/earlier RIAA error $n.wav"; done
printf 'RIFF\044\0\0\0WAVEjunk' >"$batch/refused.wav"
status=0
(cd "$batch" && wine cmd /c "$(winepath -w "$stage/examples/batch.bat")" "$(winepath -w "$batch")") \
    </dev/null >/dev/null 2>"$work/batch-errors" || status=$?
made=$(cd "$batch" && LC_ALL=C ls -- *.wav | tr '\n' '/')
expected="earlier RIAA error 1.wav/earlier RIAA error 2.wav/earlier RIAA error 3.wav/earlier RIAA error 4.wav/earlier.wav/refused.wav/take 1 & co! RIAA error 1.wav/take 1 & co! RIAA error 2.wav/take 1 & co! RIAA error 3.wav/take 1 & co! RIAA error 4.wav/take 1 & co!.wav/"
if [ $status != 1 ] || [ "$made" != "$expected" ] || ! grep -q '^"refused.wav": not done (2)' \
    <(tr -d '\r' <"$work/batch-errors") || [ "$(cat "$batch/earlier RIAA error 1.wav")" != earlier ]; then
    echo "examples\\batch.bat under wine: exit status $status, wrote $made, said:" >&2
    cat "$work/batch-errors" >&2
    exit 1
fi
echo "examples\\batch.bat under wine: the accepted recording done, the refused one named, earlier outputs left alone"

rm -f "$build/$name.zip"
(cd "$build/zip" && cmake -E tar cf "$build/$name.zip" --format=zip "$name")
echo "Wrote $build/$name.zip ($(stat -c %s "$build/$name.zip") bytes)"
