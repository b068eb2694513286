#!/usr/bin/env python3
"""Writes a benchmark product tree: make_tree.py ROOT MEGABYTES FILES DIRS.

Mostly text-like files (bzip2 makes them about a third, like a product's
programs, scripts and documents), one in seven that hardly compresses, sizes
spread log-normally from a few hundred bytes to a few hundred kilobytes (scaled
with the mean size MEGABYTES / FILES), in DIRS nested directories; the last file
makes up the total. The same arguments give the same tree."""
import os
import random
import sys

root, megabytes, count, dir_count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
# 20 MB in 700 files is scale 1, the first benchmark's tree.
scale = megabytes / 20 * 700 / count
rng = random.Random(2024)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz_") for _ in range(rng.randint(2, 12)))
         for _ in range(3000)]
dirs = [""]
for i in range(dir_count):
    dirs.append(os.path.join(rng.choice(dirs), "dir%02d" % i))
target, total = megabytes * 1024 * 1024, 0
for i in range(count):
    size = int(scale * min(400_000, rng.lognormvariate(9.6, 1.1)))
    if i == count - 1:
        size = max(0, target - total)
    path = os.path.join(root, rng.choice(dirs), "file%03d.%s" % (i, rng.choice(["c", "h", "txt", "dat", "so"])))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if i % 7 == 0:
        data = rng.randbytes(size)
    else:
        text, length = [], 0
        while length < size:
            line = " ".join(rng.choice(words) for _ in range(rng.randint(3, 12))) + "\n"
            text.append(line)
            length += len(line)
        data = "".join(text).encode()[:size]
    with open(path, "wb") as f:
        f.write(data)
    total += size
