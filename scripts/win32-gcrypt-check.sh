#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows side of update trust: configures a small MinGW-w64 project with the library's
# cmake/FindGcrypt.cmake (as a cross build of the library finds libgcrypt), builds the
# libgcrypt check program with it and runs it under Wine in a throw-away prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh" win32
triplet=x86_64-w64-mingw32
sysroot=/usr/$triplet

work=$(mktemp -d)
prefix="$work/prefix"
wineserver=$(dpkg -L wine64 | grep -E '/wineserver64$' | head -n1)
cleanup() {
    WINEPREFIX="$prefix" "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/toolchain.cmake" <<CONF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER $triplet-g++)
set(CMAKE_FIND_ROOT_PATH $sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
CONF
mkdir -p "$work/src"
cat >"$work/src/CMakeLists.txt" <<CONF
cmake_minimum_required(VERSION 3.16)
project(gcrypt_win32_check CXX)
list(APPEND CMAKE_MODULE_PATH "$root/cmake")
find_package(Gcrypt REQUIRED)
add_executable(gcrypt_win32_check "$root/tests/updates/win32/gcrypt_win32_check.cpp")
target_compile_options(gcrypt_win32_check PRIVATE -Wall -Wextra -Werror)
target_link_options(gcrypt_win32_check PRIVATE -static-libgcc -static-libstdc++)
target_link_libraries(gcrypt_win32_check PRIVATE Gcrypt::Gcrypt)
CONF
echo "win32-gcrypt-check: configure and build with MinGW-w64"
cmake -S "$work/src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" >"$work/cmake.log" ||
    { cat "$work/cmake.log" >&2; exit 1; }
grep -E 'Found Gcrypt' "$work/cmake.log" || true
cmake --build "$work/build" >/dev/null
# The DLLs go beside the program, as an installer puts them.
cp "$sysroot/bin/libgcrypt-20.dll" "$sysroot/bin/libgpg-error-0.dll" "$work/build/"

wine=$(dpkg -L wine64 | grep -E '/wine64$' | head -n1)
echo "win32-gcrypt-check: running under Wine"
status=0
WINEPREFIX="$prefix" WINEDEBUG=-all "$wine" "$work/build/gcrypt_win32_check.exe" \
    >"$work/out.txt" 2>"$work/err.txt" || status=$?
tr -d '\r' <"$work/out.txt"
if [ "$status" -ne 0 ] || ! tr -d '\r' <"$work/out.txt" | grep -qE '^[0-9]+ passed, 0 failed$'; then
    cat "$work/err.txt" >&2
    exit 1
fi
