#!/bin/sh
# Builds the release and the sanitizer (ASan + UBSan) variants with warnings
# as errors, in folders of its own, and runs the suite on each: a line per
# check, the whole log of a variant that fails, then the totals.
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d /tmp/zuvozozave-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM # so that an interrupted run cleans up too
chmod 755 "$work" # the restricted cases run as uid 65534
for sanitize in OFF ON; do
    log=$work/$sanitize.log
    { cmake -S . -B "$work/$sanitize" -DZUVOZOZAVE_WERROR=ON -DZUVOZOZAVE_SANITIZE=$sanitize &&
        cmake --build "$work/$sanitize" -j"$(nproc)"; } >"$log" 2>&1 || { cat "$log" && exit 1; }
    ctest --test-dir "$work/$sanitize" -V -j2 >>"$log" 2>&1 || cat "$log"
    echo "== sanitizers $sanitize"
    sed -n 's/^[0-9]*: \([a-z]*: \)/\1/p; s/^ *[0-9]*\/[0-9]* Test *#[0-9]*: //p' "$log"
done
awk '/^ *[0-9]+\/[0-9]+ Test +#/ { n[/Passed/ ? "passed" : /Skipped/ ? "skipped" : "failed"]++ }
    END { printf "%d passed, %d failed, %d skipped\n", n["passed"], n["failed"], n["skipped"]
        exit n["failed"] > 0 }' "$work"/*.log
