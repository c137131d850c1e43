"""Read sorvel archives from Python, the way zipfile reads zip files.

    import sorvel

    with sorvel.Archive("a.sva", password="secret") as archive:
        for info in archive.infolist():
            print(info.filename, info.file_size, info.is_dir(), info.mtime, info.read_only)
        with archive.open("docs/readme.txt") as f:      # readable, seekable, io.RawIOBase
            head = f.read(100)
        data = archive.read("hello.txt")
        archive.extractall("out")
        bad = archive.testzip()                         # first damaged item, or None

Items are named as the sorvel tool lists them: "/" between names, no leading "/". Failures
raise sorvel.Error or one of its subclasses, with the message the sorvel tool prints and its
exit code as `code`. Reading releases the GIL: several threads may read from one archive.
"""

import io
import os

from ._sorvel import (  # noqa: F401  (re-exported)
    DamagedArchive,
    DamagedItem,
    Error,
    NotAnArchive,
    UnsupportedArchive,
    WrongPassword,
    library_version,
)
from . import _sorvel

__all__ = [
    "Archive", "ArchiveInfo", "ArchiveFile", "Error", "WrongPassword", "NotAnArchive",
    "UnsupportedArchive", "DamagedArchive", "DamagedItem", "library_version",
]

_READ_ONLY = 0x01


class ArchiveInfo:
    """One item of an archive, as infolist() and getinfo() give it.

    filename      the item's path, "/" between names
    file_size     its recorded size (0 for folders)
    output_size   the bytes extraction writes and open() reads (for a damaged file, what the
                  archive holds and a tail of zeros, never past the archive's size)
    mtime, atime, ctime
                  modification, access and creation time, seconds since 1970 (UTC)
    attributes    the archive's attribute bits; read_only is the first of them
    damaged       a file whose content ends early, or a folder whose directory is damaged
    damage        why a damaged file's content ends early
    left_out      extraction leaves it out (left_out_reason says why); it cannot be opened
    """

    __slots__ = ("filename", "file_size", "output_size", "readable_size", "mtime", "atime", "ctime",
                 "attributes", "damaged", "damage", "left_out", "left_out_reason", "_folder", "_known")

    def __init__(self, item):
        self.filename = item.path
        self.file_size = item.size
        self.output_size = item.output_size
        self.readable_size = item.readable_size
        self.mtime = item.modified
        self.atime = item.accessed
        self.ctime = item.created
        self.attributes = item.attributes
        self.damaged = item.damaged
        self.damage = item.damage
        self.left_out = item.left_out
        self.left_out_reason = item.left_out_reason
        self._folder = item.is_folder
        self._known = item.known

    def is_dir(self):
        """True for a folder."""
        return self._folder

    @property
    def read_only(self):
        """True when the item carries the read-only attribute (extraction clears the write bits)."""
        return bool(self.attributes & _READ_ONLY)

    def __repr__(self):
        kind = "folder" if self._folder else "file" if self._known else "unknown"
        return "<ArchiveInfo %r %s size=%d%s>" % (
            self.filename, kind, self.file_size,
            " left out: " + self.left_out_reason if self.left_out else " damaged" if self.damaged else "")


class ArchiveFile(io.RawIOBase):
    """A file item's content, read on demand: only the blocks a read touches are read and
    decrypted, without the GIL. Readable and seekable; reading past the part a damaged file's
    archive holds raises DamagedItem."""

    def __init__(self, stream, name):
        super().__init__()
        self._stream = stream
        self.name = name

    def readable(self):
        return True

    def seekable(self):
        return True

    def readinto(self, buffer):
        self._checkClosed()
        return self._stream.readinto(buffer)

    def readall(self):
        self._checkClosed()
        left = max(self._stream.size - self._stream.tell(), 0)
        buffer = bytearray(left)
        view = memoryview(buffer)
        done = 0
        while done < left:
            got = self._stream.readinto(view[done:])
            if got == 0:
                break
            done += got
        del view
        del buffer[done:]
        return bytes(buffer)

    def seek(self, offset, whence=io.SEEK_SET):
        self._checkClosed()
        if whence not in (io.SEEK_SET, io.SEEK_CUR, io.SEEK_END):
            raise ValueError("invalid whence (%r)" % (whence,))
        return self._stream.seek(offset, whence)

    def tell(self):
        self._checkClosed()
        return self._stream.tell()

    @property
    def size(self):
        """The content's length: what extraction writes."""
        return self._stream.size

    def close(self):
        self._stream = _ClosedStream
        super().close()


class _ClosedStream:
    size = 0


class Archive:
    """An opened sorvel archive.

    Archive(file, password=None, password_file=None)

    file           a path (str, bytes or os.PathLike) or an open file descriptor (int, which
                   the caller keeps and closes)
    password       str (normalised to NFKC, as the programs normalise a typed password), bytes
                   (used as they are), or a callable that answers one of them and is called
                   only when the archive asks for a password
    password_file  a file whose first line is the password, as `sorvel --password-file`

    The password is not kept once the keys are made. Raises WrongPassword, NotAnArchive,
    UnsupportedArchive, DamagedArchive or Error (a file that cannot be read). Usable as a
    context manager; close() lets go of the archive (open streams keep reading).
    """

    def __init__(self, file, password=None, password_file=None):
        if password_file is not None:
            password_file = os.fsdecode(os.fspath(password_file))
        self._archive = _sorvel.Archive(file, password, password_file)
        self._infos = None
        self._by_name = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Lets go of the archive; streams already open keep reading."""
        self._archive.close()

    def infolist(self):
        """Every item in listing order (a folder before what it holds), as ArchiveInfo."""
        if self._infos is None:
            self._infos = [ArchiveInfo(item) for item in self._archive.items()]
        return list(self._infos)

    def namelist(self):
        """The names of every item, in listing order."""
        return [info.filename for info in self.infolist()]

    def getinfo(self, name):
        """The ArchiveInfo of the item `name` (A-Z match either case); KeyError when none."""
        return ArchiveInfo(self._archive.info(name))

    def facts(self):
        """The archive as a whole: ciphers, block size and counts, item counts and sizes."""
        return self._archive.facts()

    def open(self, name, mode="r"):
        """The content of the file item `name` as a readable, seekable ArchiveFile."""
        if mode != "r":
            raise ValueError("archives are opened for reading only")
        if isinstance(name, ArchiveInfo):
            name = name.filename
        return ArchiveFile(self._archive.open(name), name)

    def read(self, name):
        """The whole content of the file item `name` as bytes."""
        with self.open(name) as f:
            return f.readall()

    def extractall(self, path=None, members=None, existing="replace-writable", progress=None, *,
                   patterns=None, exclude=None, wildcards_match_slash=False):
        """Extracts every item, or `members` (names or ArchiveInfo, each with what lies below it)
        into `path` (default: the current folder), as `sorvel extract` does. A member's name is
        taken as it is: '*', '?' and '[' in it are no wildcards.

        patterns   shell-style patterns ('*', '?', "[...]") choosing, beside `members`, the items
                   whose whole path they match, each with what lies below it, as the operands
                   of `sorvel extract` do
        exclude    patterns of items left out with what lies below them, as `--exclude`: one
                   matches the end of a path, or the whole path when it begins with "/"
        wildcards_match_slash
                   wildcards in patterns and excludes match "/" too
        Each item is extracted once, in listing order. A member or pattern that names nothing
        raises Error with code 2 and a line "no such item in archive: ..." for each, before
        anything is written.

        existing   "replace-writable" (the default: a read-only file is kept and reported),
                   "replace" (as --overwrite) or "keep" (as --keep)
        progress   progress(items_done, items_total, bytes_done, bytes_total, current_item),
                   called as the work goes on; answering False, or raising, stops it, and no
                   partly written file is left behind (Ctrl-C does the same).

        Returns the lines on items not written or damaged; when there are any, DamagedItem is
        raised instead, with them as its `problems`.
        """
        if members is not None:
            members = [m.filename if isinstance(m, ArchiveInfo) else m for m in members]
        folder = os.fsdecode(os.fspath(path)) if path is not None else os.getcwd()
        return self._archive.extract(folder, members, existing, progress, list(patterns or []), list(exclude or []),
                                     wildcards_match_slash)

    def extract(self, member, path=None, **options):
        """Extracts one item (and what lies below it) at its full path below `path`."""
        self.extractall(path, [member], **options)

    def testzip(self, progress=None):
        """Reads every file as extraction would, writing nothing; the name of the first item that
        is damaged or left out, or None."""
        return self._archive.test(progress)["first_damaged"]

    def test(self, progress=None):
        """testzip's full report: files, folders, bytes, problems (the tool's lines), first_damaged."""
        return self._archive.test(progress)
