#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds into $BUILD_DIR (default: build). Extra arguments go to cmake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    "-DRAVIXCORE_SANITIZE=${RAVIXCORE_SANITIZE:-}" "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
