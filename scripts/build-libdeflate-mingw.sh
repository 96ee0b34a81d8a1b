#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds libdeflate for Windows with MinGW-w64 from Debian's source package (there is no
# MinGW build of it in the archive), for the Windows builds of the library. Installs into
# <prefix>: include/libdeflate.h, bin/libdeflate.dll, lib/libdeflate.dll.a (its import
# library), lib/libdeflate.a (static) and lib/pkgconfig/libdeflate.pc. Point CMake at it with
# -DLIBDEFLATE_PREFIX=<prefix>; a static link (-static ... -ldeflate) takes libdeflate.a.
# The source comes through apt from the Debian suites this machine already uses, turned into
# source entries in a private apt state: the machine's own apt configuration is not changed.
# Usage: build-libdeflate-mingw.sh <prefix> [x86_64|i686]    (a quick check when already built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:?usage: build-libdeflate-mingw.sh <prefix> [x86_64|i686]}
arch=${2:-x86_64}
case "$arch" in
x86_64 | i686) ;;
*) echo "build-libdeflate-mingw: unknown architecture '$arch'" >&2; exit 2 ;;
esac
host=$arch-w64-mingw32
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
stamp="$prefix/lib/libdeflate-$host.built"
if [ -f "$stamp" ] && [ -f "$prefix/include/libdeflate.h" ] && [ -f "$prefix/lib/libdeflate.a" ]; then
    exit 0
fi

bash "$root/scripts/deps.sh" win32

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
apt=$work/apt
mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial"

# Source entries for the machine's Debian suites of this release (not its security or
# third-party entries: only the release's own suite names are taken).
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v rel="$codename" '
        function flush() {
            if (stanza != "" && types ~ /(^| )deb( |$)/ && suites ~ ("(^| )" rel "(-updates)?( |$)"))
                printf "%s\n", stanza
            stanza = ""; types = ""; suites = ""
        }
        /^[ \t]*$/ { flush(); next }
        /^#/ { next }
        /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types); $0 = "Types: deb-src" }
        /^Suites:/ { suites = $0; sub(/^Suites:[ \t]*/, "", suites) }
        { stanza = stanza $0 "\n" }
        END { flush() }' "$f" >"$apt/sources/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v rel="$codename" '$1 == "deb" {
        s = ($2 ~ /^\[/) ? 0 : 3
        if (s == 0) { for (i = 2; i <= NF; i++) if ($i ~ /\]$/) { s = i + 2; break } }
        if ($s == rel || $s == rel "-updates") { $1 = "deb-src"; print }
    }' "$f" >"$apt/sources/$(basename "$f")"
done
if ! cat "$apt"/sources/* 2>/dev/null | grep -q 'deb-src'; then
    echo "build-libdeflate-mingw: no Debian '$codename' entry in the apt sources to take the source from" >&2
    exit 1
fi

aptopts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt/sources"
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o APT::Sandbox::User=root)
echo "build-libdeflate-mingw: fetching the source package"
apt-get "${aptopts[@]}" -qq update
# The same version as the Linux build's, where that is installed.
package=libdeflate
version=$(dpkg-query -W -f='${Version}' libdeflate-dev 2>/dev/null || true)
[ -n "$version" ] && package="libdeflate=$version"
(cd "$work" && apt-get "${aptopts[@]}" -qq source "$package" >/dev/null)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libdeflate-*' | head -n1)
[ -n "$src" ] || { echo "build-libdeflate-mingw: the source package did not unpack" >&2; exit 1; }

echo "build-libdeflate-mingw: building $(basename "$src") for $host"
make -s -C "$src" -j"$(nproc)" CC="$host-gcc-posix" AR="$host-ar" libdeflate.dll libdeflatestatic.lib

install -d "$prefix/include" "$prefix/bin" "$prefix/lib/pkgconfig"
install -m644 "$src/libdeflate.h" "$prefix/include/"
install -m755 "$src/libdeflate.dll" "$prefix/bin/"
install -m644 "$src/libdeflate.lib" "$prefix/lib/libdeflate.dll.a"
install -m644 "$src/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
ver=$(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[ \t]*"\(.*\)"/\1/p' "$src/libdeflate.h")
cat >"$prefix/lib/pkgconfig/libdeflate.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libdeflate
Description: Whole-buffer DEFLATE, zlib and gzip coding (MinGW-w64, $host)
Version: $ver
Libs: -L\${libdir} -ldeflate
Cflags: -I\${includedir}
PC

# Both libraries link.
printf '#include <libdeflate.h>\nint main(void) { return libdeflate_crc32(0, "a", 1) == 0xe8b7be43u ? 0 : 1; }\n' >"$work/probe.c"
"$host-gcc-posix" "$work/probe.c" -I "$prefix/include" -L "$prefix/lib" -ldeflate -o "$work/probe-dll.exe"
"$host-gcc-posix" -static "$work/probe.c" -I "$prefix/include" -L "$prefix/lib" -ldeflate -o "$work/probe-static.exe"
echo "$ver" >"$stamp"
echo "build-libdeflate-mingw: libdeflate $ver for $host in $prefix"
