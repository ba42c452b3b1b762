#!/usr/bin/env bash
# Prepares a fresh Debian machine for building and testing Quiltra: installs the packages of
# scripts/debian-packages-demo.txt and scripts/debian-packages.txt, lets 32-bit Windows
# programs run under Wine where the kernel cannot run 32-bit x86 code itself, and generates
# the locale the number-format tests use.
#
#   scripts/setup.sh          everything the tests need
#   scripts/setup.sh --demo   only what scripts/demo.sh needs (no Wine, MinGW, qemu, locale)
#
# Safe to run again: it only does what is still missing.
set -euo pipefail
cd "$(dirname "$0")/.."

demo_only=
case "${1:-}" in
    "") ;;
    --demo) demo_only=yes ;;
    *) echo "usage: scripts/setup.sh [--demo]" >&2; exit 2 ;;
esac

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

lists=(scripts/debian-packages-demo.txt)
[ -n "$demo_only" ] || lists+=(scripts/debian-packages.txt)
mapfile -t packages < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "${lists[@]}" | grep -v '^$')

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
[ -z "$demo_only" ] || exit 0

# Wine's 32-bit loader is an i386 program. A kernel without 32-bit support answers "Exec
# format error"; then i386 programs go through qemu's user-mode emulator (slow but exact).
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || as_root mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -e "$binfmt/qemu-i386" ]; then
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        printf '%s' ":qemu-i386:M::${magic}:${mask}:/usr/bin/qemu-i386:F" | as_root tee "$binfmt/register" >/dev/null
    fi
    /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "setup: cannot run 32-bit Wine" >&2; exit 1; }
fi

if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    as_root sed -i 's/^# *\(de_DE.UTF-8\)/\1/' /etc/locale.gen
    as_root locale-gen >/dev/null
fi
