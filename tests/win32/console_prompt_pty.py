#!/usr/bin/env python3
"""The Windows program's password prompt at a console, under Wine: Wine's console host reads a
pseudo-terminal, so the keys typed there reach the program as console key events.
    console_prompt_pty.py WINE_RUNNER PROGRAM.exe ARCHIVE
ARCHIVE is the example archive (password "sorvel-example"). The password is typed with a wrong
last character, Backspace, the right one, a cursor key and Enter; the run must extract the
archive, show one star per character and the Backspace's erase, and never show the password."""
import os
import pty
import select
import shutil
import sys
import tempfile
import time

runner, program, archive = sys.argv[1:4]
out = tempfile.mkdtemp(prefix="sorvel-pty.")
shutil.rmtree(out)
pid, fd = pty.fork()
if pid == 0:
    os.execv(runner, [runner, program, archive, out])

seen = b""


def read_until(token, timeout):
    global seen
    end = time.time() + timeout
    while token not in seen and time.time() < end:
        ready, _, _ = select.select([fd], [], [], 0.5)
        if not ready:
            continue
        try:
            data = os.read(fd, 4096)
        except OSError:  # the program has ended and the terminal is gone
            return False
        if not data:
            return False
        seen += data
    return token in seen


failures = []
if not read_until(b"Password:", 60):
    failures.append("no prompt")
# Wine's console host makes the terminal raw once the program reads keys; typed earlier, the
# terminal itself would echo them.
time.sleep(2)
for keys in (b"sorvel-examplX", b"\x7f", b"e", b"\x1b[D", b"\r"):
    os.write(fd, keys)
    time.sleep(0.3)
read_until(b"Archive extracted successfully!", 60)
read_until(b"\0", 5)  # the rest, until the program ends
_, status = os.waitpid(pid, 0)
code = os.waitstatus_to_exitcode(status)

shown = seen.split(b"Password:", 1)[-1].split(b"Archive extracted", 1)[0]
if code != 0:
    failures.append("exit code %d" % code)
if b"sorvel-exampl" in seen:
    failures.append("the password was shown")
if shown.count(b"*") != 15:
    failures.append("%d stars, expected 15" % shown.count(b"*"))
if b"\b" not in shown:
    failures.append("Backspace erased nothing")
hello = os.path.join(out, "hello.txt")
if not os.path.isfile(hello):
    failures.append("hello.txt not extracted")
shutil.rmtree(out, ignore_errors=True)
if failures:
    print("FAIL: " + "; ".join(failures))
    print(repr(seen[-800:]))
    sys.exit(1)
print("PASS: prompt at a console under Wine")
