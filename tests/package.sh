#!/bin/sh
# SPDX-License-Identifier: ISC
# The Debian package as a distribution builds it (argv: SOURCE): two
# builds of the checkout in different folders, under different umasks and at
# different times, give the same .debs; lintian has nothing to say, not even
# pedantic; blhc finds the packager's hardening flags on every line; the tool
# is shipped 4755 root:root, beside a debug symbols package.
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
    if (shift && "$@") >"$work/check.log" 2>&1; then echo "package: ok   $1"; else
        echo "package: FAIL $1" && cat "$work/check.log" && failed=1
    fi
}
cd "$work"
# shellcheck disable=SC2016 # expanded by the shells that check
check "two builds in different folders are identical, with debug symbols" sh -c \
    'for deb in a/*.deb; do cmp "$deb" "b/${deb#a/}" || exit; done; [ -e a/*-dbgsym_*.deb ]'
# Debian 13's lintian counts Debian 12's policy, which the package follows, as out of date.
check "lintian: no tag, not even pedantic" sh -c '! lintian --pedantic --display-info \
    --suppress-tags out-of-date-standards-version a/*.changes 2>/dev/null | grep .'
check "blhc: the packager's flags on every line" blhc --all --debian a/build.log
check "it holds the tool 4755 root:root" sh -c \
    "dpkg-deb -c a/zuvozozave_*_*.deb | grep '^-rwsr-xr-x root/root .* ./usr/bin/zuvozozave$'"
exit "$failed"
