"""The Python module hufpack against the tool: the bytes it writes, members and what follows them,
the file object read in pieces and closed early, the file rules, exceptions and their file names,
a job cancelled from its progress callback. Run by ctest as Python, with HUFPACK_CLI the tool."""

import errno
import io
import os
import pathlib
import random
import subprocess
import threading

import hufpack
import pytest


def tool_bytes(path):
    return subprocess.run(
        [os.environ["HUFPACK_CLI"], "-c", os.fspath(path)], check=True, capture_output=True
    ).stdout


def text_like(size, seed):
    words = [b"the", b"tree", b"code", b"bits", b"of", b"a", b"member", b"\n", b"table"]
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


SOURCES = {
    "empty": b"",
    "one byte": b"x",
    "every byte value": bytes(range(256)) * 4,
    "text, several blocks": text_like(3 << 20, 7),
}


@pytest.fixture(params=SOURCES, ids=list(SOURCES))
def source(request):
    return SOURCES[request.param]


def reader_threads():
    return [thread for thread in threading.enumerate() if thread.name == "hufpack-reader"]


def test_round_trip_gives_the_tools_bytes(source, tmp_path):
    (tmp_path / "source").write_bytes(source)
    expected = tool_bytes(tmp_path / "source")
    for data in (source, bytearray(source), memoryview(source)):
        assert hufpack.compress(data) == expected
    assert hufpack.compress(source, threads=1) == expected
    assert hufpack.decompress(expected) == source
    hufpack.compress_file(tmp_path / "source", tmp_path / "file.huf")
    assert (tmp_path / "file.huf").read_bytes() == expected
    hufpack.decompress_file(os.fsencode(tmp_path / "file.huf"), str(tmp_path / "back"))
    assert (tmp_path / "back").read_bytes() == source


def test_members_in_turn_then_padding_then_junk():
    first, second = SOURCES["every byte value"], SOURCES["one byte"]
    joined = hufpack.compress(first) + hufpack.compress(second)
    assert hufpack.decompress(joined) == first + second
    assert hufpack.decompress(joined + bytes(9)) == first + second
    assert hufpack.decompress(joined, single_file=True) == first
    assert hufpack.info(joined).members == 2
    with pytest.raises(hufpack.HufpackError) as raised:
        hufpack.decompress(joined + b"junk")
    assert raised.value.reason == hufpack.Reason.TRAILING_DATA
    assert raised.value.trailing_bytes == 4


@pytest.mark.parametrize(
    "data, entries, longest_code",
    [
        (b"x" * 10, 1, 1),  # one value: a dummy leaf beside it
        (bytes(range(256)) * 4, 256, 8),  # every value equally often: eight bits each
        (b"aaab", 2, 1),
    ],
)
def test_info_figures(tmp_path, data, entries, longest_code):
    packed = hufpack.compress(data)
    (tmp_path / "file.huf").write_bytes(packed)
    expected = hufpack.Info(len(packed), len(data), 1, entries, longest_code)
    assert hufpack.info(packed) == expected
    assert hufpack.info(tmp_path / "file.huf") == expected
    assert "original_bytes=" in repr(expected)


def test_reading_in_pieces(source, tmp_path):
    hufpack.compress_file(_write(tmp_path / "source", source), tmp_path / "file.huf")
    pieces = []
    with hufpack.open(tmp_path / "file.huf") as reader:
        while piece := reader.read(7):
            pieces.append(piece)
        assert reader.tell() == len(source)
    assert b"".join(pieces) == source
    assert {len(piece) for piece in pieces[:-1]} <= {7}


def test_reading_lines_as_text(tmp_path):
    text = SOURCES["text, several blocks"].decode("ascii")
    with hufpack.open(tmp_path / "file.huf", "wt", encoding="ascii") as writer:
        writer.write(text)
    assert (tmp_path / "file.huf").read_bytes() == hufpack.compress(text.encode())
    with hufpack.open(tmp_path / "file.huf", "rt", encoding="ascii") as reader:
        assert list(reader) == text.splitlines(keepends=True)


def test_closing_a_reader_early_stops_its_job(tmp_path):
    hufpack.compress_file(_write(tmp_path / "source", text_like(8 << 20, 3)), tmp_path / "f.huf")
    reader = hufpack.open(tmp_path / "f.huf")
    assert len(reader.read(10)) == 10
    assert reader_threads()
    reader.close()
    assert not reader_threads()
    assert reader.closed
    with pytest.raises(ValueError):
        reader.read(1)


def test_a_damaged_file_read_raises_after_its_good_bytes(tmp_path):
    good = text_like(1 << 20, 5)
    (tmp_path / "f.huf").write_bytes(hufpack.compress(good) + b"junk")
    with hufpack.open(tmp_path / "f.huf") as reader:
        assert reader.read(len(good)) == good
        with pytest.raises(hufpack.HufpackError) as raised:
            reader.read()
    assert raised.value.filename == os.fspath(tmp_path / "f.huf")


def test_writing_replaces_or_refuses(tmp_path):
    target = _write(tmp_path / "f.huf", b"kept")
    with pytest.raises(FileExistsError):
        hufpack.open(target, "xb")
    with pytest.raises(RuntimeError), hufpack.open(target, "wb") as writer:
        writer.write(b"half")
        raise RuntimeError("a with block left by an exception writes nothing")
    assert target.read_bytes() == b"kept"
    with hufpack.open(target, "wb") as writer:
        writer.write(b"new ")
        writer.write(memoryview(b"bytes"))
    assert target.read_bytes() == hufpack.compress(b"new bytes")
    with hufpack.open(tmp_path / "new.huf", "xb") as writer:
        writer.write(b"made")
    assert hufpack.decompress((tmp_path / "new.huf").read_bytes()) == b"made"
    assert (tmp_path / "new.huf").stat().st_mode & 0o777 == 0o666 & ~_umask()


@pytest.mark.parametrize(
    "job, exception, name",
    [
        (lambda d: hufpack.decompress_file(d / "missing", d / "out"), FileNotFoundError, "missing"),
        (lambda d: hufpack.info(d / "missing"), FileNotFoundError, "missing"),
        (lambda d: hufpack.open(d / "missing"), FileNotFoundError, "missing"),
        (lambda d: hufpack.compress_file(d / "plain", d / "plain"), hufpack.SameFileError, "plain"),
        (lambda d: hufpack.compress_file(d / "plain", d / "out.huf"), FileExistsError, "out.huf"),
        (lambda d: hufpack.decompress_file(d / "plain", d / "out"), hufpack.HufpackError, "plain"),
        (lambda d: hufpack.info(d / "plain"), hufpack.HufpackError, "plain"),
        (lambda d: hufpack.decompress(b"not ours"), hufpack.HufpackError, None),
        (lambda d: hufpack.compress(b"", threads=-1), ValueError, None),
        (lambda d: hufpack.compress("text"), TypeError, None),
        (lambda d: hufpack.open(io.BytesIO()), TypeError, None),
    ],
)
def test_errors_name_their_file(tmp_path, job, exception, name):
    _write(tmp_path / "plain", b"not a compressed file")
    _write(tmp_path / "out.huf", b"there already")
    with pytest.raises(exception) as raised:
        job(tmp_path)
    if name is not None:
        assert os.fspath(raised.value.filename) == os.fspath(tmp_path / name)
    if exception is hufpack.HufpackError:
        assert isinstance(raised.value, ValueError)
        assert raised.value.reason == hufpack.Reason.BAD_CHECKSUM
    if exception is FileNotFoundError:
        assert raised.value.errno == errno.ENOENT
    assert (tmp_path / "out.huf").read_bytes() == b"there already"


class Stop(Exception):
    pass


@pytest.mark.parametrize("direction", ["compress", "decompress"])
def test_progress_that_raises_cancels(tmp_path, direction):
    source = text_like(4 << 20, 11)
    _write(tmp_path / "source", hufpack.compress(source) if direction == "decompress" else source)
    job = getattr(hufpack, direction + "_file")
    calls = []

    def progress(done, total):
        calls.append((done, total))
        if len(calls) == 2:
            raise Stop

    with pytest.raises(Stop):
        job(tmp_path / "source", tmp_path / "out", progress=progress)
    assert len(calls) == 2 and calls[0][0] <= calls[1][0] <= calls[1][1]
    assert not (tmp_path / "out").exists()
    assert os.listdir(tmp_path) == ["source"]
    job(tmp_path / "source", tmp_path / "out", progress=lambda done, total: None)
    assert (tmp_path / "out").exists()


def test_jobs_on_threads_at_once():
    data = [text_like(1 << 20, seed) for seed in range(4)]
    results = [None] * len(data)

    def run(index):
        results[index] = hufpack.decompress(hufpack.compress(data[index], threads=1))

    workers = [threading.Thread(target=run, args=(index,)) for index in range(len(data))]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert results == data


def _write(path, data):
    pathlib.Path(path).write_bytes(data)
    return path


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask
