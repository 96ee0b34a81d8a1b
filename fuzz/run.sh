#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets with clang and runs each for a bounded time.
# Usage: fuzz/run.sh [seconds per target, default 45] [target...]
# FUZZ_BUILD_DIR (default build-fuzz) and FUZZ_JOBS (targets run at once, default: cores) adjust
# the run; FUZZ_SEED fixes the mutation sequence (default 0: a new one each run), so that a run
# can retrace another's path. The committed seeds in fuzz/corpus/<target> and past findings in
# fuzz/regressions/<target> are copied into the build directory, so the repository stays
# untouched; crashes, leaks and hangs land in $FUZZ_BUILD_DIR/artifacts/<target>/ and make the
# script fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-45}
shift || true
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-$(nproc)}
seed=${FUZZ_SEED:-0}

bash "$root/scripts/deps.sh" fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRAVIXCORE_BUILD_FUZZ=ON -DBUILD_TESTING=OFF -DRAVIXCORE_BUILD_EXAMPLES=OFF \
    -DRAVIXCORE_SANITIZE= "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_all

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for src in "$root"/fuzz/targets/*.cpp; do
        targets+=("$(basename "$src" .cpp)")
    done
fi

run_one() {
    local t=$1 corpus=$build/corpus/$1 artifacts=$build/artifacts/$1 dict=$root/fuzz/dict/$1.dict
    mkdir -p "$corpus" "$artifacts"
    local from
    for from in "$root/fuzz/corpus/$t" "$root/fuzz/regressions/$t"; do
        [ -d "$from" ] && cp -n "$from"/* "$corpus"/ 2>/dev/null || true
    done
    local extra=() unwind=1
    [ -f "$dict" ] && extra+=(-dict="$dict")
    # Leaks of Qt's JSON parser are suppressed by function name, which needs full stacks at
    # every allocation (slow, so only for the targets that parse JSON).
    case $t in configgroup | manifest | updateinfo) unwind=0 ;; esac
    # -timeout marks an input that takes longer than 10 s as a hang; leaks are findings too.
    if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=$unwind \
        LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -seed="$seed" \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "${extra[@]}" "$corpus" \
        >"$build/fuzz-$t.log" 2>&1; then
        echo "fuzz $t: ok ($(grep -o 'cov: [0-9]*' "$build/fuzz-$t.log" | tail -1), $(ls "$corpus" | wc -l) inputs)"
    else
        echo "fuzz $t: FAILED, log $build/fuzz-$t.log, inputs in $artifacts:"
        ls "$artifacts"
        tail -40 "$build/fuzz-$t.log"
        return 1
    fi
}
export -f run_one
export build root seconds seed
printf '%s\n' "${targets[@]}" | xargs -P"$jobs" -I{} bash -c 'run_one {}'
