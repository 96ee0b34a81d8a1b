#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmarks against the tools users would pick instead. Builds the benchmarks, installs the
# tools, generates the data sets on tmpfs, runs each pair interleaved and prints one line per
# comparison:  ratio <name> = <ours/theirs> (target <= <t>) ok|MISSED
# Usage: bench/run.sh [--quick]        (--quick: smaller data, about five minutes)
# BENCH_BUILD_DIR (default build-bench), BENCH_ROUNDS and BENCH_ONLY (section numbers) adjust
# the run; BENCH_CALLGRIND=1 adds instruction counts of both ZIP writers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1

if [ $quick = 1 ]; then
    corpus_mib=20 download_mib=64 large_mib=16 log_records=20000 rounds=${BENCH_ROUNDS:-3}
else
    corpus_mib=200 download_mib=512 large_mib=64 log_records=200000 rounds=${BENCH_ROUNDS:-5}
fi

bash "$root/scripts/deps.sh" bench
build=${BENCH_BUILD_DIR:-$root/build-bench}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVIXCORE_BUILD_BENCH=ON \
    -DBUILD_TESTING=OFF -DRAVIXCORE_BUILD_EXAMPLES=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
bin=$build/bench

# File creation on a disk costs up to a millisecond per file here and swamps the numbers.
tmpbase=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && tmpbase=/dev/shm
data=$(mktemp -d "$tmpbase/ravixbench.XXXXXX")
# nginx's workers run as an unprivileged user and must reach the files.
chmod 755 "$data"
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$data"
}
trap cleanup EXIT
cd "$data"

echo "# data sets in $data ($( [ $quick = 1 ] && echo quick || echo full ) run, $rounds rounds)"
python3 "$root/bench/gendata.py" "$data" "$corpus_mib" "$download_mib" "$large_mib"
echo "# corpus: $(du -sm corpus | cut -f1) MiB in $(find corpus -type f | wc -l) files"

# BENCH_ONLY="1 4" runs only those sections.
want() { [ -z "${BENCH_ONLY:-}" ] || [[ " $BENCH_ONLY " == *" $1 "* ]]; }

# ratio <name> <ours> <theirs> <target>
ratio() {
    awk -v n="$1" -v a="$2" -v b="$3" -v t="$4" 'BEGIN {
        r = a / b
        if (t == "-") printf "ratio %s = %.3f (no target)\n", n, r
        else printf "ratio %s = %.3f (target <= %s) %s\n", n, r, t, (r <= t ? "ok" : "MISSED") }'
}

# pair <name> <target> <prepare> <ours> <theirs>: both commands once per round, alternating
# which goes first, each after <prepare>; prints the ratio of the medians.
pair() {
    local name=$1 target=$2 prepare=$3 ours=$4 theirs=$5 r
    local a=() b=()
    for ((r = 0; r < rounds; r++)); do
        local first=$ours second=$theirs
        ((r % 2)) && first=$theirs second=$ours
        if ! hyperfine -N -r 1 --style none --prepare "$prepare" --export-json times.json \
            "$first" "$second" >/dev/null 2>hyperfine.err; then
            echo "ratio $name = n/a (target <= $target) MISSED: a command failed"
            sed 's/^/#   /' hyperfine.err
            return 0
        fi
        read -r t1 t2 < <(python3 -c 'import json,sys
print(*[x["median"] for x in json.load(open("times.json"))["results"]])')
        if ((r % 2)); then a+=("$t2") b+=("$t1"); else a+=("$t1") b+=("$t2"); fi
    done
    local ma mb
    ma=$(printf '%s\n' "${a[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')
    mb=$(printf '%s\n' "${b[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')
    printf '# %s: ours %.3f s, theirs %.3f s\n' "$name" "$ma" "$mb"
    ratio "$name" "$ma" "$mb" "$target"
}

if want 1; then
    echo "## 1. ZIP writer"
    pair zip-deflate6 0.55 "rm -f ours.zip theirs.zip" \
        "$bin/zip/bench_zip create corpus ours.zip 6" "zip -r -q -6 theirs.zip corpus"
    # The pair's last step may be a prepare that removed them: made once more for their sizes.
    rm -f ours.zip theirs.zip
    "$bin/zip/bench_zip" create corpus ours.zip 6 >/dev/null && zip -r -q -6 theirs.zip corpus
    if [ -f ours.zip ] && [ -f theirs.zip ]; then
        echo "# zip-deflate6 archives: ours $(stat -c %s ours.zip) bytes, zip's $(stat -c %s theirs.zip) bytes"
        ratio zip-deflate6-size "$(stat -c %s ours.zip)" "$(stat -c %s theirs.zip)" 1.005
    fi
    # The writer on several threads, against the same one-thread tool.
    pair zip-deflate6-2threads - "rm -f ours.zip theirs.zip" \
        "$bin/zip/bench_zip create corpus ours.zip 6 2" "zip -r -q -6 theirs.zip corpus"
    pair zip-store 1.0 "rm -f ours.zip theirs.zip" \
        "$bin/zip/bench_zip create corpus ours.zip 0" "zip -r -q -0 theirs.zip corpus"
    if [ "${BENCH_CALLGRIND:-0}" = 1 ]; then
        # Instruction counts do not depend on the load of the machine.
        irs() { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
            sed -n 's/.*Collected : //p'; }
        rm -f ours.zip theirs.zip
        ia=$(irs "$bin/zip/bench_zip" create corpus ours.zip 6)
        ib=$(irs zip -r -q -6 theirs.zip corpus)
        echo "# zip-deflate6 instructions: ours $ia, zip $ib, ratio $(awk -v a="$ia" -v b="$ib" 'BEGIN { printf "%.3f", a / b }')"
    fi
    "$bin/zip/bench_zip" floor corpus 6 "$rounds" | tee floor.txt | sed 's/^/# /'
    awk '/^share/ { printf "ratio zip-share-of-zlib-level6 = %.3f (target >= 0.90) %s\n", $2,
        ($2 >= 0.90 ? "ok" : "MISSED") }' floor.txt
fi

if want 2; then
    echo "## 2. Extraction and verification"
    rm -f archive.zip && zip -r -q -6 archive.zip corpus
    pair unzip-extract 0.40 "rm -rf out" \
        "$bin/zip/bench_zip extract archive.zip out" "unzip -q archive.zip -d out"
    pair unzip-verify 0.25 "true" "$bin/zip/bench_zip verify archive.zip" "unzip -tq archive.zip"
    rm -rf out
fi

if want 3; then
    echo "## 3. Logging, daily files, flush per record"
    "$bin/logger/bench_logcompare" "$log_records" "$rounds" "$data/logs" | while read -r n a b; do
        if [ "$n" = "#" ]; then
            echo "$n $a $b"
            continue
        fi
        printf '# %s: ours %.0f ns/record, spdlog %.0f ns/record\n' "$n" "$a" "$b"
        # The printf form is for the record: there Qt's formatting of the arguments dominates.
        target=1.3
        [ "$n" = log1t-printf ] && target=-
        ratio "$n-vs-spdlog-daily" "$a" "$b" "$target"
    done
fi

if want 4; then
    echo "## 4. Byte arrays"
    for f in text-1m.txt text-large.txt; do
        "$bin/gzip/bench_gzip" "$f" "$((rounds * 2 + 1))" | while read -r n a b; do
            if [ "$n" = size ]; then
                printf '# gzcompress %s: ours %d bytes, zlib level 6 %d bytes\n' "$f" "$a" "$b"
                ratio "gzcompress-size-${f%.txt}" "$a" "$b" 1.005
                continue
            fi
            printf '# %s %s: ours %.4f s, zlib %.4f s\n' "$n" "$f" "$a" "$b"
            ratio "$n-${f%.txt}" "$a" "$b" 0.6
        done
    done
fi

if want 5; then
    echo "## 5. Download from nginx on 127.0.0.1"
    if [ -x "$bin/http/bench_http" ]; then
        port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        mkdir -p nginx/logs www out
        mv download.bin www/
        cat >nginx/nginx.conf <<CONF
daemon off;
worker_processes 1;
pid $data/nginx/nginx.pid;
error_log $data/nginx/logs/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $data/nginx/body;
    proxy_temp_path $data/nginx/proxy;
    fastcgi_temp_path $data/nginx/fastcgi;
    uwsgi_temp_path $data/nginx/uwsgi;
    scgi_temp_path $data/nginx/scgi;
    server { listen 127.0.0.1:$port; root $data/www; }
}
CONF
        nginx -c "$data/nginx/nginx.conf" -p "$data/nginx" 2>nginx/logs/start.log &
        nginx_pid=$!
        url=http://127.0.0.1:$port/download.bin
        up=0
        for _ in $(seq 100); do
            curl -sf -o /dev/null -r 0-0 "$url" && { up=1; break; }
            sleep 0.1
        done
        if [ $up = 0 ]; then
            echo "ratio http-4MiB-blocks-time = n/a (target <= 1.1) MISSED: nginx did not start"
            tail -n 3 nginx/logs/start.log nginx/logs/error.log 2>/dev/null | sed 's/^/#   /' || true
        else
            for mib in 4 1 16; do
                target=1.1
                [ $mib != 4 ] && target=-
                pair "http-${mib}MiB-blocks-time" $target \
                    "rm -rf out/ours.bin out/ours.bin.part out/curl.bin" \
                    "$bin/http/bench_http $url out/ours.bin $((mib << 20))" \
                    "curl -s -o out/curl.bin $url"
                peak=$("$bin/http/bench_http" "$url" out/ours.bin $((mib << 20)) 2>/dev/null |
                    sed -n 's/^peak //p')
                echo "# peak memory, ${mib} MiB blocks: $peak"
                rm -f out/ours.bin
            done
        fi
    else
        echo "ratio http-4MiB-blocks-time = n/a (target <= 1.1) MISSED: bench_http was not built"
    fi
fi

if want 6; then
    echo "## 6. Opening a 1 GiB file that is not an archive"
    truncate -s 1G plain.dat
    "$bin/zip/bench_zip" open plain.dat | tee open.txt | sed 's/^/# /'
    awk '/^open/ { printf "time open-1GiB-non-archive = %s s (target < 1 s) %s\n", $2,
        ($2 + 0 < 1 ? "ok" : "MISSED") }' open.txt
    rm -f plain.dat
fi

if want 7; then
    echo "## 7. Money and versions (ns per operation, no target)"
    if [ -x "$bin/money/bench_money" ]; then
        "$bin/money/bench_money" --benchmark_min_time=0.2 2>/dev/null | sed 's/^/# /'
    fi
fi
