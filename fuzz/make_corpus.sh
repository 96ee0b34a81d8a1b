#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Regenerates the seed inputs in fuzz/corpus/<target>/ with real tools (Info-ZIP zip, 7z, gzip,
# python3). The seeds are committed; run this only to renew them. Keep them small: the fuzzer
# mutates them, it does not need size.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus
for tool in zip 7z gzip python3; do
    command -v "$tool" >/dev/null || { echo "make_corpus.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"/{unzip,gzip,fixnumber,appversion,configgroup,manifest,updateinfo,contentrange}

# --- archives ------------------------------------------------------------------------------
src=$work/src
mkdir -p "$src/dir/sub"
printf 'hello\n' >"$src/a.txt"
python3 -c 'print("".join("record %04d\n" % i for i in range(60)), end="")' >"$src/dir/log.txt"
: >"$src/dir/empty.txt"
printf 'nested' >"$src/dir/sub/n.bin"
(
    cd "$src"
    zip -q -X -0 "$out/unzip/stored.zip" a.txt dir/empty.txt
    zip -q -X -9 "$out/unzip/deflated.zip" a.txt dir/log.txt
    zip -q -X -r "$out/unzip/tree.zip" dir
    zip -q -X -P secret "$out/unzip/encrypted.zip" a.txt dir/log.txt
    zip -q -X -0 -P secret "$out/unzip/encrypted-stored.zip" a.txt
    zip -q -X -z "$out/unzip/comment.zip" a.txt <<<"archive comment"
    7z a -bd -tzip -mx=5 "$out/unzip/7z.zip" a.txt dir/sub/n.bin >/dev/null
)
python3 - "$out/unzip" <<'PY'
import sys, zipfile, io
d = sys.argv[1]
with zipfile.ZipFile(d + "/python-deflated.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("x/y.txt", "python " * 20)
    z.writestr("x/", "")
# A streamed entry carries a data descriptor after its data.
buf = io.BytesIO()
class Unseekable(io.RawIOBase):
    def writable(self): return True
    def write(self, b): buf.write(b); return len(b)
with zipfile.ZipFile(Unseekable(), "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("streamed.txt", "w") as f:
        f.write(b"streamed data " * 10)
open(d + "/descriptor.zip", "wb").write(buf.getvalue())
# No entries at all: the bare end record.
with zipfile.ZipFile(d + "/empty.zip", "w") as z:
    pass
# Names that try to leave the target directory.
with zipfile.ZipFile(d + "/traversal.zip", "w") as z:
    z.writestr("../outside.txt", "x")
    z.writestr("/abs/inside.txt", "y")
    z.writestr("a/../../up.txt", "z")
# 64-bit records: sizes in the local extra field, a 64-bit data descriptor, and an archive
# with every size and offset in 64-bit fields behind a 64-bit end record and its locator.
with zipfile.ZipFile(d + "/zip64-local.zip", "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("forced.txt", "w", force_zip64=True) as f:
        f.write(b"forced zip64 " * 10)
buf.seek(0)
buf.truncate()
with zipfile.ZipFile(Unseekable(), "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("streamed64.txt", "w", force_zip64=True) as f:
        f.write(b"streamed zip64 " * 10)
open(d + "/zip64-descriptor.zip", "wb").write(buf.getvalue())
import struct, zlib as _z
data = b"all sizes in 64-bit fields\n"
crc = _z.crc32(data)
name = b"a.txt"
local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF,
                    len(name), 20) + name + struct.pack("<HHQQ", 1, 16, len(data), len(data)) + data
central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 0, 0, 0x21, crc, 0xFFFFFFFF,
                      0xFFFFFFFF, len(name), 28, 0, 0, 0, 0, 0xFFFFFFFF) + name + \
          struct.pack("<HHQQQ", 1, 24, len(data), len(data), 0)
end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 1, 1, len(central), len(local))
locator = struct.pack("<IIQI", 0x07064B50, 0, len(local) + len(central), 1)
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
open(d + "/zip64-records.zip", "wb").write(local + central + end64 + locator + end)
PY

# --- gzip and zlib streams -------------------------------------------------------------------
gzip -9 -c "$src/dir/log.txt" >"$out/gzip/log.gz"
gzip -c "$src/a.txt" >"$out/gzip/a.gz"
python3 - "$out/gzip" <<'PY'
import sys, zlib
d = sys.argv[1]
open(d + "/zlib-default", "wb").write(zlib.compress(b"zlib stream " * 30))
open(d + "/zlib-stored", "wb").write(zlib.compress(b"short", 0))
open(d + "/zlib-empty", "wb").write(zlib.compress(b""))
PY

# --- fixed-point numbers: one byte of multiplier and round type, then two texts --------------
seed() { printf "$2" >"$1"; }
seed "$out/fixnumber/plain" '\x02 12.50\n12,50'
seed "$out/fixnumber/negative" '\x17-1.279\n-0.5'
seed "$out/fixnumber/fraction" '\x29.5\n1234567.891'
seed "$out/fixnumber/big" '\x039223372036854775807\n-922337203685477580.8'
seed "$out/fixnumber/words" '\x05abc\n1.2.3'

# --- versions: two versions and a build ------------------------------------------------------
seed "$out/appversion/release" '1.2.3\n1.2.3rc1\n2021-01-01T00:00:00'
seed "$out/appversion/alpha" '1.2.3a\n1.2.3b\n2021-02-01T00:00:00Z'
seed "$out/appversion/bad" '1.2\n1.2.3.4\nnot a date'
seed "$out/appversion/upper" ' 10.0.1RC2 \n2.0.0beta\n2020-05-01T12:00:00+03:00'

# --- configuration groups --------------------------------------------------------------------
cat >"$out/configgroup/all-types.json" <<'JSON'
{"g": {"type": 1, "inner": {"type": 2, "val": "5", "range": {"f": "0", "t": "10"}, "enum": ["1", "5"]}},
 "i": {"type": 2, "val": "-7"},
 "l": {"type": 3, "val": "9223372036854775807", "range": {"f": "-1", "t": "9223372036854775807"}},
 "s": {"type": 4, "val": "text", "enum": ["text", "other"]},
 "b": {"type": 5, "val": "AQID"},
 "d": {"type": 6, "val": 2.5, "range": {"f": 0.0, "t": 10.0}},
 "k": {"type": 7, "key": "a", "enum": {"a": 1, "b": "two"}},
 "z": 17, "w": {"type": 99}}
JSON
printf '{"a": {"type": 4, "val": "x"}, "z": 17}' >"$out/configgroup/small.json"
printf '{"n": {"type": 1, "m": {"type": 1, "k": {"type": 7}}}}' >"$out/configgroup/nested.json"

# --- service manifests -----------------------------------------------------------------------
cat >"$out/manifest/full.json" <<'JSON'
{"defaultExePath": "/bin", "services": [
  {"name": "true", "exePath": "/bin", "workDir": "/tmp", "params": [1, "x", true], "description": "d"},
  {"name": "sh", "params": {"a": 1}},
  {"name": 12, "exePath": ""},
  {"exePath": "/nowhere"}]}
JSON
printf '{"services": []}' >"$out/manifest/empty.json"
printf '[1, 2]' >"$out/manifest/array.json"

# --- update server documents -----------------------------------------------------------------
cat >"$out/updateinfo/valid.json" <<'JSON'
{"Q_OS_WIN32": [{"version": "1.2.0-RC", "description": "fixes", "changelog": "http://h/c",
  "packages": [{"version": "1.2.0", "build": "2021-01-01T00:00:00", "fileUrl": "http://h/files/app%20setup.zip?x=1",
                "sha1": "A94A8FE5CCB19BA61C4C0873D391E987982FBBD3", "fileSize": 1000, "name": "app"},
               {"build": "2021-01-01T00:00:00", "fileUrl": "http://h/b.zip",
                "sha1": "a94a8fe5ccb19ba61c4c0873d391e987982fbbd3", "fileSize": 5, "name": "b"}]}],
 "Q_OS_LINUX": []}
JSON
printf '{"Q_OS_WIN32": []}' >"$out/updateinfo/empty.json"
printf '{"Q_OS_WIN32": [{"version": "1.0.0", "packages": [{"fileSize": 0}]}]}' >"$out/updateinfo/invalid.json"

# --- Content-Range header values -------------------------------------------------------------
seed "$out/contentrange/plain" 'bytes 100-199/1000'
seed "$out/contentrange/spaces" ' bytes  0 - 0 / 1 '
seed "$out/contentrange/big" 'bytes 2147483647-2147483648/99999999999'
seed "$out/contentrange/star" 'bytes */1000'

find "$out" -type f | wc -l | xargs echo "seeds written:"
du -sh "$out"
