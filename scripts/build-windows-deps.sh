#!/usr/bin/env bash
# Builds the libraries the Windows build links that Debian ships no mingw
# build of, from Debian's own source packages, as static libraries for
# cmake/x86_64-w64-mingw32.cmake:
#   scripts/build-windows-deps.sh PREFIX [--prepare] [--listen]
# make windows builds Highway alone, which the program and its tests need;
# --prepare adds libsndfile and libsoxr with their codecs for
# phonoskew-prepare, a few minutes more; --listen adds PortAudio, libebur128
# and libsoxr for phonoskew-listen, about two minutes more. make windows-zip
# and make windows-installer take both.
# PREFIX gets include/, lib/ and lib/cmake/ (hwy, SndFile and the codecs'
# package files), and nothing is installed elsewhere; sources, build trees
# and logs go to PREFIX-work/. A library already built from the same source
# version with the same recipe (PREFIX/stamps/) is skipped, so a second run
# takes seconds; delete PREFIX to build everything again.
#
# - Highway: the hwy library alone, its headers copied beside it.
# - libsndfile: WAV, AIFF and the other formats it reads itself, and FLAC,
#   Ogg Vorbis and Opus through libogg, libFLAC, libvorbis and libopus
#   (libsndfile takes the three codecs together or none). No MPEG.
# - libsoxr: without OpenMP and without its libsamplerate-like interface.
# - PortAudio: its static library alone, with the WASAPI and MME host APIs
#   (its DirectSound code does not link with mingw's headers; ASIO and
#   WDM/KS are left out); a program links -lwinmm -lole32 -luuid -lksuser
#   -lsetupapi after it.
# - libebur128: the static library.
#
# Needs the mingw-w64 compilers, CMake, dpkg-dev and Debian's source archive
# in apt's sources (scripts/check-deps.sh --windows --install sees to all).
set -euo pipefail
usage="usage: $0 PREFIX [--prepare] [--listen]"
if [ $# -lt 1 ]; then
    echo "$usage" >&2
    exit 2
fi
prefix=$(realpath -m "$1")
shift
prepare=false
listen=false
for option in "$@"; do
    case $option in
        --prepare) prepare=true ;;
        --listen) listen=true ;;
        *)
            echo "$usage" >&2
            exit 2
            ;;
    esac
done
work=$prefix-work
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$root/cmake/x86_64-w64-mingw32.cmake
jobs=${JOBS:-2}
# Raise when a build's options change, so that every library is built again.
recipe=1

packages=(highway)
$prepare && packages+=(libogg flac libvorbis opus libsndfile)
{ $prepare || $listen; } && packages+=(libsoxr)
$listen && packages+=(portaudio19 libebur128)
# What apt would fetch of each, asked once (each asking takes seconds).
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v dpkg-source >/dev/null ||
    ! uris=$(apt-get source --print-uris -qq "${packages[@]}" 2>/dev/null); then
    echo "The Windows libraries need the mingw-w64 compilers, dpkg-dev and Debian's" >&2
    echo "source archive: run scripts/check-deps.sh --windows (--install as root)." >&2
    exit 1
fi
mkdir -p "$prefix/stamps" "$work/logs"

# The version apt would fetch of a source package, as 1.0.3-3+deb12u1.
SourceVersion() {
    sed -n -E "s/^'[^']*' ${1}_([^ ]+)\.dsc .*/\1/p" <<<"$uris" | head -n 1
}

# Fetches and unpacks (with Debian's patches) a source package into
# $work/src/NAME_VERSION/, once.
Unpack() {
    local package=$1 version=$2
    local into=$work/src/${package}_$version
    [ -f "$into/.unpacked" ] && return
    rm -rf "$into" && mkdir -p "$into"
    if ! (cd "$into" && apt-get source -qq "$package=$version" >>"$work/logs/$package.log" 2>&1); then
        # A mirror may lack a package's Debian part while it has the
        # upstream sources: those are then built as they are.
        local orig
        orig=$(find "$into" -maxdepth 1 -name "*.orig.tar.*" | head -n 1)
        if [ -z "$orig" ] || [ -n "$(find "$into" -mindepth 1 -maxdepth 1 -type d)" ]; then
            echo "Failed: apt-get source $package=$version (log $work/logs/$package.log):" >&2
            tail -n 30 "$work/logs/$package.log" >&2
            exit 1
        fi
        echo "$package $version: Debian's part could not be fetched; its upstream sources are built" >&2
        tar -xf "$orig" -C "$into"
    fi
    touch "$into/.unpacked"
}

# Runs a build step, its output to the package's log; on failure shows the
# log's end.
Logged() {
    local package=$1
    shift
    if ! "$@" >>"$work/logs/$package.log" 2>&1; then
        echo "Failed: $* (log $work/logs/$package.log):" >&2
        tail -n 30 "$work/logs/$package.log" >&2
        exit 1
    fi
}

# Configures a CMake build of the unpacked sources for Windows into PREFIX.
Configure() {
    local package=$1 folder=$2
    shift 2
    rm -rf "$work/build/$package"
    Logged "$package" cmake -S "$folder" -B "$work/build/$package" -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPHONOSKEW_WINDOWS_DEPS="$prefix" \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@"
}

BuildAndInstall() {
    Logged "$1" cmake --build "$work/build/$1" -j "$jobs"
    Logged "$1" cmake --install "$work/build/$1"
}

# Highway's own install needs its test library too: build the hwy target
# alone and put it, its headers and a CMake package file for hwy::hwy in
# place by hand.
BuildHighway() {
    local folder=$1
    Configure highway "$folder" -DHWY_ENABLE_EXAMPLES=OFF -DHWY_ENABLE_CONTRIB=OFF
    Logged highway cmake --build "$work/build/highway" -j "$jobs" --target hwy
    rm -rf "$prefix/include/hwy"
    mkdir -p "$prefix/include/hwy/ops" "$prefix/lib/cmake/hwy"
    cp "$folder"/hwy/*.h "$prefix/include/hwy/"
    cp "$folder"/hwy/ops/*.h "$prefix/include/hwy/ops/"
    cp "$work/build/highway/libhwy.a" "$prefix/lib/"
    cat >"$prefix/lib/cmake/hwy/hwy-config.cmake" <<'EOF'
# Written by scripts/build-windows-deps.sh: the static hwy library.
if(NOT TARGET hwy::hwy)
  get_filename_component(_hwy_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
  add_library(hwy::hwy STATIC IMPORTED)
  set_target_properties(hwy::hwy PROPERTIES
    IMPORTED_LOCATION "${_hwy_prefix}/lib/libhwy.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_hwy_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS HWY_STATIC_DEFINE)
  unset(_hwy_prefix)
endif()
EOF
}

BuildOgg() {
    Configure libogg "$1" -DINSTALL_DOCS=OFF
    BuildAndInstall libogg
}

# libFLAC alone (its build makes helper libraries for the programs too).
# No stack protector or fortified sources: both need mingw's libssp.
BuildFlac() {
    Configure flac "$1" -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
        -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF \
        -DWITH_FORTIFY_SOURCE=OFF
    Logged flac cmake --build "$work/build/flac" -j "$jobs" --target FLAC
    Logged flac cmake --install "$work/build/flac"
}

BuildVorbis() {
    Configure libvorbis "$1"
    BuildAndInstall libvorbis
}

# The released sources lack a file their CMake build includes, which only
# sets a default build type: an empty one does.
BuildOpus() {
    [ -f "$1/opus_buildtype.cmake" ] || : >"$1/opus_buildtype.cmake"
    Configure opus "$1" -DOPUS_STACK_PROTECTOR=OFF
    BuildAndInstall opus
}

# The codecs through their own CMake package files, which say they are
# static libraries (FLAC__NO_DLL); libsndfile's search modules would miss it.
BuildSndfile() {
    Configure libsndfile "$1" -DCMAKE_FIND_PACKAGE_PREFER_CONFIG=ON \
        -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=OFF \
        -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF
    BuildAndInstall libsndfile
}

BuildSoxr() {
    Configure libsoxr "$1" -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF \
        -DWITH_LSR_BINDINGS=OFF
    BuildAndInstall libsoxr
}

# The static library and the public headers by hand: PortAudio's install
# wants its shared library too.
BuildPortAudio() {
    Configure portaudio19 "$1" -DPA_USE_ASIO=OFF -DPA_USE_WASAPI=ON -DPA_USE_WMME=ON \
        -DPA_USE_DS=OFF -DPA_USE_WDMKS=OFF -DPA_BUILD_TESTS=OFF -DPA_BUILD_EXAMPLES=OFF
    Logged portaudio19 cmake --build "$work/build/portaudio19" -j "$jobs" --target portaudio_static
    mkdir -p "$prefix/include" "$prefix/lib"
    cp "$1"/include/portaudio.h "$1"/include/pa_win_wasapi.h "$1"/include/pa_win_wmme.h \
        "$prefix/include/"
    cp "$work/build/portaudio19/libportaudio_static.a" "$prefix/lib/"
}

BuildEbur128() {
    Configure libebur128 "$1"
    BuildAndInstall libebur128
}

# Builds one source package with its Build function unless its stamp says
# the same version was built by the same recipe after the same libraries it
# links (the stamps named after it).
Step() {
    local package=$1 build=$2
    shift 2
    local start=$SECONDS version key stamp=$prefix/stamps/$package
    version=$(SourceVersion "$package")
    if [ -z "$version" ]; then
        echo "apt knows no source package $package." >&2
        exit 1
    fi
    key="$package $version recipe $recipe"
    for dependency in "$@"; do key+=" / $(cat "$prefix/stamps/$dependency")"; done
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
        echo "$package $version: built already"
        return
    fi
    rm -f "$stamp"
    : >"$work/logs/$package.log"
    Unpack "$package" "$version"
    $build "$(find "$work/src/${package}_$version" -mindepth 1 -maxdepth 1 -type d)"
    echo "$key" >"$stamp"
    echo "$package $version: $((SECONDS - start)) s"
}

Step highway BuildHighway
if $prepare; then
    Step libogg BuildOgg
    Step flac BuildFlac libogg
    Step libvorbis BuildVorbis libogg
    Step opus BuildOpus
    Step libsndfile BuildSndfile libogg flac libvorbis opus
fi
if $prepare || $listen; then
    Step libsoxr BuildSoxr
fi
if $listen; then
    Step portaudio19 BuildPortAudio
    Step libebur128 BuildEbur128
fi
echo "Windows libraries in $prefix: $SECONDS s"
