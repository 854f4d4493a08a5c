#!/usr/bin/env python3
"""Tests of the whole program: the real executable, fed on standard input,
run in a throw-away folder whose parent receives the listing file.

Usage: main_test.py [--windows] [--emulator=WORD ...] [--memcheck] PROGRAM
                    [unittest arguments]

--windows    expect the Windows program's behaviour (see WINDOWS)
--emulator   run the program through a command, such as Wine, one word per
             --emulator
--memcheck   also run the program once under valgrind's memcheck
"""

import argparse
import atexit
import errno
import fcntl
import functools
import itertools
import os
import random
import re
import resource
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest


def parse_command_line():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("--emulator", action="append", default=[])
    parser.add_argument("--memcheck", action="store_true")
    parser.add_argument("program")
    options, rest = parser.parse_known_args()
    sys.argv[1:] = rest
    return options


OPTIONS = parse_command_line()
PROGRAM = OPTIONS.emulator + [os.path.abspath(OPTIONS.program)]

# What a Windows program does differently: every line, on the console and in
# the listing, ends with CR LF; the "pause" command exists and writes its own
# prompt after the program's last line; the failure messages are Big5 under
# any locale.  Tests that need POSIX devices or tools do not run there.
WINDOWS = OPTIONS.windows
EOL = b"\r\n" if WINDOWS else b"\n"
POSIX_ONLY = unittest.skipIf(WINDOWS, "needs POSIX devices and tools")

PROMPT = b"Input N(1-10) : "
LISTING_NAME = "Tessivolark_.txt"
LISTING_PATH = b"../" + LISTING_NAME.encode()
OPEN_FAILED = {"big5": bytes.fromhex("b67dc0c9a5a2b1d13a20"),
               "utf8": "開檔失敗: ".encode()}
WRITE_FAILED = {"big5": bytes.fromhex("bc67c0c9a5a2b1d13a20"),
                "utf8": "寫檔失敗: ".encode()}


@functools.lru_cache(maxsize=None)
def listing(count):
    """The listing for |count| items, from a generator independent of the
    program's own: every ordering of 1..count, then the summary line."""
    lines = [",".join(map(str, p)).encode()
             for p in itertools.permutations(range(1, count + 1))]
    return EOL.join(lines) + EOL + b"sum=%d" % len(lines) + EOL


def message(texts, locale):
    """A failure message line as the program writes it under |locale|."""
    utf8 = not WINDOWS and re.search(r"\.utf-?8(@|$)", locale, re.I)
    return texts["utf8" if utf8 else "big5"] + LISTING_PATH + EOL


# Bounds on one run, so that a program that never stops prompting fails its
# test instead of filling the disk: twice the largest listing's console text.
OUTPUT_LIMIT = 160 << 20
TIME_LIMIT = 600

# On POSIX hosts every run finds this stand-in for the command processor's
# "pause" first on its PATH.  Each call appends a line to $PAUSE_RECORD: the
# listing's size at that moment, the signals it starts ignoring, and the
# status flags of the standard input it inherits.
PAUSE = r"""#!/bin/sh
printf 'listing=%s sigign=%s stdin=%s\n' "$(stat -L -c %s ../Tessivolark_.txt)" \
  "$(awk '/^SigIgn:/ { print $2 }' /proc/$$/status)" \
  "$(awk '/^flags:/ { print $2 }' /proc/$$/fdinfo/0)" >>"$PAUSE_RECORD"
"""
# The signals that end a run early where a test sends them.
ENDING_SIGNALS = (signal.SIGHUP, signal.SIGINT, signal.SIGTERM)

STAND_IN = None
if not WINDOWS:
    STAND_IN = tempfile.mkdtemp()
    atexit.register(shutil.rmtree, STAND_IN)
    with open(os.path.join(STAND_IN, "pause"), "w") as f:
        f.write(PAUSE)
    os.chmod(f.name, 0o755)


class Run:
    """One run of the program in a throw-away folder whose parent receives
    the listing: its console text (stdout), standard error, listing (file,
    None if there is no such file), exit status and, on POSIX hosts, the
    stand-in pause's calls (pauses, one dict of its fields for each).

    |stdin| is bytes fed through a pipe, or a descriptor to read.  The
    console goes to a file, unless |console| is given: then it goes to a
    pipe, and |console|(pipe) reads what it wants of it before the pipe is
    closed.  |spawn|, if given, starts the program on standard streams of its
    own making instead: it is called with the command and the keyword
    arguments for subprocess.Popen, and returns (console text, status).
    |prepare| may set up the listing's place, |closed| names the standard
    descriptors that the program starts without, and |file_size| limits the
    size of every file it writes.  With |bare_root|, the program runs alone
    in the parent folder, made its root (by chroot, as root): no /dev, no
    shell, no pause."""

    def __init__(self, stdin=b"", locale="C", prepare=None, wrapper=(), env=None,
                 closed=(), file_size=OUTPUT_LIMIT, console=None, spawn=None, bare_root=False):
        def start():
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size, file_size))
            # The signals that end a run act as they do by default, whatever
            # the test's own parent had it ignore (a background job ignores
            # SIGINT).
            for number in ENDING_SIGNALS:
                signal.signal(number, signal.SIG_DFL)
            if bare_root:
                os.chroot(parent)
                os.chdir("/work")
            for fd in closed:
                os.close(fd)

        with tempfile.TemporaryDirectory() as parent:
            work = os.path.join(parent, "work")
            os.mkdir(work)
            path = os.path.join(parent, LISTING_NAME)
            record = os.path.join(parent, "pauses")
            if prepare:
                prepare(path)
            command = [*wrapper, *PROGRAM]
            if bare_root:
                shutil.copy(PROGRAM[-1], parent)
                command = ["/" + os.path.basename(PROGRAM[-1])]
            env = dict(os.environ, LC_ALL=locale, **(env or {}))
            if STAND_IN:
                env.update(PATH=STAND_IN + os.pathsep + env["PATH"], PAUSE_RECORD=record)
            with tempfile.TemporaryFile() as stdout, tempfile.TemporaryFile() as stderr:
                options = dict(cwd=work, env=env, preexec_fn=start, stderr=stderr)
                if spawn:
                    self.stdout, self.status = spawn(command, **options)
                elif console:
                    with subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                          bufsize=0, **options) as child:
                        try:
                            child.stdin.write(stdin)
                        except BrokenPipeError:
                            pass  # the program did not wait for its input
                        child.stdin.close()
                        self.stdout = console(child.stdout)
                        child.stdout.close()
                        self.status = child.wait(timeout=TIME_LIMIT)
                else:
                    feed = dict(stdin=stdin) if isinstance(stdin, int) else dict(input=stdin)
                    self.status = subprocess.run(command, stdout=stdout, timeout=TIME_LIMIT,
                                                 **feed, **options).returncode
                    stdout.seek(0)
                    self.stdout = stdout.read()
                stderr.seek(0)
                self.stderr = stderr.read()
            self.file = None
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    self.file = f.read()
            self.pauses = []
            if os.path.exists(record):
                with open(record) as f:
                    self.pauses = [dict(field.split("=", 1) for field in line.split())
                                   for line in f]


class ProgramCase(unittest.TestCase):
    def assertRun(self, run, console, file, note=None):
        """The run wrote exactly |console| to standard output, left |file| as
        the listing and exited with 0.  After a complete listing a Windows
        console also shows the pause command's prompt, and nothing of the
        program's own follows that.  On POSIX hosts the pause ran once if the
        console or the listing shows the summary, after the listing was
        complete, and never otherwise, and nothing reached standard error."""
        if note is None and run.stderr:
            note = "standard error: " + run.stderr.decode(errors="replace")
        stdout = run.stdout
        if WINDOWS and b"sum=" in console:
            stdout, pause = stdout[:len(console)], stdout[len(console):]
            self.assertTrue(pause, f"no pause prompt; {note or 'standard error: ' + repr(run.stderr)}")
            for own in (PROMPT, b"sum=", LISTING_PATH):
                self.assertNotIn(own, pause, note)
        # A whole-listing comparison is too long to print usefully.
        if len(console) > 1 << 16:
            self.assertTrue(stdout == console, note or "the console text differs")
            self.assertTrue(run.file == file, note or "the listing differs")
        else:
            self.assertEqual(stdout, console, note)
            self.assertEqual(run.file, file, note)
        self.assertEqual(run.status, 0, note)
        self.assertQuietPause(run, b"sum=" in console + (file or b""), note)

    def assertQuietPause(self, run, paused, note=None):
        """On POSIX hosts: nothing reached standard error, and the pause ran
        once, after the listing was complete, if |paused|, and never if not."""
        if WINDOWS:
            return
        self.assertEqual(run.stderr, b"", note)
        listed = [str(len(run.file or b""))] if paused else []
        self.assertEqual([pause["listing"] for pause in run.pauses], listed, note)


class CountTest(ProgramCase):
    def test_largest_count(self):
        expected = listing(10)
        self.assertTrue(expected.endswith(EOL + b"10,9,8,7,6,5,4,3,2,1" + EOL +
                                          b"sum=3628800" + EOL))
        self.assertRun(Run(b"10\n"), PROMPT + expected, expected)


class InputTest(ProgramCase):
    def test_the_first_count_in_range_is_listed(self):
        cases = [  # (input, prompts shown, count listed)
            (b"1\n", 1, 1),
            (b"3\n", 1, 3),
            (b"5", 1, 5),                # no final newline
            (b"0\n11\n3\n", 3, 3),       # out of range, one per line
            (b"0 11 3\n", 3, 3),         # several on one line: prompts run together
            (b"-1\n2147483647\n2\n", 3, 2),
            (b"03\n", 1, 3),
            (b"+3\n", 1, 3),
            (b"  \t\n\n 2 \n", 1, 2),
            (b"9\n", 1, 9),
            # Tokens that cannot be read are skipped.
            (b"3abc\n", 1, 3),           # the rest of the line is never read
            (b"3.5\n", 1, 3),
            (b"abc 3\n", 2, 3),
            (b"11+3\n", 2, 3),           # 11 is out of range; +3 is read next
            (b"x1 2\n", 2, 2),           # the whole token goes, digits and all
            (b"- 4\n", 2, 4),
            (b"99999999999\n2\n", 2, 2),
            (b"99999999999x3 1\n", 2, 1),
            (b"-2147483649\n1\n", 2, 1),
            (b"\x00\xff\xfe 2\n", 2, 2),
        ]
        for stdin, prompts, count in cases:
            with self.subTest(stdin=stdin):
                self.assertRun(Run(stdin), PROMPT * prompts + listing(count), listing(count))

    def test_input_ending_without_a_count_leaves_an_empty_listing(self):
        cases = [
            (b"", 1),
            (b"\n \n", 1),
            (b"0", 2),
            (b"abc", 2),
            (b"12 -3 x\n", 4),
            (b"99999999999", 1),
        ]
        for stdin, prompts in cases:
            with self.subTest(stdin=stdin):
                self.assertRun(Run(stdin), PROMPT * prompts + EOL, b"")

    def test_ctrl_z_ends_the_input_on_windows_only(self):
        # A Windows console's end of input; elsewhere a token like any other.
        run = Run(b"\x1a 3\n")
        if WINDOWS:
            self.assertRun(run, PROMPT + EOL, b"")
        else:
            self.assertRun(run, PROMPT * 2 + listing(3), listing(3))


class ListingFileTest(ProgramCase):
    def test_an_earlier_listing_is_replaced(self):
        def write_old(path):
            with open(path, "wb") as f:
                f.write(listing(5))

        self.assertRun(Run(b"2\n", prepare=write_old), PROMPT + listing(2), listing(2))

    def test_listing_that_cannot_be_opened(self):
        for locale in ["C", "C.UTF-8"]:
            with self.subTest(locale=locale):
                run = Run(b"3\n", locale=locale, prepare=os.mkdir)
                self.assertRun(run, message(OPEN_FAILED, locale), None)

    @POSIX_ONLY
    def test_listing_that_cannot_be_written(self):
        for locale in ["C", "en_US.UTF-8"]:
            with self.subTest(locale=locale):
                run = Run(b"3\n", locale=locale,
                          prepare=lambda path: os.symlink("/dev/full", path))
                self.assertRun(run, PROMPT + listing(3) + message(WRITE_FAILED, locale), None)


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
            run = Run(b"3\n", locale=self.LOCALE, prepare=os.mkdir,
                      console=lambda pipe: pipe.read())
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
            run = Run(b"6\n", locale=self.LOCALE, prepare=lambda path: os.symlink(small, path),
                      console=lambda pipe: pipe.read())
            self.assertRun(run, PROMPT + whole + message(WRITE_FAILED, self.LOCALE), run.file)
            self.assertTrue(whole.startswith(run.file) and len(run.file) < len(whole))


class HostTest(ProgramCase):
    """What a process meets on its host ends neither the listing nor the
    program: a console reader that leaves early, a file-size limit, and
    standard descriptors that are closed from the start."""

    def test_console_reader_that_leaves_after_the_first_line(self):
        run = Run(b"10\n", console=lambda pipe: pipe.readline())
        self.assertEqual(run.stdout, PROMPT + b"1,2,3,4,5,6,7,8,9,10" + EOL)
        self.assertTrue(run.file == listing(10), "the listing differs")
        self.assertEqual(run.status, 0)
        self.assertQuietPause(run, True)

    # Under Wine the limit would meet the emulator's own files as well.
    @POSIX_ONLY
    def test_listing_that_meets_the_file_size_limit(self):
        limit = 16 << 10
        run = Run(b"7\n", file_size=limit, console=lambda pipe: pipe.read())
        self.assertRun(run, PROMPT + listing(7) + message(WRITE_FAILED, "C"), listing(7)[:limit])

    def test_closed_standard_descriptors(self):
        cases = [
            (0, PROMPT + EOL, b""),  # end of input at once
            (1, b"", listing(3)),
            (2, PROMPT + listing(3), listing(3)),
        ]
        for fd, console, file in cases:
            with self.subTest(closed=fd):
                self.assertRun(Run(b"3\n", closed=(fd,)), console, file)

    @POSIX_ONLY
    def test_closed_standard_descriptors_with_no_null_device(self):
        # A bare root folder, as in a minimal container: the listing must
        # still never take the place of a standard descriptor.
        if os.geteuid() != 0:
            self.skipTest("needs root, to make a folder the program's root")
        if not is_static(PROGRAM[-1]):
            self.skipTest("the program is not a static 64-bit executable, which could run alone")
        try:
            subprocess.run(["true"], preexec_fn=lambda: os.chroot("/"), check=True)
        except (subprocess.SubprocessError, OSError) as error:
            self.skipTest(f"chroot is refused here: {error}")
        cases = [
            (0, PROMPT + EOL, b""),
            (1, b"", listing(2)),
            (2, PROMPT + listing(2), listing(2)),
        ]
        for fd, console, file in cases:
            with self.subTest(closed=fd):
                run = Run(b"2\n", closed=(fd,), bare_root=True)
                self.assertEqual((run.stdout, run.file, run.status), (console, file, 0))

    @POSIX_ONLY
    def test_standard_input_that_cannot_be_read_is_the_end_of_input(self):
        with tempfile.TemporaryDirectory() as folder:
            directory = os.open(folder, os.O_RDONLY)
            try:
                self.assertRun(Run(directory), PROMPT + EOL, b"")
            finally:
                os.close(directory)

    @POSIX_ONLY
    def test_pause_starts_with_the_default_signal_handling(self):
        run = Run(b"1\n")
        self.assertRun(run, PROMPT + listing(1), listing(1))
        ignored = int(run.pauses[0]["sigign"], 16)
        for number in (signal.SIGPIPE, signal.SIGXFSZ):
            self.assertFalse(ignored >> (number - 1) & 1, f"the pause ignores {number!r}")


def is_static(path):
    """Whether the ELF executable at |path| names no program interpreter:
    it then needs no other file to run."""
    with open(path, "rb") as f:
        elf = f.read()
    if elf[:4] != b"\x7fELF" or elf[4] != 2:  # 64-bit only
        return False
    order = "<" if elf[5] == 1 else ">"
    (table,) = struct.unpack_from(order + "Q", elf, 0x20)
    size, count = struct.unpack_from(order + "HH", elf, 0x36)
    interpreter = 3
    return all(struct.unpack_from(order + "I", elf, table + i * size)[0] != interpreter
               for i in range(count))


def channel(kind):
    """A one-way channel of |kind|, a pipe or a socket: (reading end,
    writing end), both blocking."""
    if kind == "pipe":
        return os.pipe()
    ends = socket.socketpair()
    return tuple(end.detach() for end in ends)


def read_to_end(fd, delay=0.0, pace=0.0, size=None):
    """Reads |fd| until its end, or until it has |size| bytes, starting after
    |delay| seconds and waiting |pace| seconds between reads of at most 4 KiB,
    in a thread of its own.  Returns a function that waits at most |timeout|
    seconds for the thread and returns what it read."""
    parts = []

    def read():
        time.sleep(delay)
        while size is None or sum(map(len, parts)) < size:
            try:
                part = os.read(fd, 4096)
            except OSError as error:  # a terminal once its other side is closed
                if error.errno != errno.EIO:
                    raise
                part = b""
            if not part:
                return
            parts.append(part)
            time.sleep(pace)

    reader = threading.Thread(target=read, daemon=True)
    reader.start()

    def result(timeout=TIME_LIMIT):
        reader.join(timeout)
        return b"".join(parts)
    return result


# O_NONBLOCK is a POSIX descriptor's flag, which the Windows build leaves
# alone: under Wine these would test Wine.
@unittest.skipIf(WINDOWS, "a POSIX descriptor's flag")
class NonBlockingTest(ProgramCase):
    """Standard descriptors left non-blocking by the parent, and shared with
    it, behave as blocking ones for the whole run, and stay on the very pipe,
    socket or terminal they were given: no console line is lost to a slow
    reader or sent elsewhere, and no input is lost to a late writer.
    Afterwards the parent finds their flags as it set them, whatever way the
    run ended."""

    KINDS = ("pipe", "socket")

    def wait(self, child):
        """The status of |child|, which fails the test if it has not ended
        within a minute: a console that nobody reads blocks it for good."""
        try:
            return child.wait(60)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
            self.fail("the program never ended")

    def run_shared(self, kind, stdin, write_after=0.0, read_after=0.0, prepare=None,
                   at_prompt=None, start=None):
        """Runs the program with standard input and output on non-blocking
        channels of |kind| that the parent holds too, and returns the run and
        the status flags of the parent's two ends afterwards.  The input is
        written |write_after| seconds after the start; the console is read
        from |read_after| seconds on, slowly.  |at_prompt|(child, ends), if
        given, is called once the first prompt has been read, before the
        input is written.  |start| runs in the child before the program."""
        input_end, feeder = channel(kind)
        reader, output_end = channel(kind)
        for end in (input_end, output_end):
            os.set_blocking(end, False)

        def spawn(command, preexec_fn, **options):
            def before_exec():
                preexec_fn()
                if start:
                    start()
            child = subprocess.Popen(command, stdin=input_end, stdout=output_end,
                                     preexec_fn=before_exec, **options)
            seen = b""
            if at_prompt:
                while not seen.endswith(PROMPT):
                    part = os.read(reader, 4096)
                    self.assertTrue(part, "no prompt")
                    seen += part
                at_prompt(child, (input_end, output_end))
            console = read_to_end(reader, read_after, pace=0.001)
            time.sleep(write_after)
            os.write(feeder, stdin)
            os.close(feeder)
            status = self.wait(child)
            flags.extend(fcntl.fcntl(end, fcntl.F_GETFL) for end in (input_end, output_end))
            for end in (input_end, output_end):
                os.close(end)
            text = seen + console()
            os.close(reader)
            return text, status

        flags = []
        run = Run(prepare=prepare, spawn=spawn)
        self.assertEqual([bool(f & os.O_NONBLOCK) for f in flags], [True, True],
                         "a flag that the parent set is gone")
        return run, flags

    def test_console_with_a_late_and_slow_reader(self):
        # Many times what the channel holds.
        for kind in self.KINDS:
            with self.subTest(kind=kind):
                run, _ = self.run_shared(kind, b"9\n", read_after=0.5)
                self.assertRun(run, PROMPT + listing(9), listing(9))

    def test_input_from_a_late_writer(self):
        for kind in self.KINDS:
            with self.subTest(kind=kind):
                run, _ = self.run_shared(kind, b"3\n", write_after=0.5)
                self.assertRun(run, PROMPT + listing(3), listing(3))

    def test_parent_finds_its_flags_however_the_run_ends(self):
        cases = [
            ("complete", b"2\n", None, PROMPT + listing(2), listing(2)),
            ("end of input", b"", None, PROMPT + EOL, b""),
            ("open failure", b"2\n", os.mkdir, message(OPEN_FAILED, "C"), None),
        ]
        for kind in self.KINDS:
            for ending, stdin, prepare, console, file in cases:
                with self.subTest(kind=kind, ending=ending):
                    run, _ = self.run_shared(kind, stdin, write_after=0.2, prepare=prepare)
                    self.assertRun(run, console, file)

    def test_signal_that_ends_the_run_gives_the_flags_back(self):
        for kind in self.KINDS:
            for number in ENDING_SIGNALS:
                with self.subTest(kind=kind, signal=signal.Signals(number).name):
                    run, _ = self.run_shared(
                        kind, b"2\n", at_prompt=lambda child, ends: child.send_signal(number))
                    # Ended by the signal itself, as without a handler.
                    self.assertEqual((run.stdout, run.file, run.status), (PROMPT, b"", -number))
                    self.assertQuietPause(run, False)

    def test_ignored_hangup_leaves_the_run_going(self):
        # As under nohup.
        for kind in self.KINDS:
            with self.subTest(kind=kind):
                run, _ = self.run_shared(
                    kind, b"2\n", start=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN),
                    at_prompt=lambda child, ends: child.send_signal(signal.SIGHUP))
                self.assertRun(run, PROMPT + listing(2), listing(2))

    def test_console_on_a_fifo_a_file_or_the_null_device(self):
        # Each non-blocking, and shared with the parent.
        for kind in ("fifo", "file", "null"):
            with self.subTest(kind=kind), tempfile.TemporaryDirectory() as folder:
                path = os.devnull if kind == "null" else os.path.join(folder, "console")
                if kind == "fifo":
                    os.mkfifo(path)
                    reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
                    os.set_blocking(reader, True)
                console = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_NONBLOCK)
                if kind == "fifo":
                    # Only now: with no writer, a read is the end of the FIFO.
                    shown = read_to_end(reader, pace=0.001)

                def spawn(command, **options):
                    child = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=console,
                                             **options)
                    child.stdin.write(b"8\n")
                    child.stdin.close()
                    self.wait(child)
                    kept.append(not os.get_blocking(console))
                    os.close(console)
                    if kind == "fifo":
                        text = shown()
                        os.close(reader)
                    else:
                        with open(path, "rb") as f:
                            text = f.read()
                    return text, child.returncode

                kept = []
                run = Run(spawn=spawn)
                self.assertEqual(kept, [True], "the flag that the parent set is gone")
                console_text = b"" if kind == "null" else PROMPT + listing(8)
                self.assertRun(run, console_text, listing(8))

    def test_flags_the_parent_changes_during_the_run_stay(self):
        def append(child, ends):
            for end in ends:
                fcntl.fcntl(end, fcntl.F_SETFL, fcntl.fcntl(end, fcntl.F_GETFL) | os.O_APPEND)

        for kind in self.KINDS:
            with self.subTest(kind=kind):
                run, flags = self.run_shared(kind, b"2\n", at_prompt=append)
                self.assertRun(run, PROMPT + listing(2), listing(2))
                self.assertEqual([bool(f & os.O_APPEND) for f in flags], [True, True])

    def terminal(self):
        """A new pseudo-terminal, (master, slave), with the slave raw: no echo
        and no line-ending translation."""
        master, slave = os.openpty()
        tty.setraw(slave)
        return master, slave

    def test_terminal_shared_by_all_three_descriptors(self):
        # The count is typed before the program starts, or once it waits.
        for typed_after in (0.0, 0.5):
            with self.subTest(typed_after=typed_after):
                master, terminal = self.terminal()
                os.set_blocking(terminal, False)

                def spawn(command, **options):
                    options["stderr"] = terminal
                    if not typed_after:
                        os.write(master, b"8\n")
                    child = subprocess.Popen(command, stdin=terminal, stdout=terminal, **options)
                    console = read_to_end(master, delay=1.0, pace=0.001)
                    if typed_after:
                        time.sleep(typed_after)
                        os.write(master, b"8\n")
                    status = self.wait(child)
                    kept.append(not os.get_blocking(terminal))
                    os.close(terminal)
                    text = console()
                    os.close(master)
                    return text, status

                kept = []
                run = Run(spawn=spawn)
                self.assertEqual(kept, [True], "the flag that the parent set is gone")
                self.assertRun(run, PROMPT + listing(8), listing(8))
                # What a pause that waits for a key needs.
                self.assertFalse(int(run.pauses[0]["stdin"], 8) & os.O_NONBLOCK,
                                 "the pause inherits a non-blocking terminal")

    def test_console_on_a_terminal_master(self):
        # The master's other side is read, slowly; 8 fills the terminal's
        # buffers many times over.
        for count in (3, 8):
            with self.subTest(count=count):
                master, slave = self.terminal()
                os.set_blocking(master, False)

                def spawn(command, **options):
                    child = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=master,
                                             **options)
                    # Closing the master discards what the slave has not yet
                    # read, so the reader stops at the size it expects.
                    expected = len(PROMPT + listing(count))
                    console = read_to_end(slave, delay=0.2, pace=0.001, size=expected)
                    child.stdin.write(b"%d\n" % count)
                    child.stdin.close()
                    status = self.wait(child)
                    kept.append(not os.get_blocking(master))
                    text = console(timeout=10)
                    for end in (master, slave):
                        os.close(end)
                    return text, status

                kept = []
                run = Run(spawn=spawn)
                self.assertEqual(kept, [True], "the flag that the parent set is gone")
                self.assertRun(run, PROMPT + listing(count), listing(count))

    def test_input_from_a_terminal_master(self):
        master, slave = self.terminal()
        os.set_blocking(master, False)

        def spawn(command, **options):
            with tempfile.TemporaryFile() as stdout:
                child = subprocess.Popen(command, stdin=master, stdout=stdout, **options)
                time.sleep(0.5)
                os.write(slave, b"3\n")  # typed on the other side
                status = self.wait(child)
                kept.append(not os.get_blocking(master))
                for end in (master, slave):
                    os.close(end)
                stdout.seek(0)
                return stdout.read(), status

        kept = []
        run = Run(spawn=spawn)
        self.assertEqual(kept, [True], "the flag that the parent set is gone")
        self.assertRun(run, PROMPT + listing(3), listing(3))

    def test_console_on_dev_tty_of_another_session(self):
        # Terminal A is the parent's controlling terminal when it opens
        # /dev/tty; the program runs in a session of its own on terminal B.
        (master_a, slave_a), (master_b, slave_b) = self.terminal(), self.terminal()

        def spawn(command, **options):
            helper = [sys.executable, "-c", SESSION_SWAP, os.ttyname(slave_a),
                      os.ttyname(slave_b), *command]
            child = subprocess.Popen(helper, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     start_new_session=True, **options)
            consoles = [read_to_end(master, pace=0.001) for master in (master_a, master_b)]
            helper_said, _ = child.communicate(b"2\n", timeout=60)
            kept.append(helper_said)
            for slave in (slave_a, slave_b):
                os.close(slave)
            on_a, on_b = (console() for console in consoles)
            for master in (master_a, master_b):
                os.close(master)
            self.assertEqual(on_b, b"", "console text on the program's own terminal")
            return on_a, child.returncode

        kept = []
        run = Run(spawn=spawn)
        self.assertEqual(kept, [b"nonblocking\n"], "the flag that the parent set is gone")
        self.assertRun(run, PROMPT + listing(2), listing(2))


# Run in a new session of its own, with the terminals A and B and a command:
# takes A as its controlling terminal, opens /dev/tty non-blocking, and runs
# the command with that as standard output, in a new session whose
# controlling terminal is B.  Says whether the descriptor is still
# non-blocking afterwards, and exits with the command's status.
SESSION_SWAP = r"""
import os, sys
a, b, *command = sys.argv[1:]
os.open(a, os.O_RDWR)
console = os.open("/dev/tty", os.O_WRONLY | os.O_NONBLOCK)
child = os.fork()
if child == 0:
    os.setsid()
    os.open(b, os.O_RDWR)
    os.dup2(console, 1)
    os.execv(command[0], command)
_, status = os.waitpid(child, 0)
print("blocking" if os.get_blocking(console) else "nonblocking")
sys.exit(os.waitstatus_to_exitcode(status))
"""


WHITESPACE = b" \t\n\v\f\r"
DIGITS = b"0123456789"


def read_count(stdin):
    """What the program makes of |stdin|: (count or None, prompts shown).

    A model of its reading rules, kept apart from the code: every read is
    prompted for and skips white space; an optional sign and then digits make
    a value, and what follows the digits stays for the next read.  A read
    with no digits, or with a value outside 32 bits, drops the rest of its
    white-space-delimited token.  The first value from 1 to 10 is the count;
    a read that meets the end of the input ends the program."""
    at, prompts = 0, 0
    end = len(stdin)
    while True:
        prompts += 1
        while at < end and stdin[at] in WHITESPACE:
            at += 1
        if at == end:
            return None, prompts
        start = at
        if stdin[at] in b"+-":
            at += 1
        digits = at
        while at < end and stdin[at] in DIGITS:
            at += 1
        if at == digits:
            if at == end:
                return None, prompts
        else:
            value = int(stdin[start:at])
            if -2**31 <= value < 2**31:
                if 1 <= value <= 10:
                    return value, prompts
                continue
            if at == end:
                return None, prompts
        while at < end and stdin[at] not in WHITESPACE:
            at += 1


def random_input(rng):
    """A stream of random tokens: counts in and out of range, signs alone,
    letters, numbers too large for 32 bits, tokens glued together, odd white
    space and bytes, possibly without a final newline, possibly empty."""
    small = lambda: str(rng.randint(1, 7))
    pieces = [
        small, lambda: rng.choice(["0", "-0", "11", "-3", "100", "2147483647", "-2147483648"]),
        lambda: rng.choice(["+", "-", "+-", "--"]) + rng.choice(["", small()]),
        lambda: "".join(rng.choice("abcxyzXYZ.") for _ in range(rng.randint(1, 4))),
        lambda: rng.choice(["", "-", "+"]) + str(rng.randint(2**31, 10**20)),
        lambda: "0" * rng.randint(1, 30) + small(),
        lambda: rng.choice(["\x00", "\xff", "\xa5\xa2", "\u00e9"]),
    ]
    tokens = []
    for _ in range(rng.randint(0, 6)):
        token = rng.choice(pieces)()
        while rng.random() < 0.3:  # glued to the next piece
            token += rng.choice(pieces)()
        tokens.append(token)
    stdin = b""
    for token in tokens:
        stdin += token.encode("latin-1") + rng.choice([b" ", b"\n", b"\t", b"\r\n", b"\n\n",
                                                         b" \v\f "])
    if stdin and rng.random() < 0.3:
        stdin = stdin.rstrip(WHITESPACE)
    return stdin


class RandomInputTest(ProgramCase):
    """Random token streams: set RANDOM_INPUT_CASES for more cases and
    RANDOM_INPUT_SEED for others."""

    def test_random_streams_end_as_the_reading_rules_predict(self):
        seed = int(os.environ.get("RANDOM_INPUT_SEED", "1"))
        cases = int(os.environ.get("RANDOM_INPUT_CASES", "300"))
        checked = 0
        for case in range(cases):
            rng = random.Random(f"{seed}/{case}")
            stdin = random_input(rng)
            count, prompts = read_count(stdin)
            if count is not None and count > 7:
                continue  # 8! lines and more only slow the run down
            file = listing(count) if count else b""
            self.assertRun(Run(stdin), PROMPT * prompts + (file or EOL), file,
                           f"seed {seed}, case {case}, input {stdin!r}")
            checked += 1
        self.assertGreater(checked, cases // 2)


@POSIX_ONLY
@unittest.skipUnless(shutil.which("strace"), "needs strace")
class FlushContractTest(unittest.TestCase):
    """Every line reaches each file in one write of its own as soon as it is
    complete: the listing's copy first, then the console's."""

    CALL = re.compile(rb"^(\w+)\((.*)\) += (-?\d+)", re.M)
    STRING = re.compile(rb'"((?:\\x[0-9a-f]{2})*)"')  # strace -xx: every byte as \xNN

    def strings(self, args):
        return [bytes.fromhex(s.replace(b"\\x", b"").decode()) for s in self.STRING.findall(args)]

    def traced_writes(self, stdin):
        """The program's output calls to its console and listing (not those of
        the pause command's shell, nor a sanitizer runtime's own), as (file,
        call, bytes)."""
        with tempfile.TemporaryDirectory() as folder:
            trace = os.path.join(folder, "trace")
            run = Run(stdin, wrapper=["strace", "-o", trace, "-xx", "-s", "4096",
                                      "-e", "signal=none",
                                      "-e", "trace=openat,write,writev,pwrite64,pwritev"],
                      # LeakSanitizer, in a sanitized build, cannot run under a tracer.
                      env={"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") +
                           ":detect_leaks=0"})
            self.assertEqual(run.status, 0, run.stderr.decode(errors="replace"))
            with open(trace, "rb") as f:
                calls = self.CALL.findall(f.read())
        files = {b"1": "stdout", b"2": "stderr"}
        writes = []
        for name, args, result in calls:
            if name == b"openat":
                if self.strings(args)[:1] == [LISTING_PATH]:
                    files[result] = "listing"
                continue
            fd = args.split(b",", 1)[0]
            if fd in files:
                writes.append((files[fd], name.decode(), b"".join(self.strings(args))))
        return writes

    def test_each_line_is_one_write_per_file_listing_first(self):
        expected = [("stdout", "write", PROMPT)]
        lines = listing(4).splitlines(keepends=True)
        for line in lines[:-1]:
            expected += [("listing", "write", line), ("stdout", "write", line)]
        expected += [("stdout", "write", lines[-1]), ("listing", "write", lines[-1])]
        self.assertEqual(self.traced_writes(b"4\n"), expected)


@unittest.skipUnless(OPTIONS.memcheck, "memcheck runs on request")
@unittest.skipUnless(shutil.which("valgrind"), "needs valgrind")
class MemcheckTest(ProgramCase):
    def test_whole_run_is_clean(self):
        run = Run(b"6\n", wrapper=["valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                                   "--errors-for-leak-kinds=definite"])
        self.assertRun(run, PROMPT + listing(6), listing(6), run.stderr.decode(errors="replace"))


# The exit status of a run whose every test was skipped, which CTest reports
# as a skipped test rather than a passed one.
ALL_SKIPPED = 77

if __name__ == "__main__":
    result = unittest.main(verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(ALL_SKIPPED if result.testsRun == len(result.skipped) else 0)
