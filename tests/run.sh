#!/bin/sh
# SPDX-License-Identifier: ISC
# Builds the release and the sanitizer (ASan + UBSan) variants with warnings
# as errors, in build/suite of the checkout, and runs every check on the
# release and the cases on the sanitizer build: a line per check, the whole
# log of a variant that fails, then the totals.
set -eu
cd "$(dirname "$0")/.."
mkdir -p build/suite
for sanitize in OFF ON; do
    dir=build/suite/$sanitize log=build/suite/$sanitize.log
    { cmake -S . -B "$dir" -DZUVOZOZAVE_WERROR=ON -DZUVOZOZAVE_SANITIZE=$sanitize &&
        cmake --build "$dir" -j"$(nproc)"; } >"$log" 2>&1 ||
        { cat "$log" && exit 1; }
    ctest --test-dir "$dir" -V -j2 >>"$log" 2>&1 || cat "$log"
    echo "== sanitizers $sanitize"
    sed -n 's/^[0-9]*: \([a-z]*: \)/\1/p; s/^ *[0-9]*\/[0-9]* Test *#[0-9]*: //p' "$log"
done
awk '/^ *[0-9]+\/[0-9]+ Test +#/ { n[/Passed/ ? "passed" : /Skipped/ ? "skipped" : "failed"]++ }
    END { printf "%d passed, %d failed, %d skipped\n", n["passed"], n["failed"], n["skipped"]
        exit n["failed"] > 0 }' build/suite/*.log
