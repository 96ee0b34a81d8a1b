#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the library and the tests of the threaded parts (logging, SQLite, stress, workers,
# downloader, the ZIP writer's deflate threads) with ThreadSanitizer into $BUILD_DIR (default build-tsan) and runs them.
# Qt is not instrumented: tests/sanitizers/tsanqtglue.cpp shows its locks to the sanitizer, and
# the reports that remain from Qt's own internals are suppressed in tests/sanitizers/tsan.supp,
# each with its reason. tst_workerkill is not run here: it ends threads with
# QThread::terminate(), which cancels them inside the sanitizer's own bookkeeping, and the
# sanitizer aborts the program ("thread finished with ignores enabled").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-tsan}
tests=(tst_loggermanager tst_logcleanup tst_basesqlitedbconnector tst_stress tst_workers
    tst_httpfileloader tst_zipwriter)
bash "$root/scripts/deps.sh" test
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVIXCORE_SANITIZE=thread \
    -DBUILD_TESTING=ON -DRAVIXCORE_BUILD_EXAMPLES=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${tests[@]}" ravixcore_translations
# The logging stress test writes a tenth of its records under the slow sanitizer.
export RAVIX_LOG_STRESS_RECORDS=${RAVIX_LOG_STRESS_RECORDS:-10000}
export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp halt_on_error=1 second_deadlock_stack=1"
cd "$build"
pattern=$(IFS='|'; echo "^(${tests[*]})\$")
ctest -j"$(nproc)" --output-on-failure -R "$pattern"
