#!/usr/bin/python3
"""A medium that hangs, for Wine: a pass-through FUSE file system over SOURCE,
mounted at MOUNT, whose statfs waits while the file FLAG exists, as a failing
stick or a card reader without its card holds whoever asks it for its size.

    hanging_fs.py SOURCE MOUNT FLAG

Runs in the foreground until it is unmounted (umount MOUNT). Needs Debian's
python3-fusepy (module fusepy, for /usr/bin/python3), /dev/fuse and root.
"""
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class Hanging(Operations):
    def __init__(self, source, flag):
        self.source, self.flag = source, flag

    def _path(self, path):
        return os.path.join(self.source, path.lstrip("/"))

    def statfs(self, path):
        while os.path.exists(self.flag):
            time.sleep(0.1)
        st = os.statvfs(self._path(path))
        return {key: getattr(st, key) for key in ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail",
                                                  "f_ffree", "f_files", "f_flag", "f_frsize", "f_namemax")}

    def getattr(self, path, fh=None):
        try:
            st = os.lstat(self._path(path))
        except OSError as e:
            raise FuseOSError(e.errno)
        return {key: getattr(st, key) for key in ("st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime",
                                                  "st_nlink", "st_size", "st_uid")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._path(path))

    def access(self, path, mode):
        if not os.access(self._path(path), mode):
            raise FuseOSError(errno.EACCES)

    def open(self, path, flags):
        return os.open(self._path(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_WRONLY | os.O_CREAT, mode)

    def read(self, path, size, offset, fh):
        os.lseek(fh, offset, os.SEEK_SET)
        return os.read(fh, size)

    def write(self, path, data, offset, fh):
        os.lseek(fh, offset, os.SEEK_SET)
        return os.write(fh, data)

    def truncate(self, path, length, fh=None):
        with open(self._path(path), "r+") as f:
            f.truncate(length)

    def flush(self, path, fh):
        return os.fsync(fh)

    def fsync(self, path, datasync, fh):
        return os.fsync(fh)

    def release(self, path, fh):
        return os.close(fh)

    def mkdir(self, path, mode):
        return os.mkdir(self._path(path), mode)

    def rmdir(self, path):
        return os.rmdir(self._path(path))

    def unlink(self, path):
        return os.unlink(self._path(path))

    def rename(self, old, new):
        return os.rename(self._path(old), self._path(new))

    def chmod(self, path, mode):
        return os.chmod(self._path(path), mode)

    def chown(self, path, uid, gid):
        return os.chown(self._path(path), uid, gid)

    def utimens(self, path, times=None):
        return os.utime(self._path(path), times)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, mount, flag = sys.argv[1:]
    FUSE(Hanging(source, flag), mount, foreground=True, nothreads=False, allow_other=True)
