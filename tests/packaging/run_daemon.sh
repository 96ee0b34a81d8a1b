#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# run_daemon.sh EXE LOG_FILE TEXT: starts EXE, waits until LOG_FILE contains TEXT (120 s at
# most), then stops it with SIGTERM and expects exit code 0.
set -u
exe=$1 log=$2 text=$3
"$exe" &
pid=$!
for _ in $(seq 1200); do
    grep -qF -- "$text" "$log" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -TERM "$pid" 2>/dev/null
wait "$pid"
rc=$?
if ! grep -qF -- "$text" "$log" 2>/dev/null; then
    echo "run_daemon.sh: '$text' not found in $log" >&2
    ls -lR "$(dirname "$(dirname "$log")")" >&2 || true
    exit 1
fi
[ "$rc" -eq 0 ] || { echo "run_daemon.sh: $exe ended with $rc" >&2; exit 1; }
