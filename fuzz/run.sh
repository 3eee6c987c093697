#!/bin/sh
# Fuzzes for a bounded time; as root both as uid 0 and as uid 65534, since the
# real user id picks the restricted paths. Usage: run.sh FUZZER SECONDS
set -eu
fuzzer=$1 seconds=$2
work=$(mktemp -d /tmp/zuvozozave-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

fuzz() {
    name=$1 owner=$2
    shift 2
    cp -r "$(dirname "$0")/corpus" "$work/$name"
    chown -R "$owner" "$work/$name" "$(dirname "$fuzzer")/fuzz-root"
    if ! "$@" "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$work/$name-" "$work/$name" >"$work/$name.log" 2>&1; then
        tail -n 60 "$work/$name.log"
        echo "fuzz $name: FAILED"
        exit 1
    fi
    echo "fuzz $name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log") inputs in $seconds s," \
        "no crash, no sanitizer report, no leak"
}

if [ "$(id -u)" = 0 ]; then
    fuzz unrestricted 0
    fuzz restricted 65534 setpriv --reuid=65534 --regid=65534 --clear-groups
else
    fuzz restricted "$(id -u)"
    echo "SKIP fuzzing the unrestricted paths: they need uid 0"
fi
