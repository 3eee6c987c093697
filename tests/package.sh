#!/bin/sh
# SPDX-License-Identifier: ISC
# The Debian package as a distribution builds it (argv: SOURCE): two
# builds of the checkout in different folders, under different umasks and at
# different times, give the same .debs; lintian has nothing to say, not even
# pedantic; blhc finds the packager's flags on every line; the tool is
# shipped 4755 root:root, hardened, beside a debug symbols package.
set -eu
source=$1
# dh runs debian/rules itself, so not in a build folder that may lie in a noexec /tmp.
work=$(mktemp -d /var/tmp/zuvozozave-package.XXXXXX) && trap 'rm -rf "$work"' EXIT
for build in a b; do
    mkdir -p "$work/$build/zuvozozave"
    git -C "$source" ls-files -co --exclude-standard -z | (cd "$source" &&
        xargs -0 cp --parents -t "$work/$build/zuvozozave")
    (cd "$work/$build/zuvozozave" && umask "$([ $build = a ] && echo 022 || echo 077)" &&
        DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -us -uc >../build.log 2>&1) ||
        { cat "$work/$build/build.log" && exit 1; }
done
failed=0
check() { # what, then the command that must succeed
    what=$1 && shift
    if "$@" >"$work/check.log" 2>&1; then echo "package: ok   $what"; else
        echo "package: FAIL $what" && cat "$work/check.log" && failed=1
    fi
}
cd "$work"
# shellcheck disable=SC2016 # expanded by the shells that check
check "two builds in different folders are identical, with debug symbols" sh -c \
    'for deb in a/*.deb; do cmp "$deb" "b/${deb#a/}" || exit; done; [ -e a/*-dbgsym_*.deb ]'
check "lintian: no tag, not even pedantic" sh -c \
    '! lintian --pedantic --display-info a/*.changes 2>/dev/null | grep .'
check "blhc: the packager's flags on every line" blhc --all --debian a/build.log
set -- a/zuvozozave_*_*.deb
check "it holds the tool 4755 root:root" sh -c \
    "dpkg-deb -c $1 | grep -q '^-rwsr-xr-x root/root .* ./usr/bin/zuvozozave$'"
dpkg-deb -x "$1" x && readelf -W -hld --dyn-syms x/usr/bin/zuvozozave >elf
# shellcheck disable=SC2317 # called through check
hardened() {
    for want in 'Type:\s+DYN' GNU_RELRO BIND_NOW __stack_chk_fail '__\w+_chk@' \
        'GNU_STACK.*\sRW\s'; do
        grep -qP "$want" elf || return
    done
}
check "hardened as Debian's setuid programs: PIE, RELRO, now, canary, fortified, no exec stack" \
    hardened
exit "$failed"
