#!/bin/sh
# SPDX-License-Identifier: ISC
# The layout the formatters of Debian 12 and 13 both accept. Other versions
# may lay out the same code otherwise, so with them the check is skipped.
set -eu
versions="$(black --version | head -n 1), $(clang-format --version)"
case $versions in
*"black, 2"[35].*" version 1"[49].*) ;;
*) echo "skipped: the layout is kept for black 23 and 25 and clang-format 14 and 19: $versions"
    exit 77 ;;
esac
black -q --check . && clang-format -n --Werror src/*
# No line of the tests over 100 columns: grep finds none (1), not an error (2).
status=0
grep -nE '.{101}' tests/*.py tests/*.sh tests/CMakeLists.txt debian/tests/* || status=$?
[ "$status" = 1 ]
