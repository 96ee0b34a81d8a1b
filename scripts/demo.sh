#!/usr/bin/env bash
# Builds the library and its examples and runs the demo host program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-demo}
bash "$root/scripts/deps.sh" demo
BUILD_DIR=$build bash "$root/scripts/configure.sh" -DBUILD_TESTING=OFF -DRAVIXCORE_BUILD_EXAMPLES=ON
work=$(mktemp -d /tmp/ravixcore-demo.XXXXXX)
"$build/examples/startup-demo/startup-demo" "$work"
"$build/examples/daemon-demo/daemon-demo" "$work/daemon" ru_RU
