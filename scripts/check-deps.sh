#!/usr/bin/env bash
# Checks that the Debian packages Phonoskew builds with are installed, and
# says the one apt-get line that brings whatever is missing.
#   --install  installs them itself (used by CI, which runs as root)
#   --clang    also what the checking builds need (make check-sanitize, make
#              fuzz): clang, its sanitizer and libFuzzer runtimes, and
#              llvm-symbolizer for the reports' stack traces
#   --ci       also the tools that only CI's extra checks need (clang-format,
#              and all of --clang and --portable)
#   --demo     only what `make demo` needs: no GoogleTest or libvterm, nor
#              what phonoskew-prepare and its tests need
#   --bench    also SoX, the peer `make bench` measures against (which
#              the tests need as well)
#   --arm64    also what make check-arm64 needs: the arm64 cross compiler,
#              qemu-user, and MPFR and Highway for arm64 (multiarch); not
#              libvterm, as it cross-builds no test that reads a terminal
#   --portable also MPFR, for the software form of the 64-bit-significand
#              model (make check-portable; always where long double is not
#              the x87 format)
set -u
install=false
ci=false
clang=false
demo=false
bench=false
portable=false
arm64=false
[ "$(uname -m)" = x86_64 ] || portable=true
for arg in "$@"; do
    case $arg in
        --install) install=true ;;
        --ci) ci=true clang=true portable=true arm64=true ;;
        --clang) clang=true ;;
        --demo) demo=true ;;
        --bench) bench=true ;;
        --portable) portable=true ;;
        --arm64) arm64=true ;;
    esac
done
packages=()
command -v g++ >/dev/null 2>&1 || packages+=(g++)
command -v cmake >/dev/null 2>&1 || packages+=(cmake)
command -v make >/dev/null 2>&1 || packages+=(make)
[ -f /usr/include/hwy/highway.h ] || packages+=(libhwy-dev)
$demo || [ -f /usr/include/gtest/gtest.h ] || packages+=(libgtest-dev)
# The terminal the console and end-to-end tests read the screen from.
$demo || [ -f /usr/include/vterm.h ] || packages+=(libvterm-dev)
# phonoskew-prepare reads recordings with libsndfile and resamples with
# libsoxr; its tests make some of their recordings with flac and SoX.
if ! $demo; then
    [ -f /usr/include/sndfile.h ] || packages+=(libsndfile1-dev)
    [ -f /usr/include/soxr.h ] || packages+=(libsoxr-dev)
    command -v flac >/dev/null 2>&1 || packages+=(flac)
fi
if $portable; then
    [ -f /usr/include/mpfr.h ] || packages+=(libmpfr-dev)
fi
if $arm64; then
    command -v aarch64-linux-gnu-g++ >/dev/null 2>&1 || packages+=(crossbuild-essential-arm64)
    command -v qemu-aarch64 >/dev/null 2>&1 || packages+=(qemu-user)
    [ -f /usr/lib/aarch64-linux-gnu/libmpfr.so ] || packages+=(libmpfr-dev:arm64)
    [ -f /usr/lib/aarch64-linux-gnu/libhwy.so ] || packages+=(libhwy-dev:arm64)
    [ -d /usr/src/googletest ] || packages+=(libgtest-dev)
fi
if $bench; then
    command -v sox >/dev/null 2>&1 || packages+=(sox)
fi
if $ci; then
    command -v clang-format >/dev/null 2>&1 || packages+=(clang-format)
fi
if $clang; then
    command -v clang++ >/dev/null 2>&1 || packages+=(clang)
    # Only recommended by clang; the package of Debian's default clang.
    runtimes=$(clang++ -print-runtime-dir 2>/dev/null)
    compgen -G "${runtimes:-/nowhere}/libclang_rt.fuzzer*.a" >/dev/null || packages+=(libclang-rt-dev)
    command -v llvm-symbolizer >/dev/null 2>&1 || packages+=(llvm)
fi
[ ${#packages[@]} -eq 0 ] && exit 0

if $install && [ "$(id -u)" = 0 ]; then
    echo "Installing ${packages[*]} ..."
    # Packages of another architecture need it known to dpkg first.
    if [[ " ${packages[*]}" == *:arm64* ]]; then dpkg --add-architecture arm64; fi
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-remove \
        "${packages[@]}" && exit 0
    echo "Could not install ${packages[*]}." >&2
    exit 1
fi
echo "Phonoskew needs these Debian packages, which are not installed: ${packages[*]}" >&2
echo "Install them with:" >&2
if [[ " ${packages[*]}" == *:arm64* ]]; then
    echo "    sudo dpkg --add-architecture arm64 && sudo apt-get update" >&2
fi
echo "    sudo apt-get install ${packages[*]}" >&2
exit 1
