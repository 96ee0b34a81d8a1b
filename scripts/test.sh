#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the library with every test and runs them all.
# BUILD_DIR, RAVIXCORE_SANITIZE and CTEST_ARGS adjust the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/deps.sh" test
BUILD_DIR=$build bash "$root/scripts/configure.sh" -DBUILD_TESTING=ON
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/sanitizers/lsan.supp}
cd "$build"
# shellcheck disable=SC2086
ctest -j"$(nproc)" --output-on-failure ${CTEST_ARGS:-}
