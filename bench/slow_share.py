#!/usr/bin/env python3
"""A read-only FUSE passthrough that waits a fixed time in every request, like a network share.

    python3 bench/slow_share.py SOURCE MOUNTPOINT [--latency SECONDS]

Every lookup (getattr), open, directory listing and read waits --latency seconds (0.0005 by
default) before it is served; requests are served concurrently (one thread each), as a NAS
serves several clients' requests at once. The kernel keeps no file data between opens (no
kernel_cache), so every read of a file goes to the share. Runs in the foreground until
unmounted (`fusermount -u MOUNTPOINT`). Needs Debian's python3-fusepy.
"""

import argparse
import errno
import os
import sys
import time

try:
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:  # an interpreter that does not see Debian's packages
    sys.path.append("/usr/lib/python3/dist-packages")
    from fusepy import FUSE, FuseOSError, Operations


class SlowShare(Operations):
    def __init__(self, source, latency):
        self.source = os.path.realpath(source)
        self.latency = latency

    def _path(self, path):
        return os.path.join(self.source, path.lstrip("/"))

    def _wait(self):
        if self.latency > 0:
            time.sleep(self.latency)

    def getattr(self, path, fh=None):
        self._wait()
        try:
            st = os.lstat(self._path(path))
        except OSError as e:
            raise FuseOSError(e.errno)
        return {key: getattr(st, key) for key in (
            "st_mode", "st_nlink", "st_size", "st_uid", "st_gid", "st_atime", "st_mtime",
            "st_ctime")}

    def readdir(self, path, fh):
        self._wait()
        return [".", ".."] + os.listdir(self._path(path))

    def readlink(self, path):
        self._wait()
        return os.readlink(self._path(path))

    def open(self, path, flags):
        self._wait()
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        try:
            return os.open(self._path(path), os.O_RDONLY)
        except OSError as e:
            raise FuseOSError(e.errno)

    def read(self, path, size, offset, fh):
        self._wait()
        return os.pread(fh, size, offset)

    def release(self, path, fh):
        os.close(fh)
        return 0

    def statfs(self, path):
        st = os.statvfs(self._path(path))
        return {key: getattr(st, key) for key in (
            "f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree", "f_files",
            "f_flag", "f_frsize", "f_namemax")}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("source")
    parser.add_argument("mountpoint")
    parser.add_argument("--latency", type=float, default=0.0005)
    args = parser.parse_args(argv)
    FUSE(SlowShare(args.source, args.latency), args.mountpoint, foreground=True, nothreads=False,
         ro=True, fsname="slowshare")
    return 0


if __name__ == "__main__":
    sys.exit(main())
