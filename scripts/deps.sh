#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages a task needs; a quick check when they are already present.
# Usage: deps.sh build|test|demo|bench|win32|fuzz   (all but build include build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kind=${1:-build}

lists=("$here/packages/build.txt")
case "$kind" in
build) ;;
test) lists+=("$here"/packages/test-*.txt) ;;
demo) lists+=("$here"/packages/demo*.txt) ;;
bench) lists+=("$here"/packages/bench*.txt) ;;
win32) lists+=("$here"/packages/win32*.txt) ;;
fuzz) lists+=("$here/packages/fuzz.txt") ;;
*) echo "deps.sh: unknown kind '$kind'" >&2; exit 2 ;;
esac

wanted=()
for f in "${lists[@]}"; do
    [ -f "$f" ] || continue
    while read -r pkg _; do
        case "$pkg" in ''|'#'*) continue ;; esac
        wanted+=("$pkg")
    done <"$f"
done

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "deps.sh: missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
fi
echo "deps.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
