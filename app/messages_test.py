#!/usr/bin/env python3
"""Tests of the failure messages as the whole program writes them: a terminal
shows their characters, and a pipe gets the bytes that the README promises.
Usage: see harness.py."""

import errno
import os
import re
import select
import subprocess
import tempfile
import time
import tty

from harness import (LISTING_NAME, LISTING_PATH, OPEN_FAILED, PROMPT, TIME_LIMIT, WRITE_FAILED,
                     ProgramCase, Run, listing, main, message, piped)


# What a terminal shows of the program's output: a Windows console under
# Wine draws with control sequences, and moves the cursor forward over a
# blank rather than writing it.  Carriage returns are left out.
CONTROL = re.compile(rb"\x1b\[([0-9;?]*)([A-Za-z])|\r")


def on_screen(output):
    def draw(control):
        if control.group(2) == b"C":
            return b" " * int(control.group(1) or 1)
        return b""
    return CONTROL.sub(draw, output)


def on_terminal(keys=b""):
    """A |spawn| for Run: the program runs with a new pseudo-terminal as its
    standard input and output, as at a user's terminal (under Wine, a Windows
    console).  |keys| are typed once the program prompts, and a pause's
    prompt is answered with a key.  Returns what the terminal shows."""
    def spawn(command, **options):
        master, slave = os.openpty()
        # Raw from the start, as Wine's console makes it when it gets there:
        # a key typed before then reaches the program unchanged.
        tty.setraw(slave)
        child = subprocess.Popen(command, stdin=slave, stdout=slave, **options)
        os.close(slave)
        shown, typed, answered = b"", False, False
        deadline = time.monotonic() + TIME_LIMIT
        while time.monotonic() < deadline:
            if select.select([master], [], [], 0.2)[0]:
                try:
                    part = os.read(master, 1 << 16)
                except OSError as error:  # the terminal is closed
                    if error.errno != errno.EIO:
                        raise
                    part = b""
                if not part:
                    break
                shown += part
            elif child.poll() is not None:
                break
            text = on_screen(shown)
            if keys and not typed and PROMPT in text:
                os.write(master, keys)
                typed = True
            if not answered and b"Press any key" in text:
                os.write(master, b"x")
                answered = True
        status = child.wait(TIME_LIMIT)
        os.close(master)
        return on_screen(shown), status
    return spawn


class MessageTest(ProgramCase):
    """The failure messages as their reader gets them: a terminal (under
    Wine, a Windows console) shows their characters, whatever the console's
    code page; a pipe gets the bytes that a caller or a stored log may rely
    on: Big5 on Windows, and elsewhere as the locale says."""

    LOCALE = "C.UTF-8"  # under which Wine shows a console's text as UTF-8

    def shown(self, texts):
        return texts["utf8"] + LISTING_PATH + b"\n"

    def test_open_failure(self):
        with self.subTest(reader="terminal"):
            run = Run(locale=self.LOCALE, prepare=os.mkdir, spawn=on_terminal())
            self.assertEqual((run.stdout, run.status), (self.shown(OPEN_FAILED), 0))
        with self.subTest(reader="pipe"):
            run = Run(locale=self.LOCALE, prepare=os.mkdir, spawn=piped(b"3\n"))
            self.assertRun(run, message(OPEN_FAILED, self.LOCALE), None)

    def small_file(self):
        """A file on a file system of one page, to hold the listing."""
        folder = tempfile.mkdtemp()
        self.addCleanup(os.rmdir, folder)
        mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4k", "tmpfs", folder],
                               capture_output=True, text=True)
        if mount.returncode != 0:
            self.skipTest(f"cannot mount a small tmpfs here: {mount.stderr.strip()}")
        self.addCleanup(subprocess.run, ["umount", folder], check=True)
        path = os.path.join(folder, LISTING_NAME)
        open(path, "wb").close()
        return path

    def test_write_failure(self):
        small = self.small_file()
        whole = listing(6)  # twice what the file system holds
        with self.subTest(reader="terminal"):
            run = Run(locale=self.LOCALE, prepare=lambda path: os.symlink(small, path),
                      spawn=on_terminal(b"6\r"))
            self.assertEqual(run.status, 0)
            lines = run.stdout.split(b"\n")
            self.assertIn(b"sum=720", lines, "no summary line")
            after_summary = lines[lines.index(b"sum=720") + 1]
            self.assertEqual(after_summary + b"\n", self.shown(WRITE_FAILED))
            self.assertTrue(whole.startswith(run.file) and len(run.file) < len(whole))
        with self.subTest(reader="pipe"):
            run = Run(locale=self.LOCALE, prepare=lambda path: os.symlink(small, path),
                      spawn=piped(b"6\n"))
            self.assertRun(run, PROMPT + whole + message(WRITE_FAILED, self.LOCALE), run.file)
            self.assertTrue(whole.startswith(run.file) and len(run.file) < len(whole))


if __name__ == "__main__":
    main()
