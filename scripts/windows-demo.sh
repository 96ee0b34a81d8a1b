#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the terminal agent built for Windows under Wine against a demo update site served by a
# private nginx on 127.0.0.1 on this side, then checks what the agent left: its log, the
# version file, the event journal in SQLite, the downloaded package (checksum) and the plan.
# Called by scripts/windows-check.sh, which sets WINE, WINEPREFIX, WINEPATH and QT_PLUGIN_PATH.
# Usage: windows-demo.sh <agent build folder> <run folder> <seconds>
set -euo pipefail
# shellcheck source=scripts/site-nginx.sh
source "$(dirname "$0")/site-nginx.sh"
agent_build=$1
run=$2
seconds=$3
: "${WINE:?}" "${WINEPREFIX:?}"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

site=$run/site
work=$run/agent-work
rm -rf "$run"
mkdir -p "$site"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$WINE" "$agent_build/make-update-site.exe" "$(winpath "$site")" "http://127.0.0.1:$port" \
    >"$run/site.log" 2>&1 </dev/null || true
[ -f "$site/update.json" ] && [ -f "$site/package.sha1" ] || {
    echo "the update site was not made"
    cat "$run/site.log"
    exit 1
}

nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
start_site_nginx "$run" "$site" "$port"

echo "running the terminal agent for $seconds s (update site http://127.0.0.1:$port/)"
rc=0
# The agent ends by itself after its run time; the limit only guards against a hang.
timeout $((seconds + 300)) "$WINE" "$agent_build/terminal-agent.exe" --work-dir "$(winpath "$work")" \
    --update-url "http://127.0.0.1:$port/update.json" --duration "$seconds" \
    >"$run/agent.out" 2>&1 </dev/null || rc=$?
echo "agent exit code:  $rc"
fail=0
[ "$rc" -eq 0 ] || fail=1

log=$(find "$work/logs" -maxdepth 1 -name '*.log' 2>/dev/null | sort | tail -n 1)
if [ -n "$log" ] && [ -s "$log" ]; then
    echo "log file:         $log ($(wc -l <"$log") lines)"
else
    echo "log file:         MISSING"
    fail=1
fi
# The service wrapper started the sample service, a real .exe child.
if [ -n "$log" ] && grep -qi 'heartbeat' "$log"; then
    echo "service:          heartbeat-service mentioned in the log"
else
    echo "service:          NOT SEEN in the log"
    fail=1
fi
package=$(find "$work/updates" -name 'terminal-agent-*.zip' 2>/dev/null | head -n 1)
expected=$(cat "$site/package.sha1")
if [ -n "$package" ] && [ "$(sha1sum "$package" | cut -d' ' -f1)" = "$expected" ]; then
    echo "package:          $package (sha1 $expected, verified)"
else
    echo "package:          NOT VERIFIED (${package:-missing})"
    fail=1
fi
if [ -s "$work/updates/plan" ]; then
    echo "plan file:        $work/updates/plan"
else
    echo "plan file:        MISSING"
    fail=1
fi
events=$(python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("select count(*) from events").fetchone()[0])' \
    "$work/db/events.sqlite" 2>/dev/null || echo 0)
echo "events in the DB: $events"
[ "$events" -gt 0 ] || fail=1
ver=$(find "$work/versions" -name '*.ver' 2>/dev/null | head -n 1)
if [ -n "$ver" ] && [ -s "$ver" ]; then
    echo "version file:     $ver"
else
    echo "version file:     MISSING"
    fail=1
fi
if [ "$fail" -ne 0 ]; then
    echo "log tail:"
    [ -n "$log" ] && tail -n 40 "$log" | sed 's/^/    /'
    tr -d '\r' <"$run/agent.out" | tail -n 20
fi
exit "$fail"
