#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The library on Windows, checked under Wine (a CI stage):
#  - the Qt-free Win32 backend of the OS layer compiled for 32-bit Windows, and its own check
#    program built for 64-bit Windows;
#  - the library, every test program and the terminal agent cross-built with MinGW-w64 against
#    the Qt tree for Windows from ../shared/toolchains (unpacked into a temporary folder),
#    without a warning;
#  - every test program run under Wine in a private prefix, one wineserver for all;
#  - the build installed, a consumer and the terminal agent built against the installed package
#    with the same toolchain, and a Windows ZIP package made of it;
#  - the terminal agent run for a few seconds against an update site served by nginx on this
#    side, and what it left checked.
# Prints one line per program and closes with "N passed, M failed".
#
# BUILD_DIR (default build-win), RAVIX_WIN_QT_ARCHIVE (the Qt tree), WIN_JOBS (default: the
# number of cores), DEMO_SECONDS (default 10), PACKAGE_DIR (where the ZIP goes; default the
# build folder) and CTEST_ARGS (extra ctest arguments, e.g. "-R tst_zip") adjust a run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh" win32
start=$(date +%s)
say() { echo "== windows-check: $* ($(($(date +%s) - start))s)"; }

build=${BUILD_DIR:-$root/build-win}
jobs=${WIN_JOBS:-$(nproc)}
seconds=${DEMO_SECONDS:-10}
archive=${RAVIX_WIN_QT_ARCHIVE:-$root/../shared/toolchains/qt5.15.8-mingw64-posix.tar.xz}
[ -f "$archive" ] || { echo "windows-check: no Qt tree for Windows at $archive" >&2; exit 1; }

# Test programs that cannot run under Wine, each with its reason. They run on Linux.
declare -A not_under_wine=(
    [packaging_consumer]="builds a Linux consumer with the host compiler and pkg-config; the Windows consumer is built and run below"
    [tst_terminalagent]="stops the agent with SIGTERM, which a Windows program does not get; the agent's run under Wine is checked below"
    [packaging_readme]="builds the README's programs for Linux with the host compiler; the Windows consumer below covers the installed package"
    [packaging_headers]="compiles each public header with the host compiler and its Linux flags"
    [packaging_deb]="makes and unpacks Debian packages, which a Windows build has none of"
    [docs_api_reference]="builds the API reference with Doxygen on this side; nothing of it runs on Windows"
    [tst_updatessecurity]="not built for Windows: its owner, link and resident-memory checks are POSIX ones (its attacks need a second Linux account)"
    [tst_zip64large]="writes archives past 4 GiB (label 'large'); too slow and too big for a run under Wine in CI"
)
# Test programs that are built but not yet run under Wine: they fail there for the reason
# given, which is to be mended (then the entry goes).
declare -A pending_under_wine=()

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wine" ] || wine=$(dpkg -L wine64 | grep -E '/wine64$' | head -n1)
[ -x "$wineserver" ] || wineserver=$(dpkg -L wine64 | grep -E '/wineserver64$' | head -n1)

work=$(mktemp -d "${TMPDIR:-/tmp}/ravix-win.XXXXXX")
chmod 755 "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
cleanup() {
    # nginx runs as a daemon when a Windows program started it: stop each by its pid file.
    local pidfile
    while read -r pidfile; do
        kill "$(cat "$pidfile")" 2>/dev/null || true
    done < <(find "$work" -name nginx.pid 2>/dev/null)
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
result() { # result <name> <0 passed | other failed> <text>
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1))
        printf 'PASS  %-32s %s\n' "$1" "$3"
    else
        failed=$((failed + 1))
        printf 'FAIL  %-32s %s\n' "$1" "$3"
    fi
}
# The path under which Windows programs in Wine see a Linux path.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# A new prefix takes a while to set up: that happens while the compilers run.
("$wine" wineboot --init >"$work/wineboot.log" 2>&1 || echo "wineboot failed: $?" >>"$work/wineboot.log") &
wineboot_pid=$!

# Unpacked once into the build folder: a fixed path keeps the build folder and the compiler
# cache valid from run to run.
qt_cache=$build/qt-mingw64
if [ ! -f "$qt_cache/.unpacked" ] || [ "$archive" -nt "$qt_cache/.unpacked" ]; then
    rm -rf "$qt_cache"
    mkdir -p "$qt_cache"
    tar -xf "$archive" -C "$qt_cache"
    touch "$qt_cache/.unpacked"
fi
qt=$qt_cache/ravix-qt5-mingw64
[ -d "$qt/lib/cmake/Qt5" ] || { echo "windows-check: $archive holds no Qt tree" >&2; exit 1; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# -O1 rather than Release's -O3: a cold build in CI takes much less time, and what runs is the
# same code.
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw64-qt5.cmake" -DRAVIX_WIN_QT="$qt"
           -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1
           "${launcher[@]}")
# Builds one project; no warning may come out of it.
build_project() { # build_project <build dir> <log> <cmake arguments...>
    local dir=$1 log=$2
    shift 2
    cmake -B "$dir" "${toolchain[@]}" "$@" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
    if ! cmake --build "$dir" -j"$jobs" >>"$log" 2>&1; then
        grep -E 'error|warning' "$log" | head -n 100 >&2
        return 1
    fi
    if grep -q 'warning:' "$log"; then
        grep -A3 'warning:' "$log" >&2
        return 1
    fi
}

say "the OS layer's Win32 backend: 32-bit compile, 64-bit check program"
oslayer=$work/oslayer
mkdir -p "$oslayer/include/ravixcore"
# The library's export header is generated by its build; the backend alone needs none.
printf '#pragma once\n#define RAVIXCORE_EXPORT\n' >"$oslayer/include/ravixcore/ravixcore_export.h"
sources=("$root/src/sys/oslayer_common.cpp" "$root/src/sys/oslayer_win32.cpp")
check="$root/tests/sys/win32/tst_oslayer_win32.cpp"
flags=(-std=c++17 -Wall -Wextra -Werror -municode -I "$root/src" -I "$oslayer/include")
for f in "${sources[@]}" "$check"; do
    i686-w64-mingw32-g++ "${flags[@]}" -c "$f" -o "$oslayer/$(basename "$f" .cpp).i686.o"
done
x86_64-w64-mingw32-g++ "${flags[@]}" "${sources[@]}" "$check" -o "$oslayer/tst_oslayer_win32.exe" \
    -static -ladvapi32 -lshell32 -lole32 -loleaut32 -luuid -liphlpapi -luser32

say "libdeflate for Windows (built once, kept in the build folder)"
# libgcrypt and libgpg-error come from Debian's MinGW packages; libdeflate has none there.
mingw_sysroot=/usr/x86_64-w64-mingw32
deflate=$build/libdeflate-mingw64
bash "$root/scripts/build-libdeflate-mingw.sh" "$deflate" x86_64 >"$work/libdeflate.log" 2>&1 ||
    { cat "$work/libdeflate.log" >&2; exit 1; }
# The DLLs the library needs beyond Qt and the compiler's runtime.
dep_dlls=("$mingw_sysroot/bin/libgcrypt-20.dll" "$mingw_sysroot/bin/libgpg-error-0.dll"
          "$deflate/bin/libdeflate.dll")
for f in "${dep_dlls[@]}"; do
    [ -f "$f" ] || { echo "windows-check: $f is missing" >&2; exit 1; }
done

say "cross-building the library, the tests and the terminal agent"
build_project "$build" "$work/build.log" -S "$root" -DBUILD_TESTING=ON \
    -DLIBDEFLATE_PREFIX="$deflate" -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh"

wait "$wineboot_pid" || true
if grep -q 'wineboot failed' "$work/wineboot.log"; then
    cat "$work/wineboot.log" >&2
    exit 1
fi
gcc_dlls=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
runtime="$(winpath "$qt/bin");$(winpath "$gcc_dlls");$(winpath "$mingw_sysroot/lib")"
runtime="$runtime;$(winpath "$mingw_sysroot/bin");$(winpath "$deflate/bin")"
export WINE="$wine" WINEPATH="$runtime;$(winpath "$build/src")"
export QT_PLUGIN_PATH="$(winpath "$qt/plugins")"
# nginx, started by Windows programs on this side, keeps its workers on this account.
[ "$(id -u)" -eq 0 ] && export RAVIX_NGINX_USER_DIRECTIVE="user $(id -un) $(id -gn);"
# The tests' temporary folders lie in the prefix (drive C:), which is on this side too: nginx
# serves them and the Linux tools read them (tests/common/testtools.cpp finds their paths).
mkdir -p "$work/tmp"

echo
say "the test programs under Wine, $jobs at a time"
status=0
"$wine" "$oslayer/tst_oslayer_win32.exe" >"$oslayer/out.txt" 2>"$oslayer/err.txt" || status=$?
summary=$(tr -d '\r' <"$oslayer/out.txt" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n1 || true)
if [ "$status" -eq 0 ] && echo "$summary" | grep -q ' 0 failed$'; then
    result tst_oslayer_win32 0 "$summary"
else
    tr -d '\r' <"$oslayer/out.txt" | grep -v '^PASS' || true
    cat "$oslayer/err.txt"
    result tst_oslayer_win32 1 "${summary:-no summary} (exit $status)"
fi

exclude=""
for t in "${!not_under_wine[@]}" "${!pending_under_wine[@]}"; do
    exclude="${exclude:+$exclude|}^$t\$"
done
# shellcheck disable=SC2086
(cd "$build" && TMPDIR="$work/tmp" ctest -j"$jobs" --output-on-failure --output-junit "$work/ctest.xml" \
    -E "$exclude" ${CTEST_ARGS:-}) >"$work/ctest.log" 2>&1 || true
python3 - "$work/ctest.xml" >"$work/results.txt" <<'PY'
import sys, xml.etree.ElementTree as ET
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status = case.get("status", "")
    print(case.get("name"), "0" if status == "run" else "1",
          "%.0fs" % float(case.get("time", "0")) if status == "run" else status or "failed")
PY
failures=0
while read -r name ok text; do
    result "$name" "$ok" "$text"
    [ "$ok" -eq 0 ] || failures=1
done <"$work/results.txt"
for t in "${!not_under_wine[@]}"; do
    printf 'SKIP  %-32s %s\n' "$t" "${not_under_wine[$t]}"
done
for t in "${!pending_under_wine[@]}"; do
    printf 'TODO  %-32s %s\n' "$t" "${pending_under_wine[$t]}"
done
if [ "$failures" -ne 0 ]; then
    echo "---- output of the failed test programs"
    # What is shown must not end the script: the install and the agent's run still follow.
    { sed -n '/The following tests FAILED/,$p;/^[0-9]*\/[0-9]* Test.*\*\*\*/,/^ *[0-9]*\/[0-9]* Test/p' \
        "$work/ctest.log" | head -n 600; } || true
    { grep -B2 -A30 -E '^FAIL!|wine-run:' "$work/ctest.log" | head -n 600; } || true
    echo "----"
fi

say "install, a consumer and the terminal agent built against it, the ZIP package"
prefix=$work/install
install_and_consume() {
    cmake --install "$build" --prefix "$prefix" || return
    # The installed tree carries the DLLs it needs beyond Qt's, as the ZIP does.
    cp "${dep_dlls[@]}" "$prefix/bin/" || return
    # The consumer is built and run as a user's project would be, with the same toolchain.
    build_project "$work/consumer" "$work/consumer.log" -S "$root/tests/packaging/consumer" \
        -DCMAKE_PREFIX_PATH="$prefix" || return
    WINEPATH="$runtime;$(winpath "$prefix/bin")" "$wine" "$work/consumer/consumer.exe" "$(winpath "$prefix")" \
        >"$work/consumer.out" 2>&1 || return
    tr -d '\r' <"$work/consumer.out" | grep -qx 'consumer ok'
}
status=0
install_and_consume >"$work/package.log" 2>&1 || status=$?
if [ "$status" -eq 0 ] && [ -f "$prefix/lib/cmake/ravixcore/ravixcoreConfig.cmake" ]; then
    result "packaging_consumer (Windows)" 0 "find_package(ravixcore) in $prefix"
else
    cat "$work/package.log"
    result "packaging_consumer (Windows)" 1 "exit $status"
fi

# The ZIP: the installed tree with the runtime the library needs beside its DLL.
version=$(sed -nE 's/^project\(ravixcore VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
package_dir=${PACKAGE_DIR:-$build}
zipname=ravixcore-$version-win64.zip
stage=$work/zip/ravixcore-$version-win64
status=0
mkdir -p "$stage"
cp -a "$prefix/." "$stage/"
cp "$gcc_dlls/libstdc++-6.dll" "$gcc_dlls/libgcc_s_seh-1.dll" \
    /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll \
    "$qt/bin/Qt5Core.dll" "$qt/bin/Qt5Network.dll" "$qt/bin/Qt5Sql.dll" "$stage/bin/"
mkdir -p "$stage/bin/sqldrivers"
cp "$qt/plugins/sqldrivers/qsqlite.dll" "$stage/bin/sqldrivers/"
rm -f "$package_dir/$zipname"
(cd "$work/zip" && zip -qr "$package_dir/$zipname" "ravixcore-$version-win64")
for f in bin/libravixcore.dll bin/libgcrypt-20.dll bin/libgpg-error-0.dll bin/libdeflate.dll \
    lib/libravixcore.dll.a include/ravixcore/ravixcore_export.h \
    lib/cmake/ravixcore/ravixcoreConfig.cmake share/ravixcore/translations/ravixcore_ru.qm; do
    unzip -l "$package_dir/$zipname" "ravixcore-$version-win64/$f" >/dev/null || {
        echo "windows-check: $f is missing from $zipname"
        status=1
    }
done
result "zip package" "$status" "$package_dir/$zipname"

say "the terminal agent under Wine for $seconds s against nginx on 127.0.0.1"
status=0
build_project "$work/agent" "$work/agent.log" -S "$root/examples/terminal-agent" \
    -DCMAKE_PREFIX_PATH="$prefix" || status=$?
[ "$status" -ne 0 ] || WINEPATH="$runtime;$(winpath "$prefix/bin")" \
    bash "$root/scripts/windows-demo.sh" "$work/agent" "$work/demo" "$seconds" \
    >"$work/demo.log" 2>&1 || status=$?
if [ -f "$work/demo.log" ]; then
    sed 's/^/    /' "$work/demo.log"
else
    tail -n 60 "$work/agent.log"
fi
result "terminal-agent" "$status" "the demo run's report checked"

say "done"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
