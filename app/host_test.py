#!/usr/bin/env python3
"""Tests of what the program asks of its host (app/host.h), through the whole
program: closed, unreadable and non-blocking standard descriptors, readers
that leave, file-size limits and signals.  Usage: see harness.py."""

import contextlib
import errno
import fcntl
import os
import re
import resource
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

from harness import (EOL, LISTING_NAME, OPEN_FAILED, POSIX_ONLY, PROGRAM, PROMPT, WINDOWS,
                     WRITE_FAILED, ProgramCase, Run, fed, listing, main, message, piped)


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


def in_bare_root(stdin):
    """A |spawn| for Run: the program runs alone in the run's parent folder,
    made its root (by chroot, as root), as in a minimal container: no /dev,
    no shell, no pause."""
    def spawn(command, cwd, preexec_fn, **options):
        parent = os.path.dirname(cwd)
        shutil.copy(command[-1], parent)

        def start():
            preexec_fn()
            os.chroot(parent)
            os.chdir("/work")
        return fed(stdin)(["/" + os.path.basename(command[-1])], cwd=cwd, preexec_fn=start,
                          **options)
    return spawn


def bare_root_refused():
    """Why the program cannot run alone in a bare root folder here, or None."""
    if WINDOWS:
        return "needs chroot, a POSIX call"
    if os.geteuid() != 0:
        return "needs root, to make a folder the program's root"
    if not is_static(PROGRAM[-1]):
        return "the program is not a static 64-bit executable, which could run alone"
    try:
        subprocess.run(["true"], preexec_fn=lambda: os.chroot("/"), check=True)
    except (subprocess.SubprocessError, OSError) as error:
        return f"chroot is refused here: {error}"
    return None


class HostTest(ProgramCase):
    """What a process meets on its host ends neither the listing nor the
    program: a console reader that leaves early, a file-size limit, standard
    descriptors that are closed from the start, and a standard input that
    cannot be read."""

    def test_console_reader_that_leaves_after_the_first_line(self):
        run = Run(spawn=piped(b"10\n", lambda pipe: pipe.readline()))
        self.assertEqual(run.stdout, PROMPT + b"1,2,3,4,5,6,7,8,9,10" + EOL)
        self.assertTrue(run.file == listing(10), "the listing differs")
        self.assertEqual(run.status, 0)
        self.assertQuietPause(run, True)

    # Under Wine the limit would meet the emulator's own files as well.
    @POSIX_ONLY
    def test_listing_that_meets_the_file_size_limit(self):
        limit = 16 << 10
        run = Run(spawn=piped(b"7\n"),
                  start=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
        self.assertRun(run, PROMPT + listing(7) + message(WRITE_FAILED, "C"), listing(7)[:limit])

    def test_closed_standard_descriptors(self):
        # In a bare root folder there is no /dev/null to fill them with; the
        # listing must still never take the place of a standard descriptor.
        cases = [  # (closed, console, listing)
            (0, PROMPT + EOL, b""),  # end of input at once
            (1, b"", listing(3)),
            (2, PROMPT + listing(3), listing(3)),
        ]
        for where, spawn in (("here", fed), ("bare root", in_bare_root)):
            refused = spawn is in_bare_root and bare_root_refused()
            for fd, console, file in cases:
                with self.subTest(where=where, closed=fd):
                    if refused:
                        self.skipTest(refused)
                    run = Run(spawn=spawn(b"3\n"), start=lambda: os.close(fd))
                    if spawn is fed:
                        self.assertRun(run, console, file)
                    else:  # a bare root has no shell to run the pause
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


# Every kind of thing that a standard descriptor can be.
KINDS = ("pipe", "fifo", "socket", "file", "null", "pty slave", "pty master", "/dev/tty")

# How long a test waits for the program to show what it waits for, or to end,
# before it fails: a console that nobody reads would block it for good.
PATIENCE = 60


def terminal():
    """A new pseudo-terminal, (master, slave), with the slave raw: no echo
    and no line-ending translation."""
    master, slave = os.openpty()
    tty.setraw(slave)
    return master, slave


# Run in a session of its own, with a terminal and a socket: makes the
# terminal its controlling one, opens /dev/tty non-blocking and sends that
# descriptor back over the socket.
OPEN_DEV_TTY = r"""
import os, socket, sys
terminal, channel = sys.argv[1], socket.socket(fileno=int(sys.argv[2]))
os.close(os.open(terminal, os.O_RDWR))
socket.send_fds(channel, [b"/dev/tty"], [os.open("/dev/tty", os.O_RDWR | os.O_NONBLOCK)])
"""


class Shared:
    """One end of a channel of |kind| for the program, non-blocking, which the
    parent keeps a copy of: the program's console if |writes|, else its input
    (a file holds |typed| from the start).  |program| is the program's end,
    |far| the test's own end of the channel, where it has one: read for a
    console, written for input.  A context manager, which closes everything
    it opened.

    The /dev/tty descriptor is opened by a process whose controlling terminal
    is A, while the program runs in a session of its own whose controlling
    terminal is B (|start|, in the child, puts it there): nothing may reach
    B (|elsewhere|, B's master)."""

    def __init__(self, kind, writes, typed=b""):
        self.kind, self.start, self.elsewhere = kind, None, None
        self.open_fds = []
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "channel")
        try:
            self.program, self.far = self.open(writes, typed)
            os.set_blocking(self.program, False)
        except BaseException:
            self.__exit__()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        for fd in self.open_fds:
            os.close(fd)
        self.open_fds = []
        self.folder.cleanup()

    def own(self, *fds):
        self.open_fds.extend(fds)
        return fds

    def close(self, fd):
        if fd in self.open_fds:
            self.open_fds.remove(fd)
            os.close(fd)

    def open(self, writes, typed):
        """(program's end, far end)."""
        mode = os.O_WRONLY if writes else os.O_RDONLY
        if self.kind == "pipe":
            read, write = self.own(*os.pipe())
            return (write, read) if writes else (read, write)
        if self.kind == "socket":
            return self.own(*(end.detach() for end in socket.socketpair()))
        if self.kind == "fifo":
            os.mkfifo(self.path)
            # The reading end first, so that the writing end opens at once.
            (read,) = self.own(os.open(self.path, os.O_RDONLY | os.O_NONBLOCK))
            os.set_blocking(read, True)
            (write,) = self.own(os.open(self.path, os.O_WRONLY))
            return (write, read) if writes else (read, write)
        if self.kind == "file":
            with open(self.path, "wb") as f:
                f.write(b"" if writes else typed)
            return self.own(os.open(self.path, mode))[0], None
        if self.kind == "null":
            self.path = os.devnull
            return self.own(os.open(os.devnull, mode))[0], None
        if self.kind == "pty slave":
            master, slave = self.own(*terminal())
            return slave, master
        if self.kind == "pty master":
            return self.own(*terminal())
        assert self.kind == "/dev/tty", self.kind
        master_a, slave_a = self.own(*terminal())
        self.elsewhere, slave_b = self.own(*terminal())
        here, there = socket.socketpair()
        with here, there:
            subprocess.run([sys.executable, "-c", OPEN_DEV_TTY, os.ttyname(slave_a),
                            str(there.fileno())], pass_fds=[there.fileno()],
                           start_new_session=True, check=True, timeout=PATIENCE)
            _, (dev_tty,), _, _ = socket.recv_fds(here, 64, 1)
        self.own(dev_tty)

        def start():
            os.setsid()
            os.close(os.open(os.ttyname(slave_b), os.O_RDWR))  # B becomes its terminal
        self.start = start
        return dev_tty, master_a

    def reader(self):
        """What the program writes to this console, read as it comes."""
        if self.far is None:
            return FileReader(self.path)
        return Reader(self.far)

    def type(self, data):
        """Writes |data| as the program's input, and ends the input where the
        channel can end without hanging up a terminal."""
        if self.far is None:
            return
        os.write(self.far, data)
        if self.kind in ("pipe", "fifo", "socket"):
            self.close(self.far)
            self.far = None


# The end of a complete console text.
SUMMARY = re.compile(rb"sum=\d+" + EOL + rb"$")


class Reader:
    """Reads a descriptor in a thread of its own, slowly, until its end or a
    complete summary line, whichever comes first."""

    def __init__(self, fd, pace=0.001):
        self.parts = []

        def read():
            tail = b""  # enough to hold a summary line split across reads
            while not SUMMARY.search(tail):
                try:
                    part = os.read(fd, 4096)
                except OSError as error:  # a terminal whose other side is gone
                    if error.errno != errno.EIO:
                        raise
                    part = b""
                if not part:
                    return
                self.parts.append(part)
                tail = (tail + part)[-32:]
                time.sleep(pace)

        self.thread = threading.Thread(target=read, daemon=True)
        self.thread.start()

    def text(self):
        return b"".join(self.parts)

    def finish(self):
        """Everything read, once the thread has stopped; None if it has not
        stopped within PATIENCE."""
        self.thread.join(PATIENCE)
        return None if self.thread.is_alive() else self.text()


class FileReader:
    """What the program has written to a file so far."""

    def __init__(self, path):
        self.path = path

    def text(self):
        with open(self.path, "rb") as f:
            return f.read()

    finish = text


def toggling(child, ends, _):
    """A |during| for run_shared: flips the flag of the parent's ends, as an
    event loop sets it again before each write of its own, until the program
    ends, and leaves it set.  Returns what waits for the last flip."""
    def flip():
        while child.poll() is None:
            for end in ends:
                os.set_blocking(end, not os.get_blocking(end))
            time.sleep(0.0005)
        for end in ends:
            os.set_blocking(end, False)
    flipper = threading.Thread(target=flip, daemon=True)
    flipper.start()
    return flipper.join


def flags_of(ends):
    return [fcntl.fcntl(end, fcntl.F_GETFL) for end in ends]


def non_blocking(flags):
    return [bool(f & os.O_NONBLOCK) for f in flags]


# O_NONBLOCK is a POSIX descriptor's flag, which the Windows build never
# meets: under Wine these would test Wine.
@unittest.skipIf(WINDOWS, "a POSIX descriptor's flag")
class NonBlockingTest(ProgramCase):
    """Standard descriptors of every kind that the parent left non-blocking
    and shares with the program.  The program waits wherever a descriptor
    would block, so that no console line is lost to a slow reader and no
    input to a late writer, and it never changes what the parent shares: the
    flags are as the parent set them while the program waits at its prompt
    and after the run, however it ends, and the parent may change them at
    any moment."""

    def wait_until(self, condition, failure):
        deadline = time.monotonic() + PATIENCE
        while not condition():
            if time.monotonic() > deadline:
                self.fail(failure)
            time.sleep(0.01)

    def wait(self, child):
        try:
            return child.wait(PATIENCE)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
            self.fail("the program never ended")

    def run_shared(self, console="pipe", stdin="pipe", typed=b"3\n", awaited=PROMPT,
                   typed_early=False, during=None, **options):
        """Runs the program with its standard output on a channel of kind
        |console| and its standard input on one of kind |stdin| ("console":
        the console's own descriptor, which is then standard error too), each
        non-blocking and kept by the parent too.  Once the console shows
        |awaited| (for the null device, once the listing exists), |typed|
        goes to the input, unless it is None or went before the start
        (|typed_early|); during(child, ends, listing path) then runs if
        given, and what it returns, if anything, once the program has ended.  The console is read slowly throughout.  Returns the run and
        the status flags of the parent's two ends while the program waited
        for its input and after it ended."""
        flags = {}

        def spawn(command, cwd, preexec_fn, **popen_options):
            with contextlib.ExitStack() as stack:
                out = stack.enter_context(Shared(console, writes=True))
                if stdin == "console":
                    shared_input = out
                    popen_options["stderr"] = out.program
                else:
                    shared_input = stack.enter_context(Shared(stdin, False, typed))
                ends = (shared_input.program, out.program)
                if typed_early:
                    shared_input.type(typed)

                def start():
                    preexec_fn()
                    if out.start:
                        out.start()
                child = subprocess.Popen(command, stdin=shared_input.program,
                                         stdout=out.program, cwd=cwd, preexec_fn=start,
                                         **popen_options)
                stack.callback(lambda: child.poll() is None and child.kill())
                reader = out.reader()
                listing_path = os.path.join(os.path.dirname(cwd), LISTING_NAME)
                self.wait_until(lambda: awaited in reader.text() or
                                (console == "null" and os.path.exists(listing_path)),
                                f"the console never showed {awaited!r}")
                flags["waiting"] = flags_of(ends)
                if typed is not None and not typed_early:
                    shared_input.type(typed)
                after = during and during(child, ends, listing_path)
                status = self.wait(child)
                if after:
                    after()
                flags["after"] = flags_of(ends)
                # The reader meets the end of the console once the parent's
                # copies are closed too; but closing a terminal's master
                # discards what the other side has not read, so that reader
                # stops at the summary line.
                if console != "pty master":
                    shared_input.close(shared_input.program)
                    out.close(out.program)
                text = reader.finish()
                self.assertIsNotNone(text, "the console reader never finished")
                if out.elsewhere is not None:
                    os.set_blocking(out.elsewhere, False)
                    with contextlib.suppress(BlockingIOError):
                        self.assertEqual(os.read(out.elsewhere, 4096), b"",
                                         "console text on the program's own terminal")
                return text, status

        run = Run(spawn=spawn, **options)
        return run, flags

    def assertUnchanged(self, flags):
        """The parent's ends are non-blocking, as it left them, both while
        the program waited for its input and after it ended."""
        self.assertEqual({when: non_blocking(f) for when, f in flags.items()},
                         {"waiting": [True, True], "after": [True, True]})

    def test_console_of_every_kind(self):
        # 8 fills every channel's buffers many times over; the reader is slow.
        for kind in KINDS:
            with self.subTest(console=kind):
                run, flags = self.run_shared(console=kind, typed=b"8\n")
                self.assertUnchanged(flags)
                console = b"" if kind == "null" else PROMPT + listing(8)
                self.assertRun(run, console, listing(8))

    def test_input_of_every_kind(self):
        # Typed once the program waits for it; a file holds it from the start,
        # and the null device ends the input at once.
        for kind in KINDS:
            with self.subTest(stdin=kind):
                run, flags = self.run_shared(stdin=kind, typed=b"3\n")
                self.assertUnchanged(flags)
                if kind == "null":
                    self.assertRun(run, PROMPT + EOL, b"")
                    continue
                self.assertRun(run, PROMPT + listing(3), listing(3))
                # The pause inherits the descriptor as the parent gave it.
                self.assertTrue(int(run.pauses[0]["stdin"], 8) & os.O_NONBLOCK)

    def test_terminal_shared_by_all_three_descriptors(self):
        # As at a shell whose terminal was left non-blocking: the count is
        # typed ahead, or once the program waits for it.
        for typed_early in (True, False):
            with self.subTest(typed_early=typed_early):
                run, flags = self.run_shared(console="pty slave", stdin="console", typed=b"8\n",
                                             typed_early=typed_early)
                self.assertEqual(non_blocking(flags["after"]), [True, True])
                self.assertRun(run, PROMPT + listing(8), listing(8))
                self.assertTrue(int(run.pauses[0]["stdin"], 8) & os.O_NONBLOCK)

    def test_parent_changing_the_flag_during_the_run_loses_nothing(self):
        for kind in ("pipe", "socket", "pty slave", "pty master"):
            with self.subTest(console=kind):
                run, _ = self.run_shared(console=kind, typed=b"8\n", during=toggling)
                self.assertRun(run, PROMPT + listing(8), listing(8))

    def test_parent_finds_its_flags_however_the_run_ends(self):
        cases = [  # (ending, typed, first shown, prepare, console, listing)
            ("complete", b"2\n", PROMPT, None, PROMPT + listing(2), listing(2)),
            ("end of input", b"", PROMPT, None, PROMPT + EOL, b""),
            ("open failure", b"2\n", message(OPEN_FAILED, "C"), os.mkdir,
             message(OPEN_FAILED, "C"), None),
        ]
        for kind in ("pipe", "socket"):
            for ending, typed, awaited, prepare, console, file in cases:
                with self.subTest(kind=kind, ending=ending):
                    run, flags = self.run_shared(kind, kind, typed, awaited, prepare=prepare)
                    self.assertUnchanged(flags)
                    self.assertRun(run, console, file)

    def signal_at_prompt(self, number):
        """A |during| for run_shared: sends |number| at once, while the
        program waits for its input."""
        return lambda child, ends, path: child.send_signal(number)

    def signal_in_listing(self, number):
        """A |during| for run_shared: sends |number| once the listing has
        begun, while the program waits for its slow reader."""
        def during(child, ends, path):
            self.wait_until(lambda: os.path.getsize(path) > 0, "the listing never began")
            child.send_signal(number)
        return during

    def assertEndedBy(self, run, number):
        """The run of N = 10 was ended by signal |number|, with what it wrote
        so far intact, and no pause."""
        self.assertEqual(run.status, -number)
        self.assertTrue(run.stdout.startswith(PROMPT) and
                        (PROMPT + listing(10)).startswith(run.stdout))
        self.assertTrue(listing(10).startswith(run.file))
        self.assertQuietPause(run, False)

    def test_signal_that_ends_the_run_leaves_the_flags(self):
        cases = [  # (signal, typed, when)
            (signal.SIGHUP, None, self.signal_at_prompt),
            (signal.SIGINT, None, self.signal_at_prompt),
            (signal.SIGTERM, b"10\n", self.signal_in_listing),
            (signal.SIGQUIT, b"10\n", self.signal_in_listing),
            (signal.SIGKILL, b"10\n", self.signal_in_listing),
        ]

        def no_core():
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

        for kind in ("pipe", "socket"):
            for number, typed, when in cases:
                with self.subTest(kind=kind, signal=signal.Signals(number).name):
                    run, flags = self.run_shared(kind, kind, typed, during=when(number),
                                                 start=no_core)
                    self.assertUnchanged(flags)
                    self.assertEndedBy(run, number)

    def test_ignored_hangup_leaves_the_run_going(self):
        # As under nohup.
        run, _ = self.run_shared(typed=b"2\n",
                                 start=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN),
                                 during=self.signal_at_prompt(signal.SIGHUP))
        self.assertRun(run, PROMPT + listing(2), listing(2))

    def test_descriptors_of_another_user(self):
        # The parent's pipes and terminals are root's, and only root may open
        # them afresh; the program runs as user 65534.
        as_nobody = ["setpriv", "--reuid", "65534", "--regid", "65534", "--clear-groups", "--"]
        if os.geteuid() != 0:
            self.skipTest("needs root, to run the program as another user")
        if not shutil.which("setpriv"):
            self.skipTest("needs setpriv, to run the program as another user")
        if subprocess.run([*as_nobody, "test", "-x", PROGRAM[-1]]).returncode != 0:
            self.skipTest(f"user 65534 cannot run {PROGRAM[-1]}")

        def open_to_all(path):
            os.chmod(os.path.dirname(path), 0o777)

        cases = [  # (case, console, typed, during)
            ("pipe", "pipe", b"8\n", None),
            ("pty slave", "pty slave", b"8\n", None),
            ("flag toggled", "pipe", b"8\n", toggling),
            ("SIGKILL", "pipe", b"10\n", self.signal_in_listing(signal.SIGKILL)),
        ]
        for case, console, typed, during in cases:
            with self.subTest(case=case):
                run, flags = self.run_shared(console, "pipe", typed, during=during,
                                             wrapper=as_nobody, prepare=open_to_all)
                if during is not toggling:  # which changes the flags itself
                    self.assertUnchanged(flags)
                if case == "SIGKILL":
                    self.assertEndedBy(run, signal.SIGKILL)
                else:
                    self.assertRun(run, PROMPT + listing(8), listing(8))

if __name__ == "__main__":
    main()
