#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# What the file system under the shared folder guarantees across classroom PCs, measured on
# two mounts of one served folder (run through mounts.sh, or with two paths of one folder):
#   mounts.sh 2 python3 tests/share/measure.py
# Prints one line per property: exclusive create, byte-range locks (POSIX and open file
# description), rename visibility, owner and mode after a rename, and the time of the steps
# of a save (a 900-byte write in place, fsync, a small file created and removed).
import fcntl
import os
import statistics
import struct
import time

os.umask(0o002)
a, b = (os.environ.get("SHARE_MOUNTS", "") or "").split()[:2]


def line(what, result):
    print(f"{what:<58} {result}")


# Exclusive create through one mount, then through the other.
pa, pb = os.path.join(a, "excl"), os.path.join(b, "excl")
fd = os.open(pa, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o664)
try:
    os.close(os.open(pb, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o664))
    line("O_EXCL create through A, again through B", "B ALSO CREATED IT")
except FileExistsError:
    line("O_EXCL create through A, again through B", "B refused (EEXIST)")
os.close(fd)
os.unlink(pa)
# Removed through A: can B create it at once?
try:
    os.close(os.open(pb, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o664))
    line("removed through A, O_EXCL create through B at once", "created")
    os.unlink(pb)
except FileExistsError:
    line("removed through A, O_EXCL create through B at once", "STILL EXISTS for B")

# Byte-range locks.
pa, pb = os.path.join(a, "locked"), os.path.join(b, "locked")
with open(pa, "wb") as f:
    f.write(b"x" * 900)
fa = os.open(pa, os.O_RDWR)
fb = os.open(pb, os.O_RDWR)
for name, cmd in (("POSIX (F_SETLK)", fcntl.F_SETLK), ("OFD (F_OFD_SETLK)", 37)):
    try:
        fcntl.fcntl(fa, cmd, struct.pack("hhqqi", fcntl.F_WRLCK, 0, 0, 0, 0))
        try:
            fcntl.fcntl(fb, cmd, struct.pack("hhqqi", fcntl.F_WRLCK, 0, 0, 0, 0))
            line(f"{name} write lock through A, then through B", "B ALSO GOT IT")
        except OSError as e:
            line(f"{name} write lock through A, then through B", f"B refused ({e.strerror})")
        fcntl.fcntl(fa, cmd, struct.pack("hhqqi", fcntl.F_UNLCK, 0, 0, 0, 0))
        fcntl.fcntl(fb, cmd, struct.pack("hhqqi", fcntl.F_UNLCK, 0, 0, 0, 0))
    except OSError as e:
        line(f"{name} write lock through A", f"refused ({e.strerror})")
os.close(fa)
os.close(fb)

# A file replaced by rename through A, read through B at once.
with open(pa, "wb") as f:
    f.write(b"old")
with open(pb, "rb") as f:
    f.read()
tmp = pa + ".new"
with open(tmp, "wb") as f:
    f.write(b"new")
os.rename(tmp, pa)
with open(pb, "rb") as f:
    line("replaced by rename through A, read through B at once", f.read().decode())
# Written in place through A while B has it open.
fb = os.open(pb, os.O_RDONLY)
with open(pa, "r+b") as f:
    f.write(b"NEW")
line("written in place through A, read on B's open descriptor", os.pread(fb, 3, 0).decode())
os.close(fb)
# Stat through B after A changed the size.
with open(pa, "ab") as f:
    f.write(b"more")
line("size through B after A appended 4 bytes to 3", str(os.stat(pb).st_size))

# Owner and mode: a 0664 file created through A, replaced by rename through B.
st = os.stat(os.path.join(os.environ["SHARE_SERVED"], "locked"))
line("file created through A (uid gid mode on the server)", f"{st.st_uid} {st.st_gid} {oct(st.st_mode & 0o7777)}")
with open(pb + ".new", "wb") as f:
    f.write(b"x")
os.rename(pb + ".new", pb)
st = os.stat(os.path.join(os.environ["SHARE_SERVED"], "locked"))
line("after a rename through B (uid gid mode on the server)", f"{st.st_uid} {st.st_gid} {oct(st.st_mode & 0o7777)}")

# The steps of a save in place through A.
with open(pa, "wb") as f:
    f.write(b"\0" * 900)
times = {"lock file create+remove": [], "900-byte write+fsync": [], "open+read 900": []}
for _ in range(30):
    t = time.monotonic()
    fd = os.open(pa + ".lock", os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o664)
    os.write(fd, b"l" * 64)
    os.close(fd)
    os.unlink(pa + ".lock")
    times["lock file create+remove"].append(time.monotonic() - t)
    t = time.monotonic()
    fd = os.open(pa, os.O_RDONLY)
    os.read(fd, 900)
    os.close(fd)
    times["open+read 900"].append(time.monotonic() - t)
    t = time.monotonic()
    fd = os.open(pa, os.O_RDWR)
    os.pwrite(fd, b"y" * 900, 0)
    os.fsync(fd)
    os.close(fd)
    times["900-byte write+fsync"].append(time.monotonic() - t)
for k, v in times.items():
    line(f"{k} (ms, median / max of 30)", f"{statistics.median(v) * 1000:.2f} / {max(v) * 1000:.2f}")
os.unlink(pa)
