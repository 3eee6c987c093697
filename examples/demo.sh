#!/bin/sh
# Builds the tool and shows the shipped example configuration, then what
# root and a restricted caller get from it.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build --target zuvozozave zuvozozave-demo -j"$(nproc)" >/dev/null
echo '== the configuration: examples/configuration'
cat examples/configuration
echo '== as root: build/zuvozozave-demo'
build/zuvozozave-demo
echo '== as a restricted caller (real uid 65534, as under a setuid install): -sq'
setpriv --ruid=65534 build/zuvozozave-demo -sq
echo '== restricted, naming sections: basic network menu'
setpriv --ruid=65534 build/zuvozozave-demo basic network menu
