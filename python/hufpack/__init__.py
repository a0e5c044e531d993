"""Hufpack's static Huffman compression of byte values, from Python, over libhufpack.

    >>> import hufpack
    >>> packed = hufpack.compress(b"abracadabra" * 100)
    >>> hufpack.decompress(packed) == b"abracadabra" * 100
    True

compress() writes the same bytes as ``hufpack -c``; decompress() restores every member of a
compressed buffer in turn. compress_file() and decompress_file() have the tool's rules for files,
and open() reads or writes a compressed file as a file object. Every job runs without the
interpreter's lock, so jobs on several threads run at once.
"""

import collections
import enum
import io
import os
import tempfile
import threading
from typing import NamedTuple

from . import _hufpack

__all__ = [
    "HufpackError",
    "SameFileError",
    "Reason",
    "Info",
    "HufpackFile",
    "compress",
    "decompress",
    "info",
    "compress_file",
    "decompress_file",
    "open",
]

__version__ = _hufpack.version_string()
# MAJOR * 10000 + MINOR * 100 + PATCH, of the library this module runs on.
LIBRARY_VERSION_NUMBER = _hufpack.version_number()

# libhufpack's results (enum hufpack_result) and file roles (enum hufpack_file_role).
_CANNOT_OPEN = -1
_NOT_OUR_FORMAT = -2
_TOO_LARGE = -3
_SAME_FILE = -4
_BAD_ARGUMENT = -6
_SOURCE = 1
_DESTINATION = 2


class Reason(enum.IntEnum):
    """Why a job failed when no system call said so (enum hufpack_reason)."""

    NONE = 0
    NOT_REGULAR_FILE = 1
    CHANGED_WHILE_READ = 2
    TOO_LARGE = 3
    NOT_OURS = 4
    BAD_CHECKSUM = 5
    CUT_SHORT = 6
    DAMAGED = 7
    SAME_FILE = 8
    SYMBOLIC_LINK_SOURCE = 9
    HARD_LINKED_SOURCE = 10
    NOT_REMOVED = 11
    NOT_REMOVED_CHANGED = 12
    NOT_REMOVED_GREW = 13
    TRAILING_DATA = 14
    CANCELLED = 15


def _reason(number):
    try:
        return Reason(number)
    except ValueError:
        return number


class HufpackError(ValueError):
    """Bytes that are not a compressed file, a damaged one, bytes after its last member that are
    not one, or a source too large for one compressed file (single_file).

    ``reason`` is a Reason, ``filename`` the file's name or None for a buffer, and
    ``trailing_bytes`` counts the bytes after the last member for Reason.TRAILING_DATA."""

    def __init__(self, message, *, reason=Reason.NONE, filename=None, trailing_bytes=0):
        super().__init__(message)
        self.reason = reason
        self.filename = filename
        self.trailing_bytes = trailing_bytes

    def __str__(self):
        message = super().__str__()
        if self.filename is None:
            return message
        return f"{os.fsdecode(self.filename)}: {message}"


class SameFileError(OSError):
    """The source and the destination are one file (by any names); nothing was made. As
    shutil.SameFileError, an OSError: ``filename`` is the source, ``filename2`` the
    destination."""


def _error(failure, source=None, destination=None):
    """The exception for a job's _hufpack.Failure, with the name of the file it is about."""
    result, role, error, reason, trailing_bytes, words = failure.args
    filename = {_SOURCE: source, _DESTINATION: destination}.get(role)
    reason = _reason(reason)
    if result in (_NOT_OUR_FORMAT, _TOO_LARGE):
        return HufpackError(
            words, reason=reason, filename=filename, trailing_bytes=trailing_bytes
        )
    if result == _CANNOT_OPEN and error:
        # OSError picks its subclass from the number: FileNotFoundError, PermissionError...
        return OSError(error, words, filename)
    if result == _CANNOT_OPEN or result == _SAME_FILE:
        exception = (SameFileError if result == _SAME_FILE else OSError)(
            words if filename is None else f"{os.fsdecode(filename)}: {words}"
        )
        exception.strerror = words
        exception.filename = source if result == _SAME_FILE else filename
        if result == _SAME_FILE:
            exception.filename2 = destination
        exception.reason = reason
        return exception
    if result == _BAD_ARGUMENT:
        return ValueError(words)
    # Too small a buffer, or a cancel no callback asked for: this module's own mistake.
    return RuntimeError(f"libhufpack: {_hufpack_result_words(result)}: {words}")


def _hufpack_result_words(result):
    return {-5: "destination too small", -7: "cancelled"}.get(result, f"result {result}")


def _run(function, *args, source=None, destination=None):
    try:
        return function(*args)
    except _hufpack.Failure as failure:
        raise _error(failure, source, destination) from None


def _path(file):
    """A path as the library takes it: bytes in the file system's encoding."""
    if isinstance(file, int) or hasattr(file, "read") or hasattr(file, "write"):
        raise TypeError(f"expected a path (str, bytes or os.PathLike), not {type(file).__name__}")
    return os.fsencode(os.fspath(file))


def _threads(threads):
    if not isinstance(threads, int) or threads < 0:
        raise ValueError(f"threads must be an int, 0 or more, not {threads!r}")
    return threads


class Info(NamedTuple):
    """What a compressed source holds, from its headers and tables alone."""

    compressed_bytes: int  # of every member; padding and what follows not counted
    original_bytes: int  # what it restores to
    members: int
    entries: int  # byte values with a count, in the member with the most
    longest_code: int  # in bits, in any member


def compress(data, *, threads=0):
    """The bytes ``hufpack -c`` writes for ``data``, any bytes-like object. Empty data compresses
    to b"". ``threads`` is threads in all, 0 for one per processor; the bytes never depend on
    it."""
    return _run(_hufpack.compress, data, _threads(threads))


def decompress(data, *, single_file=False, threads=0):
    """The bytes a compressed buffer restores to, every member in turn; zero bytes after the last
    are padding. Anything else after it, or a damaged member, raises HufpackError. With
    ``single_file`` only the first member is read, and nothing after it."""
    return _run(_hufpack.decompress, data, _threads(threads), bool(single_file))


def info(source, *, single_file=False):
    """Info for a compressed source: a str or os.PathLike names a file, and any bytes-like
    object (bytes included) is the compressed data itself. A file name held as bytes goes in as
    os.fsdecode(name)."""
    if isinstance(source, str) or hasattr(source, "__fspath__"):
        path = os.fspath(source)
        return Info(
            *_run(_hufpack.file_info, _path(path), bool(single_file), source=path)
        )
    return Info(*_run(_hufpack.info, source, bool(single_file)))


def _file_job(function, source, destination, threads, single_file, replace, sync, copy_times,
              copy_owner, remove_source, remove_linked_source, progress):
    if progress is not None and not callable(progress):
        raise TypeError("progress must be a callable(done, total) or None")
    source_name, destination_name = os.fspath(source), os.fspath(destination)
    _run(function, _path(source_name), _path(destination_name), _threads(threads),
         bool(single_file), bool(replace), bool(sync), bool(copy_times), bool(copy_owner),
         bool(remove_source), bool(remove_linked_source), progress,
         source=source_name, destination=destination_name)


def compress_file(source, destination, *, threads=0, replace=False, sync=False,
                  copy_times=False, copy_owner=False, remove_source=False,
                  remove_linked_source=False, progress=None):
    """Compresses the file ``source`` into ``destination`` with the tool's rules: the destination
    is written completely or not at all, and an existing one is refused (FileExistsError) unless
    ``replace``. The defaults are the library's: no sync but for a replaced file, no times or
    owner copied, the source kept. ``progress(done, total)`` is called now and then from the
    job's threads; an exception it raises cancels the job, which leaves the destination as it
    was, and is raised again here."""
    _file_job(_hufpack.compress_file, source, destination, threads, False, replace, sync,
              copy_times, copy_owner, remove_source, remove_linked_source, progress)


def decompress_file(source, destination, *, threads=0, single_file=False, replace=False,
                    sync=False, copy_times=False, copy_owner=False, remove_source=False,
                    remove_linked_source=False, progress=None):
    """Restores the compressed file ``source`` into ``destination``, with compress_file's rules
    and decompress's for members."""
    _file_job(_hufpack.decompress_file, source, destination, threads, single_file, replace,
              sync, copy_times, copy_owner, remove_source, remove_linked_source, progress)


def _umask():
    # Read where it can be without setting it, since os.umask() would change it for every
    # thread for a moment.
    try:
        with io.open("/proc/self/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    return 0o022


class _Closing(Exception):
    """Raised in the reader's thread by its write callback once the file is closed: the job is
    cancelled."""


class _Restorer:
    """A compressed file restored on a thread of its own into a few blocks ahead of its reader.
    The thread holds this and not the file object, so that a file dropped unclosed is still
    collected, and its close() stops the job."""

    # The library hands over 256 KiB at a time.
    _READ_AHEAD = 4

    def __init__(self, fd, name, threads, single_file):
        self._chunks = collections.deque()
        self._ready = threading.Condition()
        self._closing = False
        self._finished = False
        self._error = None
        self._thread = threading.Thread(
            target=self._restore, args=(fd, name, threads, single_file), name="hufpack-reader",
            daemon=True,
        )
        self._thread.start()

    def _restore(self, fd, name, threads, single_file):
        error = None
        try:
            _run(_hufpack.decompress_file_to, fd, self._take, threads, single_file, source=name)
        except _Closing:
            pass
        except BaseException as raised:  # handed to the reader, which raises it
            error = raised
        with self._ready:
            self._error = error
            self._finished = True
            self._ready.notify_all()

    def _take(self, chunk):
        with self._ready:
            while len(self._chunks) >= self._READ_AHEAD and not self._closing:
                self._ready.wait()
            if self._closing:
                raise _Closing
            self._chunks.append(chunk)
            self._ready.notify_all()

    def next_chunk(self):
        """The next block, or b"" at the end; what the job failed with once every block before
        the failure is taken."""
        with self._ready:
            while not self._chunks and not self._finished:
                self._ready.wait()
            if self._chunks:
                chunk = self._chunks.popleft()
                self._ready.notify_all()
                return chunk
            if self._error is not None:
                error, self._error = self._error, None
                raise error
            return b""

    def stop(self):
        """Cancels the job, at its next block, and waits for its thread to end."""
        with self._ready:
            self._closing = True
            self._chunks.clear()
            self._ready.notify_all()
        self._thread.join()


class HufpackFile(io.BufferedIOBase):
    """A compressed file read or written as its original bytes (what open() returns in binary
    modes). Not seekable.

    "rb" restores the file on a thread of its own while it is read, a few blocks ahead of the
    reader and no more, so memory stays bounded whatever the file's size; a damaged file raises
    HufpackError at the read that reaches the damage, once the bytes before it are read.
    "wb" and "xb" keep what is written in an unnamed temporary file and compress it into the
    destination on close(), written completely or not at all; "xb" refuses an existing file.
    Leaving a with block by an exception writes nothing: the destination stays as it was."""

    def __init__(self, file, mode="rb", *, threads=0, single_file=False):
        super().__init__()
        if mode not in ("r", "rb", "w", "wb", "x", "xb"):
            raise ValueError(f"invalid mode: {mode!r}")
        self._mode = mode[0]
        self._path = _path(file)
        self._name = os.fspath(file)
        self._threads = _threads(threads)
        self._position = 0
        self._discard = False
        self._spool = None
        self._fd = None
        self._restorer = None
        if self._mode == "r":
            self._open_reader(bool(single_file))
        else:
            self._open_writer()

    name = property(lambda self: self._name)
    mode = property(lambda self: self._mode + "b")

    # ---- Reading ----

    def _open_reader(self, single_file):
        # Opened here, so that a missing or unreadable file fails at open() as the built-in
        # open()'s does; the job reads the descriptor, which stays this object's.
        self._fd = os.open(self._name, os.O_RDONLY | os.O_CLOEXEC)
        self._chunk = memoryview(b"")
        self._restorer = _Restorer(self._fd, self._name, self._threads, single_file)

    def _next_chunk(self):
        self._chunk = memoryview(self._restorer.next_chunk())

    def _check_readable(self):
        self._checkClosed()
        if self._mode != "r":
            raise io.UnsupportedOperation("not open for reading")

    def readable(self):
        self._checkClosed()
        return self._mode == "r"

    def read1(self, size=-1):
        self._check_readable()
        if not self._chunk:
            self._next_chunk()
        if size is None or size < 0:
            size = len(self._chunk)
        piece, self._chunk = self._chunk[:size], self._chunk[size:]
        self._position += len(piece)
        return piece.tobytes()

    def read(self, size=-1):
        self._check_readable()
        if size is None or size < 0:
            pieces = []
            while piece := self.read1():
                pieces.append(piece)
            return b"".join(pieces)
        pieces = []
        while size > 0 and (piece := self.read1(size)):
            pieces.append(piece)
            size -= len(piece)
        return b"".join(pieces)

    def readinto(self, buffer):
        data = self.read(len(memoryview(buffer).cast("B")))
        memoryview(buffer).cast("B")[: len(data)] = data
        return len(data)

    def readinto1(self, buffer):
        data = self.read1(len(memoryview(buffer).cast("B")))
        memoryview(buffer).cast("B")[: len(data)] = data
        return len(data)

    def peek(self, size=0):
        self._check_readable()
        if not self._chunk:
            self._next_chunk()
        return self._chunk.tobytes()

    # ---- Writing ----

    def _open_writer(self):
        # The checks the job makes again on close, made here too so that a name that cannot be
        # written fails at open() rather than after every byte was written.
        folder = os.path.dirname(self._path) or b"."
        if not os.path.isdir(folder):
            raise FileNotFoundError(2, os.strerror(2), self._name)
        if self._mode == "x" and os.path.lexists(self._path):
            raise FileExistsError(17, os.strerror(17), self._name)
        # Unnamed, in $TMPDIR: nothing of a job is ever left beside the destination.
        self._spool = tempfile.TemporaryFile()

    def writable(self):
        self._checkClosed()
        return self._mode != "r"

    def write(self, data):
        self._checkClosed()
        if self._mode == "r":
            raise io.UnsupportedOperation("not open for writing")
        written = self._spool.write(data)
        self._position += written
        return written

    def _compress_spool(self):
        spool = self._spool
        spool.flush()
        spool.seek(0)
        # The new file takes the source's mode: the one a replaced file has, or what the
        # built-in open() would give a new one.
        try:
            mode = os.stat(self._path).st_mode & 0o7777 if self._mode == "w" else None
        except OSError:
            mode = None
        os.fchmod(spool.fileno(), mode if mode is not None else 0o666 & ~_umask())
        _run(_hufpack.compress_file, spool.fileno(), self._path, self._threads, False,
             self._mode == "w", False, False, False, False, False, None,
             source=self._name, destination=self._name)

    # ---- Both ----

    def tell(self):
        """Original bytes read or written so far."""
        self._checkClosed()
        return self._position

    def seekable(self):
        return False

    def fileno(self):
        raise io.UnsupportedOperation("a compressed file has no descriptor of its bytes")

    def _discard_on_close(self):
        self._discard = True

    def __exit__(self, exc_type, exc_value, traceback):
        if exc_type is not None:
            self._discard_on_close()
        return super().__exit__(exc_type, exc_value, traceback)

    def close(self):
        if self.closed:
            return
        try:
            if self._restorer is not None:
                self._restorer.stop()
            if self._spool is not None and not self._discard:
                self._compress_spool()
        finally:
            if self._fd is not None:
                os.close(self._fd)
                self._fd = None
            if self._spool is not None:
                self._spool.close()
                self._spool = None
            super().close()


class _TextFile(io.TextIOWrapper):
    # Leaving a with block by an exception writes nothing, as for the binary file.
    def __exit__(self, exc_type, exc_value, traceback):
        if exc_type is not None and isinstance(self.buffer, HufpackFile):
            self.buffer._discard_on_close()
        return super().__exit__(exc_type, exc_value, traceback)


def open(file, mode="rb", *, threads=0, single_file=False, encoding=None, errors=None,
         newline=None):
    """A compressed file as a file object: binary (HufpackFile) for "rb", "wb" and "xb" ("r",
    "w" and "x" too), text (io.TextIOWrapper, with encoding, errors and newline) for "rt", "wt"
    and "xt". ``file`` is a path (str, bytes or os.PathLike); a file object is refused with
    TypeError."""
    if not isinstance(mode, str):
        raise TypeError("mode must be a str")
    text = "t" in mode
    binary_mode = mode.replace("t", "")
    if (text and "b" in mode) or binary_mode not in ("r", "rb", "w", "wb", "x", "xb"):
        raise ValueError(f"invalid mode: {mode!r}")
    if not text and (encoding is not None or errors is not None or newline is not None):
        raise ValueError("encoding, errors and newline are for text modes only")
    binary = HufpackFile(file, binary_mode, threads=threads, single_file=single_file)
    if not text:
        return binary
    return _TextFile(binary, io.text_encoding(encoding), errors, newline)
