#!/bin/sh
# SPDX-License-Identifier: ISC
# Builds the tool and shows the shipped example configuration, then what
# root and a restricted caller get from it. Run by another user, it shows
# that user's own view, which is the restricted one.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build --target zuvozozave zuvozozave-demo -j"$(nproc)" >/dev/null
echo '== the configuration: examples/configuration'
cat examples/configuration
restricted=build/zuvozozave-demo
if [ "$(id -u)" = 0 ]; then
    echo '== as root: build/zuvozozave-demo'
    build/zuvozozave-demo
    restricted="setpriv --ruid=65534 $restricted"
    echo '== as a restricted caller (real uid 65534, as under a setuid install): -sq'
else
    echo "== the root view needs root: sudo sh examples/demo.sh shows it too"
    echo "== as $(id -un), a restricted caller: -sq"
fi
# A setuid run reads only through folders that root alone may change.
$restricted -sq || echo "== refused: a folder on the way to examples/ is not root's alone"
echo '== restricted, naming sections: basic network menu'
$restricted basic network menu || echo "== refused, as above: see zuvozozave(1), SECURITY"
