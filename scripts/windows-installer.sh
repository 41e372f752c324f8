#!/usr/bin/env bash
# Makes the Windows installer from the zip's folder (make windows-installer,
# after make windows-zip), run inside scripts/with-wine.sh:
#   scripts/windows-installer.sh WINDOWS_BUILD
# writes WINDOWS_BUILD/phonoskew-VERSION-setup.exe with NSIS
# (scripts/windows-installer.nsi), then checks it under wine, silently (/S),
# once for the user and once for all users: the installed files, the folder
# on the PATH, the Start-menu entry (a Command Prompt in Documents\Phonoskew,
# which holds the example sets), phonoskew found on that PATH there, and an
# uninstall that leaves none of it behind.
set -euo pipefail
build=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n -E 's/^project\(Phonoskew VERSION ([0-9.]+) .*/\1/p' "$root/CMakeLists.txt")
stage=$build/zip/phonoskew-$version-windows-x86_64
setup=$build/phonoskew-$version-setup.exe
if [ ! -f "$stage/phonoskew.exe" ]; then
    echo "$stage is missing: make windows-zip makes it." >&2
    exit 1
fi
rm -f "$setup"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" \
    "$root/scripts/windows-installer.nsi"
echo "Wrote $setup ($(stat -c %s "$setup") bytes)"

# A Windows folder's Linux path, from a cmd expression such as %APPDATA%.
LinuxPath() {
    winepath -u "$(wine cmd /c echo "$1" </dev/null | tr -d '\r')"
}
# The PATH of a registry key, as reg prints it (empty when there is none).
RegistryPath() {
    { wine reg query "$1" /v Path </dev/null 2>/dev/null || true; } | tr -d '\r' |
        sed -n -E 's/^ *Path +REG_(EXPAND_)?SZ +//p'
}
Fail() {
    echo "The installer under wine ($mode): $*" >&2
    exit 1
}
# Waits up to 60 s for a folder to go: the uninstaller runs on from a copy
# of itself once it has started.
WaitUntilGone() {
    for _ in $(seq 120); do
        [ -e "$1" ] || return 0
        sleep 0.5
    done
    return 1
}

documents=$(LinuxPath '%USERPROFILE%')/Documents
work=$documents/Phonoskew
startMenuFor() {
    if [ "$1" = AllUsers ]; then LinuxPath '%ProgramData%'; else LinuxPath '%APPDATA%'; fi
}
for mode in CurrentUser AllUsers; do
    if [ $mode = AllUsers ]; then
        folder=$(LinuxPath '%ProgramW6432%')/Phonoskew
        key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
    else
        folder=$(LinuxPath '%LOCALAPPDATA%')/Programs/Phonoskew
        key='HKCU\Environment'
    fi
    entry=$(startMenuFor $mode)/Microsoft/Windows/Start\ Menu/Programs/Phonoskew.lnk
    pathBefore=$(RegistryPath "$key")
    wine "$setup" /S /$mode </dev/null >/dev/null 2>&1
    windowsFolder=$(winepath -w "$folder")

    # The files: the zip's, and the uninstaller.
    expected=$(cd "$stage" && find . -type f | sort)
    installed=$(cd "$folder" && find . -type f ! -name uninstall.exe | sort)
    [ "$installed" = "$expected" ] || Fail "$folder does not hold the zip's files"
    [ -f "$folder/uninstall.exe" ] || Fail "no uninstaller in $folder"
    for dat in FO SO FOP SOP; do
        cmp -s "$work/$dat.dat" "$stage/examples/coefficients/$dat.dat" || Fail "$work/$dat.dat"
    done
    [ -f "$work/examples/coefficients/reference/FO.dat" ] || Fail "no example sets in $work"

    # The PATH: the old one, then the folder.
    pathAfter=$(RegistryPath "$key")
    [ "$pathAfter" = "${pathBefore:+$pathBefore;}$windowsFolder" ] ||
        Fail "PATH is '$pathAfter', was '$pathBefore'"

    # The entry: a Command Prompt started in the working folder, the
    # programs first on its PATH.
    [ -f "$entry" ] || Fail "no Start-menu entry $entry"
    strings=$(strings -e l "$entry"; strings "$entry")
    grep -qi 'cmd\.exe' <<<"$strings" || Fail "the entry does not start cmd.exe"
    grep -qF "$(winepath -w "$work")" <<<"$strings" || Fail "the entry does not start in $work"
    grep -qF "set \"PATH=$windowsFolder;%PATH%\"" <<<"$strings" || Fail "the entry's PATH"
    # What the entry runs finds phonoskew there, with the example sets.
    (cd "$work" && wine cmd /c "set \"PATH=$windowsFolder;%PATH%\" & phonoskew --version" \
        </dev/null | tr -d '\r' | grep -q "$version") || Fail "phonoskew not found from the entry"

    # A recording of the user's in the working folder stays.
    echo mine >"$work/mine.wav"
    wine "$folder/uninstall.exe" /S /$mode </dev/null >/dev/null 2>&1
    WaitUntilGone "$folder" || Fail "$folder is still there after the uninstall"
    WaitUntilGone "$entry" || Fail "the Start-menu entry is still there"
    [ "$(RegistryPath "$key")" = "$pathBefore" ] || Fail "PATH after the uninstall: $(RegistryPath "$key")"
    [ "$(cd "$work" && find . -mindepth 1)" = ./mine.wav ] || Fail "$work after the uninstall"
    hive=HKCU
    [ $mode = AllUsers ] && hive=HKLM
    for left in 'Software\Phonoskew' 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Phonoskew'; do
        ! wine reg query "$hive\$left" </dev/null >/dev/null 2>&1 || Fail "$hive\$left is still there"
    done
    rm -r "$work"
    echo "Installer under wine, /$mode: files in $windowsFolder, on the PATH, the entry in $(winepath -w "$work"); uninstalled without a trace"
done
