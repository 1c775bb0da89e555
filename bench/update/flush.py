#!/usr/bin/env python3
"""Cost of making an extracted tree durable: one flush per file against one flush of the file system.

Usage: bench/update/flush.py [DIR] [FILES] [KIB]  (default: a folder under /var/tmp, 2000 files of 16 KiB)
"""
import ctypes
import os
import shutil
import sys
import tempfile
import time

libc = ctypes.CDLL(None, use_errno=True)


def run(base, mode, files, size):
    folder = tempfile.mkdtemp(dir=base)
    data = os.urandom(size)
    os.sync()
    start = time.monotonic()
    for i in range(files):
        fd = os.open(os.path.join(folder, str(i)), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(fd, data)
        if mode == "per file":
            os.fsync(fd)
        os.close(fd)
    if mode == "file system":
        fd = os.open(folder, os.O_RDONLY)
        libc.syncfs(fd)
        os.close(fd)
    elapsed = time.monotonic() - start
    shutil.rmtree(folder)
    return elapsed


def main():
    base = sys.argv[1] if len(sys.argv) > 1 else "/var/tmp"
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    size = (int(sys.argv[3]) if len(sys.argv) > 3 else 16) * 1024
    for _ in range(3):
        per_file = run(base, "per file", files, size)
        whole = run(base, "file system", files, size)
        print(f"{files} files: a flush per file {per_file:.2f} s, one file-system flush {whole:.2f} s,"
              f" ratio {per_file / whole:.1f}")


if __name__ == "__main__":
    main()
