#!/usr/bin/env bash
# Checks that the Debian packages Phonoskew builds with are installed, and
# says the one apt-get line that brings whatever is missing.
#   --install  installs them itself (used by CI, which runs as root)
#   --clang    also what the checking builds need (make check-sanitize, make
#              fuzz): clang, its sanitizer and libFuzzer runtimes, and
#              llvm-symbolizer for the reports' stack traces
#   --ci       also the tools that only CI's extra checks need (clang-format,
#              and all of --clang, --portable, --arm64 and --windows)
#   --demo     only what `make demo` needs: no GoogleTest or libvterm, nor
#              what phonoskew-prepare and its tests need
#   --bench    what `make bench` needs (SoX, its peer, is already among
#              the tests' packages)
#   --fresh    also debootstrap, for make check-fresh
#   --arm64    also what make check-arm64 needs: the arm64 cross compiler,
#              qemu-user, and MPFR and Highway for arm64 (multiarch); not
#              libvterm, as it cross-builds no test that reads a terminal
#   --portable also MPFR, for the software form of the 64-bit-significand
#              model (make check-portable; always where long double is not
#              the x87 format)
#   --windows  also what make windows needs: the mingw-w64 cross compiler
#              (its -posix thread model), wine to run the programs, and
#              for scripts/build-windows-deps.sh, which builds Highway,
#              libsndfile and libsoxr for Windows from Debian's sources,
#              dpkg-dev (apt-get source unpacks with its dpkg-source) and
#              the source archive in apt's sources (see below)
#   --installer also NSIS, for make windows-installer (with --windows)
set -u
install=false
ci=false
clang=false
demo=false
portable=false
arm64=false
windows=false
fresh=false
installer=false
[ "$(uname -m)" = x86_64 ] || portable=true
for arg in "$@"; do
    case $arg in
        --install) install=true ;;
        --ci) ci=true clang=true portable=true arm64=true windows=true ;;
        --clang) clang=true ;;
        --demo) demo=true ;;
        --bench) ;;
        --portable) portable=true ;;
        --arm64) arm64=true ;;
        --windows) windows=true ;;
        --fresh) fresh=true ;;
        --installer) windows=true installer=true ;;
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
# libsoxr; its tests make some of their recordings with flac and SoX, which
# is also the peer `make bench` measures against.
if ! $demo; then
    [ -f /usr/include/sndfile.h ] || packages+=(libsndfile1-dev)
    [ -f /usr/include/soxr.h ] || packages+=(libsoxr-dev)
    command -v flac >/dev/null 2>&1 || packages+=(flac)
    command -v sox >/dev/null 2>&1 || packages+=(sox)
    # phonoskew-listen plays through PortAudio (its tests into ALSA's file
    # device, which libasound2 brings) and measures loudness with libebur128.
    [ -f /usr/include/portaudio.h ] || packages+=(portaudio19-dev)
    [ -f /usr/include/ebur128.h ] || packages+=(libebur128-dev)
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
if $windows; then
    command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || packages+=(g++-mingw-w64-x86-64-posix)
    # wine64 holds the loader, wine the `wine` command.
    command -v wine >/dev/null 2>&1 || packages+=(wine wine64)
    command -v dpkg-source >/dev/null 2>&1 || packages+=(dpkg-dev)
    [ -d /usr/src/googletest ] || packages+=(libgtest-dev)
fi
if $installer; then
    command -v makensis >/dev/null 2>&1 || packages+=(nsis)
fi
if $fresh; then
    command -v debootstrap >/dev/null 2>&1 || packages+=(debootstrap)
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
# The Windows libraries are built from Debian's source packages, so apt
# must know the source archive: `apt-get source` fails until it does.
sources=true
if $windows && ! apt-get source --print-uris -qq highway >/dev/null 2>&1; then
    sources=false
fi
[ ${#packages[@]} -eq 0 ] && $sources && exit 0

# What --install adds to apt's sources for that, then `apt-get update`:
#  - in /etc/apt/sources.list.d/debian.sources (Debian 12's own form), the
#    line "Types: deb" of each entry becomes "Types: deb deb-src";
#  - else, each "deb URI SUITE COMPONENTS" line of /etc/apt/sources.list
#    is written again as "deb-src URI SUITE COMPONENTS" into
#    /etc/apt/sources.list.d/deb-src.list.
# Nothing else changes: the same mirrors, suites and components.
AddSourceArchive() {
    local deb822=/etc/apt/sources.list.d/debian.sources
    if [ -f $deb822 ]; then
        sed -i -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb deb-src/' $deb822
    elif [ -f /etc/apt/sources.list ]; then
        sed -n -E 's/^deb[[:space:]]+/deb-src /p' /etc/apt/sources.list \
            >/etc/apt/sources.list.d/deb-src.list
    fi
}

if $install && [ "$(id -u)" = 0 ]; then
    # Packages of another architecture need it known to dpkg first.
    if [[ " ${packages[*]}" == *:arm64* ]]; then dpkg --add-architecture arm64; fi
    $sources || AddSourceArchive
    apt-get update -qq || { echo "apt-get update failed." >&2; exit 1; }
    if ! $sources && ! apt-get source --print-uris -qq highway >/dev/null 2>&1; then
        echo "Could not add Debian's source archive (deb-src) to apt's sources." >&2
        exit 1
    fi
    [ ${#packages[@]} -eq 0 ] && exit 0
    echo "Installing ${packages[*]} ..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-remove "${packages[@]}" && exit 0
    echo "Could not install ${packages[*]}." >&2
    exit 1
fi
if [ ${#packages[@]} -gt 0 ]; then
    echo "Phonoskew needs these Debian packages, which are not installed: ${packages[*]}" >&2
    echo "Install them with:" >&2
    if [[ " ${packages[*]}" == *:arm64* ]]; then
        echo "    sudo dpkg --add-architecture arm64 && sudo apt-get update" >&2
    fi
    echo "    sudo apt-get install ${packages[*]}" >&2
fi
if ! $sources; then
    echo "The Windows libraries are built from Debian's source packages, which apt" >&2
    echo "does not know yet: add deb-src to the Types: line of" >&2
    echo "/etc/apt/sources.list.d/debian.sources (or a deb-src line for each deb line" >&2
    echo "of /etc/apt/sources.list), then run sudo apt-get update;" >&2
    echo "scripts/check-deps.sh --windows --install does both." >&2
fi
exit 1
