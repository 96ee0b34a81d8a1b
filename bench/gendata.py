#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the benchmark data sets below a directory, the same bytes on every run.

Usage: gendata.py <directory> <corpus MiB> <download MiB> <large text MiB>

  corpus/        mixed tree for the archive comparisons: source-like text, logs, random
                 .bin and .jpg files, thousands of files under 60 bytes, a few large files
  text-1m.txt    1 MiB of text, and text-large.txt of the size given, for the byte-array tests
  download.bin   the file served over HTTP
"""
import os
import random
import sys

MIB = 1 << 20

WORDS = ("if else for while return const auto int void static class struct namespace "
         "include define QString QByteArray value result error size count index buffer "
         "data file name path open close read write flush stream entry header offset "
         "length signal slot thread mutex lock unlock timer event object parent child "
         "start stop finish update version manager logger writer reader archive").split()
LEVELS = ("INFO:", "WARNING:", "CRITICAL:")


def text_block(rnd, size):
    """Source-like lines: indented statements of identifiers, numbers and punctuation."""
    out, n = [], 0
    while n < size:
        words = rnd.choices(WORDS, k=rnd.randint(3, 12))
        line = " " * (4 * rnd.randint(0, 3)) + " ".join(words)
        if rnd.random() < 0.3:
            line += " = %d;" % rnd.randint(0, 100000)
        elif rnd.random() < 0.5:
            line += "(" + rnd.choice(WORDS) + ");"
        out.append(line)
        n += len(line) + 1
    return ("\n".join(out) + "\n").encode()[:size]


def log_block(rnd, size, start):
    out, n, t = [], 0, start
    while n < size:
        t += rnd.randint(1, 900)
        line = "[%02d:%02d:%02d.%03d] %-10s%s %d" % (
            t // 3600000 % 24, t // 60000 % 60, t // 1000 % 60, t % 1000,
            rnd.choice(LEVELS), " ".join(rnd.choices(WORDS, k=rnd.randint(4, 10))),
            rnd.randint(0, 1 << 20))
        out.append(line)
        n += len(line) + 1
    return ("\n".join(out) + "\n").encode()[:size]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def corpus(root, total, rnd):
    budget = {"src": 0.30, "logs": 0.25, "bin": 0.10, "img": 0.10, "big": 0.25}
    for kind, share in budget.items():
        left = int(total * share)
        i = 0
        while left > 0:
            if kind == "src":
                size = min(left, rnd.randint(2000, 40000))
                ext = rnd.choice(("cpp", "h", "txt", "py", "xml"))
                data = text_block(rnd, size)
                path = "%s/src/mod%02d/file%04d.%s" % (root, i % 25, i, ext)
            elif kind == "logs":
                size = min(left, rnd.randint(100000, 2 * MIB))
                data = log_block(rnd, size, rnd.randint(0, 86400000))
                path = "%s/logs/2021-12-%02d_svc%d.log" % (root, i % 28 + 1, i)
            elif kind in ("bin", "img"):
                size = min(left, rnd.randint(10000, 500000))
                data = rnd.randbytes(size)
                if kind == "img":
                    data = b"\xff\xd8\xff\xe0" + data[4:]
                ext = "bin" if kind == "bin" else "jpg"
                path = "%s/%s/d%02d/blob%04d.%s" % (root, kind, i % 10, i, ext)
            else:
                size = min(left, max(total // 12, MIB))
                data = (log_block(rnd, size, 0) if i % 3 != 2
                        else rnd.randbytes(size))
                path = "%s/big/large%d.%s" % (root, i, "log" if i % 3 != 2 else "dat")
            write(path, data)
            left -= size
            i += 1
    tiny = max(1000, min(4000, total // (50 * 1024)))
    for i in range(tiny):
        write("%s/tiny/t%02d/n%05d.txt" % (root, i % 40, i),
              text_block(rnd, rnd.randint(1, 59)))


def main():
    root, corpus_mib, download_mib, large_mib = sys.argv[1], *map(int, sys.argv[2:5])
    rnd = random.Random(20211216)
    corpus(os.path.join(root, "corpus"), corpus_mib * MIB, rnd)
    write(os.path.join(root, "text-1m.txt"), text_block(rnd, MIB))
    block = text_block(rnd, 4 * MIB)
    with open(os.path.join(root, "text-large.txt"), "wb") as f:
        for _ in range(large_mib // 4):
            f.write(block)
    chunk = rnd.randbytes(MIB)
    with open(os.path.join(root, "download.bin"), "wb") as f:
        for _ in range(download_mib):
            f.write(chunk)


if __name__ == "__main__":
    main()
