#!/usr/bin/env bash
# Fails when a C++ file of src/, tools/, tests/ or fuzz/ differs from what
# clang-format makes of it (the rules are in .clang-format); names the files.
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
