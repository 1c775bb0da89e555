#!/usr/bin/env python3
"""Cost of making an extracted tree durable, three ways: a flush per file as it is closed; one flush of
the whole file system at the end; writing started as each file is closed and a flush of each file at the
end (what the update does before the exchange). Before each run an unrelated file of ARCHIVE MiB is
written on the same file system and left unflushed, as the downloaded archive is.

Usage: bench/update/flush.py [DIR] [FILES] [KIB] [ARCHIVE_MIB]
       (default: a folder under /var/tmp, 2000 files of 256 KiB, a 400 MiB archive)
Figures mean something only on an otherwise idle machine.
"""
import ctypes
import os
import shutil
import statistics
import sys
import tempfile
import time

libc = ctypes.CDLL(None, use_errno=True)
SYNC_FILE_RANGE_WRITE = 2


def run(base, mode, files, size, archive_mib):
    folder = tempfile.mkdtemp(dir=base)
    chunk = os.urandom(1 << 20)
    with open(os.path.join(folder, "archive"), "wb") as f:
        for _ in range(archive_mib):
            f.write(chunk)
    data = os.urandom(size)
    tree = os.path.join(folder, "tree")
    os.mkdir(tree)
    start = time.monotonic()
    for i in range(files):
        fd = os.open(os.path.join(tree, str(i)), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(fd, data)
        if mode == "per file":
            os.fsync(fd)
        elif mode.startswith("started"):
            libc.sync_file_range(fd, ctypes.c_longlong(0), ctypes.c_longlong(0), SYNC_FILE_RANGE_WRITE)
        os.close(fd)
    if mode in ("file system", "started, file system"):
        fd = os.open(tree, os.O_RDONLY)
        libc.syncfs(fd)
        os.close(fd)
    elif mode == "started, then walked":
        for i in range(files):
            fd = os.open(os.path.join(tree, str(i)), os.O_RDONLY)
            os.fdatasync(fd)
            os.close(fd)
        fd = os.open(tree, os.O_RDONLY)
        os.fsync(fd)
        os.close(fd)
    elapsed = time.monotonic() - start
    shutil.rmtree(folder)
    os.sync()
    return elapsed


def main():
    base = sys.argv[1] if len(sys.argv) > 1 else "/var/tmp"
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    size = (int(sys.argv[3]) if len(sys.argv) > 3 else 256) * 1024
    archive = int(sys.argv[4]) if len(sys.argv) > 4 else 400
    modes = ["per file", "file system", "started, then walked", "started, file system"]
    times = {m: [] for m in modes}
    os.sync()
    for r in range(5):
        # Alternate the order so that no way always runs first.
        for m in (modes if r % 2 == 0 else list(reversed(modes))):
            times[m].append(run(base, m, files, size, archive))
    print(f"{files} files of {size // 1024} KiB beside a {archive} MiB unflushed file, 5 runs each:")
    for m in modes:
        t = times[m]
        print(f"  {m:22s} median {statistics.median(t):.2f} s (min {min(t):.2f}, max {max(t):.2f})")


if __name__ == "__main__":
    main()
