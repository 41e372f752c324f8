#!/usr/bin/env bash
# Runs a command (a build that lists its tests, ctest) while one wine
# session for the Windows build's programs is up, then ends that session:
#   scripts/with-wine.sh WINDOWS_BUILD COMMAND...
# The wine prefix is WINDOWS_BUILD/wine, as in cmake/x86_64-w64-mingw32.cmake.
#
# Why: each wine start whose session is down starts wine's background
# services first (2 to 3 s), and those keep the standard output of the
# program that started them open until the session ends. ctest, and
# GoogleTest's listing of tests at build time, read a test's output through
# a pipe, so they would wait for every test until the session timed out,
# or for good once a session is kept up. Started here first, with their
# output going nowhere, the services are shared by every later start,
# which then takes a fraction of a second.
set -euo pipefail
build=$(realpath -m "$1")
shift
export WINEPREFIX=$build/wine WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
# Up until killed; the first start makes the prefix (about 10 s, once).
wineserver -p
trap 'wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1
"$@"
