#!/usr/bin/env bash
# Checks that the Debian packages Phonoskew builds with are installed, and
# says the one apt-get line that brings whatever is missing.
#   --install  installs them itself (used by CI, which runs as root)
#   --ci       also the tools that only CI's extra checks need (clang-format)
#   --demo     only what `make demo` needs: no GoogleTest
set -u
install=false
ci=false
demo=false
for arg in "$@"; do
    case $arg in
        --install) install=true ;;
        --ci) ci=true ;;
        --demo) demo=true ;;
    esac
done
packages=()
command -v g++ >/dev/null 2>&1 || packages+=(g++)
command -v cmake >/dev/null 2>&1 || packages+=(cmake)
command -v make >/dev/null 2>&1 || packages+=(make)
$demo || [ -f /usr/include/gtest/gtest.h ] || packages+=(libgtest-dev)
if $ci; then
    command -v clang-format >/dev/null 2>&1 || packages+=(clang-format)
fi
[ ${#packages[@]} -eq 0 ] && exit 0

if $install && [ "$(id -u)" = 0 ]; then
    echo "Installing ${packages[*]} ..."
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}" && exit 0
    echo "Could not install ${packages[*]}." >&2
    exit 1
fi
echo "Phonoskew needs these Debian packages, which are not installed: ${packages[*]}" >&2
echo "Install them with:" >&2
echo "    sudo apt-get install ${packages[*]}" >&2
exit 1
