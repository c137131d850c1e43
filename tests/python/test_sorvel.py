"""The sorvel Python package against the conformance archives (read in place): items, content,
times and read-only flags as the expected trees give them, streams, threads, exceptions, and
interrupted extraction."""
import hashlib
import io
import json
import os
import random
import signal
import stat
import threading

import pytest

import sorvel

from conftest import conformance_dir

CASES = os.path.join(conformance_dir(), "cases")
EXCEPTIONS = {
    6: sorvel.NotAnArchive,
    7: sorvel.UnsupportedArchive,
    8: sorvel.UnsupportedArchive,
    9: sorvel.WrongPassword,
    10: sorvel.DamagedArchive,
}


def load_cases():
    if not os.path.isdir(CASES):
        return []
    found = []
    for name in sorted(os.listdir(CASES)):
        folder = os.path.join(CASES, name)
        if os.path.isfile(os.path.join(folder, "archive.sva")) and not json.load(
                open(os.path.join(folder, "case.json"), encoding="utf-8")).get("setup"):
            found.append(name)
    return found


def case_of(name):
    with open(os.path.join(CASES, name, "case.json"), encoding="utf-8") as f:
        return json.load(f)


def typed_password(name):
    """The password as the case types it: its first line, Backspace taking back one UTF-16 unit as
    a piped key source does. What cannot be encoded (a lone surrogate left) gives no password
    bytes at all, as the programs make of it."""
    with open(os.path.join(CASES, name, "stdin"), "rb") as f:
        line = f.read().split(b"\n")[0].decode("utf-8")
    units = []
    for unit in line.encode("utf-16-le").decode("utf-16-le", "surrogatepass"):
        units.extend([unit] if ord(unit) < 0x10000 else
                     [chr(0xD800 + ((ord(unit) - 0x10000) >> 10)), chr(0xDC00 + ((ord(unit) - 0x10000) & 0x3FF))])
    typed = []
    for unit in units:
        if unit in "\b\x7f":
            if typed:
                typed.pop()
        else:
            typed.append(unit)
    text = "".join(typed).encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return b""
    return text


def archive_path(name):
    return os.path.join(CASES, name, "archive.sva")


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def tree_of(folder):
    """The output tree as the conformance cases describe it."""
    tree = {}
    for parent, dirs, files in os.walk(folder):
        for d in dirs:
            tree[os.path.relpath(os.path.join(parent, d), folder)] = {"type": "dir"}
        for f in files:
            path = os.path.join(parent, f)
            st = os.lstat(path)
            with open(path, "rb") as content:
                digest = sha256(content.read())
            tree[os.path.relpath(path, folder)] = {
                "type": "file", "size": st.st_size, "sha256": digest, "mtime": int(st.st_mtime),
                "atime": int(st.st_atime), "readonly": not st.st_mode & stat.S_IWUSR}
    return tree


TREE_CASES = [n for n in load_cases() if case_of(n)["tree"] is not None]
ERROR_CASES = [n for n in load_cases() if case_of(n)["exit"] in EXCEPTIONS]


@pytest.mark.parametrize("name", TREE_CASES)
def test_items_and_content_match_the_expected_tree(name, tmp_path):
    case = case_of(name)
    expected = case["tree"]
    with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
        written = {i.filename: i for i in archive.infolist() if not i.left_out}
        assert sorted(written) == sorted(expected)
        for path, entry in expected.items():
            info = archive.getinfo(path)
            assert info.is_dir() == (entry["type"] == "dir"), path
            if entry["type"] == "dir":
                continue
            assert (info.mtime, info.atime, info.read_only) == (entry["mtime"], entry["atime"], entry["readonly"])
            assert info.output_size == entry["size"]
            if not info.damaged:
                assert info.file_size == entry["size"]
                assert sha256(archive.read(path)) == entry["sha256"], path
        # Extraction writes the same tree, reporting what the tool reports.
        if case["exit"] == 0:
            assert archive.extractall(str(tmp_path / "out")) == []
        else:
            with pytest.raises(sorvel.DamagedItem) as raised:
                archive.extractall(tmp_path / "out")
            assert str(raised.value) == "Error: archive extracted with errors!"
            problems = raised.value.problems
            wanted = case["stderr"][:-1]
            # A "can not extract" line may go on with ": " and a reason.
            assert len(problems) == len(wanted)
            assert all(got == line or got.startswith(line + ": ") for got, line in zip(problems, wanted))
            assert raised.value.code == 11
        assert tree_of(tmp_path / "out") == expected
        assert (archive.testzip() is None) == (case["exit"] == 0)


@pytest.mark.parametrize("name", ERROR_CASES)
def test_open_failures_raise_with_the_programs_message(name):
    case = case_of(name)
    with pytest.raises(EXCEPTIONS[case["exit"]]) as raised:
        sorvel.Archive(archive_path(name), password=typed_password(name))
    assert str(raised.value) == case["stderr"][-1]
    assert raised.value.code == case["exit"]
    assert isinstance(raised.value, sorvel.Error)


def largest_file(name):
    with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
        files = [i for i in archive.infolist() if not i.is_dir() and not i.left_out and not i.damaged]
        return max(files, key=lambda i: i.file_size).filename


@pytest.fixture
def big(cases_dir, tmp_path):
    """The largest file of the case with the most blocks, and its bytes as extraction writes them."""
    name = "plain_blocks"
    member = largest_file(name)
    with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
        archive.extractall(tmp_path, members=[member])
    with open(tmp_path / member, "rb") as f:
        return name, member, f.read()


def test_streams_read_at_random_offsets_as_extracted(big):
    name, member, content = big
    rng = random.Random(5)
    with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
        with archive.open(member) as f:
            assert isinstance(f, io.RawIOBase) and f.readable() and f.seekable()
            assert f.seek(0, io.SEEK_END) == len(content)
            for _ in range(300):
                offset = rng.randrange(len(content) + 10)
                length = rng.randrange(70000)
                assert f.seek(offset) == offset
                assert f.read(length) == content[offset:offset + length]
            assert f.seek(-10, io.SEEK_END) == len(content) - 10
            assert f.read() == content[-10:]
            f.seek(3)
            assert f.seek(5, io.SEEK_CUR) == 8
            with pytest.raises(ValueError):
                f.seek(-1)
            buffered = io.BufferedReader(archive.open(member), buffer_size=1000)
            assert b"".join(iter(lambda: buffered.read(777), b"")) == content
        with pytest.raises(ValueError):
            f.read(1)


def test_parallel_readers_on_threads(big):
    name, member, content = big
    failures = []
    with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
        def reader(seed):
            rng = random.Random(seed)
            with archive.open(member) as f:
                for _ in range(100):
                    offset = rng.randrange(len(content))
                    f.seek(offset)
                    if f.read(20000) != content[offset:offset + 20000]:
                        failures.append(offset)
        threads = [threading.Thread(target=reader, args=(seed,)) for seed in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert failures == []


def test_passwords_from_bytes_file_callback_and_descriptor(cases_dir, tmp_path):
    name = "password_fullwidth"  # typed in full-width letters, NFKC-normalised
    typed = typed_password(name)
    expected = sorted(case_of(name)["tree"])
    password_file = tmp_path / "pw"
    password_file.write_text(typed + "\nsecond line\n", encoding="utf-8")
    asked = []

    def ask():
        asked.append(True)
        return typed
    for archive in (sorvel.Archive(archive_path(name), password=typed),
                    sorvel.Archive(archive_path(name), password_file=password_file),
                    sorvel.Archive(archive_path(name), password=ask)):
        assert sorted(archive.namelist()) == expected
    assert asked == [True]
    # Bytes are key material as they are: the typed (not normalised) text does not open it.
    with pytest.raises(sorvel.WrongPassword):
        sorvel.Archive(archive_path(name), password=typed.encode("utf-8"))
    import unicodedata
    assert sorvel.Archive(archive_path(name), password=unicodedata.normalize("NFKC", typed).encode()).namelist()
    fd = os.open(archive_path(name), os.O_RDONLY)
    try:
        assert sorted(sorvel.Archive(fd, password=typed).namelist()) == expected
    finally:
        os.close(fd)
    # A callback that raises: its exception comes through.
    def refuse():
        raise LookupError("no password here")
    with pytest.raises(LookupError):
        sorvel.Archive(archive_path(name), password=refuse)


def test_every_other_exception(cases_dir, tmp_path):
    with pytest.raises(sorvel.Error) as raised:
        sorvel.Archive(tmp_path / "missing.sva")
    assert raised.value.code == 3
    assert str(raised.value).startswith("can not read archive: ")
    with pytest.raises(sorvel.Error) as raised:
        sorvel.Archive(archive_path("cfb_cfb"), password_file=tmp_path / "nofile")
    assert raised.value.code == 2
    name = "damaged_files"
    with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
        with pytest.raises(KeyError):
            archive.getinfo("no/such/item")
        damaged = [i for i in archive.infolist() if i.damaged]
        assert damaged
        for info in damaged:
            with archive.open(info.filename) as f:
                assert len(f.read(info.readable_size)) == info.readable_size
                with pytest.raises(sorvel.DamagedItem) as raised:
                    f.read(1)
                assert str(raised.value) == "Error: damaged item: " + info.filename
        left_out = [i for i in archive.infolist() if i.left_out]
        assert left_out
        with pytest.raises(sorvel.DamagedItem):
            archive.open(left_out[0].filename)
        with pytest.raises(sorvel.Error):
            archive.open("files")  # a folder
        with pytest.raises(sorvel.Error):
            archive.extractall(tmp_path, members=["no/such"])
    archive.close()
    with pytest.raises(ValueError):
        archive.infolist() if archive._infos is None else archive.getinfo("x")


def leftovers(folder, expected):
    """Entries that are not complete files or folders of the expected tree."""
    found = tree_of(folder)
    return {path: entry for path, entry in found.items() if expected.get(path) != entry}


@pytest.mark.parametrize("stop", ["exception", "keyboard-interrupt", "signal", "false"])
def test_an_interrupted_extractall_leaves_no_partial_file(cases_dir, tmp_path, stop):
    name = "plain_blocks"
    expected = case_of(name)["tree"]
    calls = []

    def progress(items_done, items_total, bytes_done, bytes_total, current):
        calls.append((items_done, bytes_done))
        assert items_done <= items_total and bytes_done <= bytes_total
        if len(calls) < 3:
            return True
        if stop == "exception":
            raise RuntimeError("stop here")
        if stop == "keyboard-interrupt":
            raise KeyboardInterrupt
        if stop == "signal":
            os.kill(os.getpid(), signal.SIGINT)
            return True
        return False
    with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
        expected_error = {"exception": RuntimeError, "keyboard-interrupt": KeyboardInterrupt,
                          "signal": KeyboardInterrupt, "false": sorvel.DamagedItem}[stop]
        with pytest.raises(expected_error):
            archive.extractall(tmp_path, progress=progress)
    assert len(calls) >= 3
    assert leftovers(tmp_path, expected) == {}
    assert len(tree_of(tmp_path)) < len(expected)


def test_help_and_stubs():
    assert "zipfile" in sorvel.__doc__
    assert "password_file" in sorvel.Archive.__doc__
    stubs = os.path.join(os.path.dirname(sorvel.__file__), "__init__.pyi")
    assert os.path.isfile(stubs)


def chosen_case():
    """A case with a folder holding files, nothing damaged or left out: (name, folder, its files)."""
    for name in TREE_CASES:
        with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
            infos = archive.infolist()
            if any(i.left_out or i.damaged for i in infos):
                continue
            for folder in (i.filename for i in infos if i.is_dir()):
                files = [i.filename for i in infos if not i.is_dir() and i.filename.startswith(folder + "/")]
                if len(files) >= 2 and len(files) < len([i for i in infos if not i.is_dir()]):
                    return name, folder, files
    pytest.skip("no case with a folder of files beside other files")


def files_below(folder):
    return sorted(p for p, entry in tree_of(folder).items() if entry["type"] == "file")


@pytest.mark.parametrize("choice", ["folder-pattern", "all-but-folder", "member-and-pattern", "excluded-file",
                                    "slash", "no-match"])
def test_extractall_chooses_items_by_pattern(choice, tmp_path):
    name, folder, files = chosen_case()
    with sorvel.Archive(archive_path(name), password=typed_password(name)) as archive:
        every = sorted(i.filename for i in archive.infolist() if not i.is_dir())
        first = files[0].rsplit("/", 1)[1]
        kwargs, members, expected = {
            "folder-pattern": ({"patterns": [folder + "/*"]}, None, files),
            "all-but-folder": ({"patterns": ["*"], "exclude": ["/" + folder]}, None,
                               [f for f in every if not f.startswith(folder + "/")]),
            "member-and-pattern": ({"patterns": [folder + "/*"]}, [folder], files),
            "excluded-file": ({"exclude": [first]}, [folder], [f for f in files if f.rsplit("/", 1)[1] != first]),
            "slash": ({"patterns": ["*"], "exclude": ["/" + folder + "*" + first],
                       "wildcards_match_slash": True}, None,
                      [f for f in every if not (f.startswith(folder + "/") and f.endswith(first))]),
            "no-match": ({"patterns": ["no*such*"]}, ["no/such"], None),
        }[choice]
        out = tmp_path / "out"
        if expected is None:
            with pytest.raises(sorvel.Error) as raised:
                archive.extractall(out, members, **kwargs)
            assert raised.value.code == 2
            assert str(raised.value) == "no such item in archive: no/such\nno such item in archive: no*such*"
            assert not out.exists()
        else:
            assert archive.extractall(out, members, **kwargs) == []
            assert files_below(out) == sorted(expected)
