#!/bin/sh
# Builds the release and the sanitizer (ASan + UBSan) variants with warnings
# as errors, in folders of its own, and runs the suite on each: a summary
# line per check, the whole log only on failure.
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d /tmp/zuvozozave-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work" # the restricted cases run as uid 65534
for sanitize in OFF ON; do
    log=$work/$sanitize.log
    if ! { cmake -S . -B "$work/$sanitize" -DZUVOZOZAVE_WERROR=ON -DZUVOZOZAVE_SANITIZE=$sanitize &&
        cmake --build "$work/$sanitize" -j"$(nproc)" && ctest --test-dir "$work/$sanitize" -V; } >"$log" 2>&1; then
        cat "$log"
        exit 1
    fi
    echo "== sanitizers $sanitize"
    sed -n 's/^[0-9]*: \([a-z]*: \)/\1/p; s/^ *[0-9]*\/[0-9]* Test *#[0-9]*: //p' "$log"
done
