#!/usr/bin/env python3
"""The Windows build's sorvel.exe, run under Wine, against the Linux build's sorvel on the same
archives: every command must give the same exit code, standard output and standard error, and
extraction and export the same items with the same content and times.

    tool_agreement.py LINUX_SORVEL WINE_RUNNER SORVEL_EXE ARCHIVE_DIR... [--password-of DIR=FILE]

An ARCHIVE_DIR holds archive.sva and, where the archive has a password, stdin (its first line is
the password), as the conformance cases do; a plain .sva path with --password takes the password
from the command line instead. Prints one line per archive and "N passed, N failed".
"""
import argparse
import hashlib
import io
import json
import os
import subprocess
import sys
import tarfile
import tempfile

TIMEOUT = 60


def run(command, password, cwd):
    env = dict(os.environ, TZ="UTC", LC_ALL="C.UTF-8", LANG="C.UTF-8")
    env.pop("SORVEL_PASSWORD", None)
    if password is not None:
        env["SORVEL_PASSWORD"] = password
    proc = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=TIMEOUT, env=env)
    return proc.returncode, proc.stdout, proc.stderr


def tree_of(folder):
    """Every entry below `folder`: path -> (kind, size, sha256, mtime, read-only)."""
    entries = {}
    for parent, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(parent, name)
            rel = os.path.relpath(path, folder).replace(os.sep, "/")
            st = os.lstat(path)
            if name in dirs:
                entries[rel] = ("dir",)
            else:
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
                entries[rel] = ("file", st.st_size, digest, int(st.st_mtime), not st.st_mode & 0o200)
    return entries


def tar_members(data):
    """The tar stream's members: name -> (type, size, sha256 of content, mtime)."""
    members = {}
    with tarfile.open(fileobj=io.BytesIO(data), mode="r:") as tar:
        for member in tar:
            content = tar.extractfile(member).read() if member.isfile() else b""
            members[member.name] = (member.type, member.size, hashlib.sha256(content).hexdigest(),
                                    int(member.mtime), member.mode & 0o222)
    return members


def lines(data):
    return data.decode("utf-8", "replace").splitlines()


def first_file(json_listing):
    """The path of the first file that extraction writes, from `list --json-lines`."""
    for line in json_listing:
        item = json.loads(line)
        if "path" not in item:  # the totals
            continue
        if item.get("type") == "file" and "leftOut" not in item:
            return item["path"]
    return None


class HostRulesDiffer(Exception):
    """The two hosts leave out different items: names one file system cannot hold."""


def compare(linux, wine, exe, archive, password):
    """The first difference between the two programs on `archive`, or None."""
    with tempfile.TemporaryDirectory() as work:
        linux_dir = os.path.join(work, "linux")
        windows_dir = os.path.join(work, "windows")
        os.mkdir(linux_dir)
        os.mkdir(windows_dir)

        def both(args, compare_streams=True):
            a = run([linux] + args, password, linux_dir)
            b = run([wine, exe] + args, password, windows_dir)
            if a[0] != b[0]:
                return None, "exit %d on Linux, %d on Windows: sorvel %s" % (a[0], b[0], " ".join(args))
            if compare_streams and (lines(a[1]) != lines(b[1]) or lines(a[2]) != lines(b[2])):
                for name, x, y in (("stdout", a[1], b[1]), ("stderr", a[2], b[2])):
                    for i, (u, v) in enumerate(zip(lines(x) + [""] * 99, lines(y) + [""] * 99)):
                        if u != v:
                            return None, "%s line %d of sorvel %s: %r on Linux, %r on Windows" % (
                                name, i + 1, " ".join(args), u, v)
            return (a, b), None

        # Where the listings differ only in items one host leaves out, the rest differs too.
        a = run([linux, "list", archive], password, linux_dir)
        b = run([wine, exe, "list", archive], password, windows_dir)
        # (The totals line after the items counts what is left out too.)
        differing = [(u, v) for u, v in zip(lines(a[1])[:-1], lines(b[1])[:-1]) if u != v]
        if differing and len(lines(a[1])) == len(lines(b[1])) and all(
                "(left out:" in u + v and u.split("  (left out:")[0] == v.split("  (left out:")[0]
                for u, v in differing):
            raise HostRulesDiffer(differing[0])
        listing = None
        for args in (["list", archive], ["list", "--json", archive], ["list", "--json-lines", archive],
                     ["test", archive]):
            result, problem = both(args)
            if problem:
                return problem
            if args[0] == "list" and args[1] == "--json-lines":
                listing = lines(result[0][1])

        result, problem = both(["extract", "-C", "out", archive])
        if problem:
            return problem
        a, b = tree_of(os.path.join(linux_dir, "out")), tree_of(os.path.join(windows_dir, "out"))
        if a != b:
            differing = sorted(set(a) ^ set(b)) or sorted(k for k in a if a[k] != b.get(k))
            return "extract: the trees differ at %s" % differing[:3]

        chosen = first_file(listing or [])
        if chosen:
            result, problem = both(["cat", archive, chosen])
            if problem:
                return problem
            if result[0][1] != result[1][1]:
                return "cat %s: the bytes differ" % chosen
            # A chosen item, named with backslashes on Windows, lands at its full path.
            run([linux, "extract", "-C", "one", archive, chosen], password, linux_dir)
            run([wine, exe, "extract", "-C", "one", archive, chosen.replace("/", "\\")], password, windows_dir)
            a, b = tree_of(os.path.join(linux_dir, "one")), tree_of(os.path.join(windows_dir, "one"))
            if a != b or not a:
                return "extract of %s: the trees differ (%d and %d entries)" % (chosen, len(a), len(b))

        result, problem = both(["export", archive, "-o", "-"], compare_streams=False)
        if problem:
            return problem
        if lines(result[0][2]) != lines(result[1][2]):
            return "export: standard error differs"
        if result[0][0] == 0 and tar_members(result[0][1]) != tar_members(result[1][1]):
            return "export: the tar members differ"
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("linux")
    parser.add_argument("wine")
    parser.add_argument("exe")
    parser.add_argument("archives", nargs="+")
    parser.add_argument("--password", help="the password of plain .sva arguments")
    options = parser.parse_args()
    passed = failed = 0
    for item in options.archives:
        if os.path.isdir(item):
            archive = os.path.join(item, "archive.sva")
            if not os.path.isfile(archive):
                continue
            stdin = os.path.join(item, "stdin")
            password = None
            if os.path.isfile(stdin):
                with open(stdin, "rb") as f:
                    password = f.read().split(b"\n")[0].decode("utf-8", "replace") or None
        else:
            archive, password = item, options.password
        name = os.path.basename(item.rstrip("/"))
        try:
            problem = compare(os.path.abspath(options.linux), os.path.abspath(options.wine), os.path.abspath(options.exe),
                              os.path.abspath(archive), password)
        except HostRulesDiffer as difference:
            print("SKIP %s: names one host cannot hold (%s)" % (name, difference.args[0][0].strip()))
            continue
        if problem:
            failed += 1
            print("FAIL %s: %s" % (name, problem))
        else:
            passed += 1
            print("PASS %s" % name)
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
