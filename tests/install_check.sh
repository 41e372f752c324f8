#!/usr/bin/env bash
# Installs the build into a scratch prefix that holds a blank and checks
# that the programs (with their --version; phonoskew-prepare where it was
# built, finding the example sets installed beside it), the man pages, the example sets
# (coefficients, plots, the reference set, README) and the guide to accepted files are there,
# and that the pages and the README name this prefix's paths; then that
# every man page renders with `man -l`, installed and from the source tree,
# and carries the project's version.
#   install_check.sh BUILD SOURCE VERSION
set -euo pipefail
build=$1 source=$2 version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/odd prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
fail() {
    echo "$*" >&2
    status=1
}
expect_file() { [ -s "$prefix/$1" ] || fail "not installed: $1"; }
programs=(phonoskew phonoskew-design phonoskew-demo-signal)
# Built only where libsndfile and libsoxr are found.
[ -x "$build/tools/phonoskew-prepare" ] && programs+=(phonoskew-prepare)
# Built only where PortAudio, libebur128 and libsoxr are found.
[ -x "$build/tools/phonoskew-listen" ] && programs+=(phonoskew-listen)
for program in "${programs[@]}"; do
    expect_file "bin/$program"
    expect_file "share/man/man1/$program.1"
done
expect_file share/phonoskew/examples/README.md
for set in FO SO FOP SOP; do
    expect_file "share/phonoskew/examples/coefficients/$set.dat"
    expect_file "share/phonoskew/examples/coefficients/$set.svg"
    expect_file "share/phonoskew/examples/coefficients/reference/$set.dat"
done
expect_file share/doc/phonoskew/accepted-files.md
for program in "${programs[@]}"; do
    shown=$("$prefix/bin/$program" --version) || fail "$program --version fails"
    [ "$shown" = "$program $version" ] || fail "$program --version says: $shown"
done

# The installed texts name this prefix, quoted, and nothing of a default
# install or a source tree.
examples="\"$prefix/share/phonoskew/examples/coefficients/\""
pages=("$prefix"/share/man/man1/*.1)
grep -qF "$examples" "$prefix/share/man/man1/phonoskew.1" || fail "phonoskew.1: no $examples"
grep -qF "$examples*.dat" "$prefix/share/phonoskew/examples/README.md" ||
    fail "examples README: no $examples*.dat"
grep -qF "\"$prefix/bin/phonoskew-design\" --out" "$prefix/share/phonoskew/examples/README.md" ||
    fail "examples README: no installed phonoskew-design"
# The installed phonoskew-prepare finds the sets installed beside it.
if [[ " ${programs[*]} " == *" phonoskew-prepare "* ]]; then
    grep -qF "$examples" "$prefix/share/man/man1/phonoskew-prepare.1" ||
        fail "phonoskew-prepare.1: no $examples"
    "$prefix/bin/phonoskew-prepare" --help |
        grep -qxF "  $prefix/share/phonoskew/examples/coefficients" ||
        fail "phonoskew-prepare --help names no installed example sets"
fi
texts=("${pages[@]}" "$prefix/share/phonoskew/examples/README.md"
    "$prefix/share/doc/phonoskew/accepted-files.md")
for text in "${texts[@]}"; do
    if grep -n '/usr/local\|build/tools' "$text" >&2; then fail "$text: names another install"; fi
    # Nor what only a source tree has: its make targets, builds, tests and README.
    if grep -n 'make demo\|make test\|cmake -S\|tools_tests\|sources only\|source tree\|the sources\|README.s\|docs/' "$text" >&2; then
        fail "$text: names what only the source tree has"
    fi
done

cd "$source"
for page in man/*.1 "${pages[@]}"; do
    grep -q "^\.TH .* \"Phonoskew $version\" " "$page" || fail "$page: not marked Phonoskew $version"
    if command -v man >/dev/null 2>&1; then
        errors=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null) || fail "$page: man -l fails"
    elif command -v groff >/dev/null 2>&1; then
        errors=$(groff -man -Tutf8 -ww -z "$page" 2>&1) || fail "$page: groff fails"
    else
        echo "neither man nor groff is installed: the pages' rendering is not checked"
        errors=
    fi
    [ -z "$errors" ] || fail "$page: $errors"
done
exit $status
