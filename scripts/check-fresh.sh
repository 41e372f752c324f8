#!/usr/bin/env bash
# make check-fresh: the README's two commands on a brand-new Debian 12, run
# as a newcomer runs them. A minimal Debian 12 is made with debootstrap in
# FOLDER/root (default build-fresh/), with only what a new C++ machine of
# ours has added (g++, clang, cmake, make, git, python3); this repository's
# committed main is cloned into it; then `make demo` and `make test` run
# there in turn. A command that stops on missing packages has printed the
# apt-get line that brings them: that line is run, then the command again.
# Both must end with status 0. Needs root (debootstrap, mount, chroot) and
# Debian's package mirror; takes some minutes, so CI leaves it out.
#
# The base system (debootstrap and the six packages) is kept as
# FOLDER/base.tar and unpacked afresh for every run: the first run takes a
# few minutes longer.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
fresh=${1:-$source_dir/build-fresh}
case $fresh in /*) ;; *) fresh=$source_dir/$fresh ;; esac
root=$fresh/root
suite=bookworm
new_machine_packages="g++ clang cmake make git python3 ca-certificates"

if [ "$(id -u)" != 0 ]; then
    echo "make check-fresh needs root: it runs debootstrap, mount and chroot." >&2
    exit 1
fi

# The mirror this machine's apt uses, so that the new system reaches the
# same one.
Mirror() {
    local uri
    uri=$(sed -n -E 's/^URIs:[[:space:]]*([^[:space:]]+).*/\1/p' \
        /etc/apt/sources.list.d/debian.sources 2>/dev/null | grep -v security | head -n 1)
    [ -n "$uri" ] || uri=$(sed -n -E 's/^deb[[:space:]]+([^[:space:]]+)[[:space:]]+.*/\1/p' \
        /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1)
    echo "${uri:-http://deb.debian.org/debian}"
}

Unmount() {
    local point
    for point in dev sys proc; do
        if mountpoint -q "$root/$point" 2>/dev/null; then umount -R -l "$root/$point" || true; fi
    done
}
trap Unmount EXIT

# A root left mounted by a run that was killed must never be removed through
# its mounts (the host's /dev and /sys): unmount first, and stay on the one
# file system.
RemoveRoot() {
    Unmount
    rm -rf --one-file-system "$root"
}

# Runs a shell command inside the new system as root, in a clean
# environment (nothing of this machine's settings or caches).
InNewSystem() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive /bin/bash -c "$1"
}

MountSystemFolders() {
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
    # The tests open pseudo-terminals: the host's /dev with its devpts.
    mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
}

MakeBase() {
    local mirror
    mirror=$(Mirror)
    echo "Making a minimal Debian 12 from $mirror (once) ..."
    RemoveRoot
    debootstrap --variant=minbase $suite "$root" "$mirror" >"$fresh/debootstrap.log" 2>&1 ||
        { tail -n 20 "$fresh/debootstrap.log" >&2; exit 1; }
    printf 'deb %s %s main\ndeb %s %s-updates main\n' "$mirror" $suite "$mirror" $suite \
        >"$root/etc/apt/sources.list"
    MountSystemFolders
    InNewSystem "apt-get update -qq && apt-get install -y -qq --no-install-recommends \
        $new_machine_packages" >"$fresh/base-packages.log" 2>&1 ||
        { tail -n 20 "$fresh/base-packages.log" >&2; exit 1; }
    Unmount
    tar -C "$root" -cf "$fresh/base.tar.part" . && mv "$fresh/base.tar.part" "$fresh/base.tar"
}

# Runs one README command as a newcomer would; on failure, the apt-get line
# it printed, then the command once more.
RunAsNewcomer() {
    local command=$1 log=$fresh/${1// /-}.log start=$SECONDS line
    echo "== $command"
    if InNewSystem "cd /root/phonoskew && $command" >"$log" 2>&1; then
        echo "   passed at once ($((SECONDS - start)) s)"
        return 0
    fi
    line=$(sed -n -E 's/^[[:space:]]*sudo (apt-get install .*)$/\1/p' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        echo "   failed without naming packages to install; the end of $log:" >&2
        tail -n 30 "$log" >&2
        return 1
    fi
    echo "   it asked for: $line"
    InNewSystem "apt-get update -qq && $line -y -qq" >>"$log" 2>&1 ||
        { echo "   the apt-get line failed; see $log" >&2; return 1; }
    if InNewSystem "cd /root/phonoskew && $command" >>"$log" 2>&1; then
        echo "   passed after the apt-get line ($((SECONDS - start)) s)"
        return 0
    fi
    echo "   failed after the apt-get line; the end of $log:" >&2
    tail -n 40 "$log" >&2
    return 1
}

mkdir -p "$fresh"
started=$SECONDS
[ -f "$fresh/base.tar" ] || MakeBase
RemoveRoot && mkdir -p "$root"
tar -C "$root" -xf "$fresh/base.tar"
MountSystemFolders
git clone -q "$source_dir" "$root/root/phonoskew"
echo "A new Debian 12 with $new_machine_packages; main at $(git -C "$source_dir" rev-parse --short HEAD)."

status=0
RunAsNewcomer "make demo" || status=1
RunAsNewcomer "make test" || status=1
echo "check-fresh: $([ $status = 0 ] && echo passed || echo FAILED) in $((SECONDS - started)) s"
exit $status
