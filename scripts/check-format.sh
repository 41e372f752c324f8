#!/usr/bin/env bash
# Fails when a C++ file of src/, tools/, tests/ or fuzz/ differs from what
# clang-format makes of it (the rules are in .clang-format); names the files.
# Then prints the non-blank line counts of code and tests.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' \
    'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
if ! clang-format --dry-run -Werror "${files[@]}" 2>/dev/null; then
    echo "These files are not formatted (fix with: clang-format -i FILE):" >&2
    for file in "${files[@]}"; do
        clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || echo "    $file" >&2
    done
    exit 1
fi

# A figure to watch, never a failure: the non-blank lines of the code and of
# its tests, whose share should stay near a quarter to a third.
NonBlankLines() { git ls-files -- "$@" | xargs cat 2>/dev/null | grep -cv '^[[:space:]]*$' || true; }
code=$(NonBlankLines 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
tests=$(NonBlankLines 'tests/*.cpp' 'tests/*.h')
echo "Non-blank lines: code $code (src $(NonBlankLines 'src/*.cpp' 'src/*.h')," \
    "tools $(NonBlankLines 'tools/*.cpp' 'tools/*.h'), fuzz $(NonBlankLines 'fuzz/*.cpp' 'fuzz/*.h'))," \
    "tests $tests: $(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.2f", t / c }') of the code"
