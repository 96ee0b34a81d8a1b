#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one Windows test program under Wine for ctest (the cross build's emulator). Wine does not
# pass a Windows program's standard output through a pipe reliably, so a QtTest program writes
# its log to a file, which is printed afterwards. Needs WINE, WINEPREFIX and WINEPATH from
# scripts/windows-check.sh.
set -uo pipefail
exe=$1
shift
: "${WINE:?WINE names the wine64 binary}"
log=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$log"' EXIT
if grep -qa 'QTest' "$exe"; then
    "$WINE" "$exe" "$@" -o "$log,txt" </dev/null >/dev/null 2>"$log.err"
    rc=$?
    tr -d '\r' <"$log"
    # A program that died before QtTest closed its log has no totals line.
    if ! grep -q '^Totals:' "$log"; then
        echo "wine-run: $(basename "$exe") ended without QtTest's totals (exit $rc)"
        [ "$rc" -eq 0 ] && rc=1
    fi
else
    "$WINE" "$exe" "$@" </dev/null 2>"$log.err"
    rc=$?
fi
if [ "$rc" -ne 0 ]; then
    grep -v '^$' "$log.err" | tail -n 20
fi
rm -f "$log.err"
exit "$rc"
