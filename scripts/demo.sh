#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the library, installs it into a prefix inside the build directory, builds the
# terminal agent against that installed tree as a separate project, and runs it for a while
# against a demo update site served by a private nginx on 127.0.0.1. The site's update
# document is signed with a key pair made for the run, and the agent checks the signature.
# Prints what it left.
# BUILD_DIR (default build-demo) and DEMO_SECONDS (default 20) adjust a run.
set -euo pipefail
# shellcheck source=scripts/site-nginx.sh
source "$(dirname "$0")/site-nginx.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-demo}
seconds=${DEMO_SECONDS:-20}

bash "$root/scripts/deps.sh" demo
echo "== building the library"
BUILD_DIR=$build bash "$root/scripts/configure.sh" -DBUILD_TESTING=OFF -DRAVIXCORE_BUILD_EXAMPLES=OFF
prefix=$build/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
echo "== building the terminal agent against $prefix"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root/examples/terminal-agent" -B "$build/agent" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${launcher[@]}" >/dev/null
cmake --build "$build/agent" -j"$(nproc)" >/dev/null

run=$build/demo-run
site=$run/site
work=$run/agent-work
rm -rf "$run"
mkdir -p "$site"

# A free port on 127.0.0.1, chosen by the kernel.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$build/agent/make-update-site" "$site" "http://127.0.0.1:$port"
# The publisher's side: a key pair, and update.json.sig beside the document.
mkdir -p "$run/keys"
sign=$prefix/bin/ravix-sign-update
"$sign" keygen "$run/keys/update.key" "$run/keys/update.pub"
"$sign" sign "$run/keys/update.key" "$site/update.json"
"$sign" verify "$run/keys/update.pub" "$site/update.json"

nginx_pid=""
agent_pid=""
cleanup() {
    [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    true
}
trap cleanup EXIT
start_site_nginx "$run" "$site" "$port"
echo "== update site on http://127.0.0.1:$port/ (nginx pid $nginx_pid)"

echo "== running the terminal agent for $seconds s"
"$build/agent/terminal-agent" --work-dir "$work" --update-url "http://127.0.0.1:$port/update.json" \
    --update-key "$run/keys/update.pub" --duration "$seconds" 2>/dev/null &
agent_pid=$!
rc=0
wait "$agent_pid" || rc=$?
agent_pid=""
kill "$nginx_pid" 2>/dev/null
wait "$nginx_pid" 2>/dev/null || true
nginx_pid=""

echo
echo "== report"
echo "agent exit code:  $rc"
echo "work directory:   $work"
log=$(ls "$work"/logs/*.log 2>/dev/null | sort | tail -n 1 || true)
echo "log file:         $log"
echo "service restarts: $(grep -c 'restarted (start' "${log:-/dev/null}" || true)"
package=$(ls "$work"/updates/*/terminal-agent-*.zip 2>/dev/null | head -n 1 || true)
expected=$(cat "$site/package.sha1")
if [ -n "$package" ] && [ "$(sha1sum "$package" | cut -d' ' -f1)" = "$expected" ]; then
    echo "package:          $package (sha1 $expected, verified)"
else
    echo "package:          NOT VERIFIED (${package:-missing})"
    rc=1
fi
if grep -q 'Update documents must be signed' "${log:-/dev/null}" &&
    ! grep -q 'No update stored from' "${log:-/dev/null}"; then
    echo "signature:        update.json.sig checked with $run/keys/update.pub"
else
    echo "signature:        NOT CHECKED (see the log)"
    rc=1
fi
if [ -f "$work/updates/plan" ]; then
    echo "plan file:        $work/updates/plan"
    sed 's/^/    /' "$work/updates/plan"
else
    echo "plan file:        missing"
    rc=1
fi
events=$(python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("select count(*) from events").fetchone()[0])' \
    "$work/db/events.sqlite" 2>/dev/null || echo "unreadable")
echo "events in the DB: $events ($work/db/events.sqlite)"
echo "version file:     $(ls "$work"/versions/*.ver 2>/dev/null | tr '\n' ' ')"
echo "log tail:"
[ -n "$log" ] && tail -n 25 "$log" | sed 's/^/    /'
exit "$rc"
