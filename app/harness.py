"""The harness of the whole-program tests: the real executable, fed on
standard input, run in a throw-away folder whose parent receives the listing
file, and an oracle for what it must write.

Each test script is run as

    SCRIPT [--windows] [--emulator=WORD ...] [--memcheck] PROGRAM [unittest arguments]
    SCRIPT --list-groups

--windows      expect the Windows program's behaviour (see WINDOWS)
--emulator     run the program through a command, such as Wine, one word per
               --emulator
--memcheck     also run the program once under valgrind's memcheck
--list-groups  print the script's groups of tests, its test classes, one a line
"""

import argparse
import atexit
import functools
import itertools
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import unittest


def parse_command_line():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("--emulator", action="append", default=[])
    parser.add_argument("--memcheck", action="store_true")
    parser.add_argument("--list-groups", action="store_true")
    parser.add_argument("program", nargs="?")
    options, rest = parser.parse_known_args()
    if not options.program and not options.list_groups:
        parser.error("the program to test is missing")
    sys.argv[1:] = rest
    return options


OPTIONS = parse_command_line()
PROGRAM = OPTIONS.emulator + [os.path.abspath(OPTIONS.program or "")]

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
OPEN_FAILED = {"big5": bytes.fromhex("b67dc0c9a5a2b1d13a20"), "utf8": "開檔失敗: ".encode()}
WRITE_FAILED = {"big5": bytes.fromhex("bc67c0c9a5a2b1d13a20"), "utf8": "寫檔失敗: ".encode()}


@functools.lru_cache(maxsize=None)
def listing(count):
    """The listing for |count| items, from a generator independent of the
    program's own: every ordering of 1..count, then the summary line."""
    lines = [",".join(map(str, p)).encode()
             for p in itertools.permutations(range(1, count + 1))]
    return EOL.join(lines) + EOL + b"sum=%d" % len(lines) + EOL


def message(texts, locale):
    """A failure message line as the program writes it to a pipe or a file
    under |locale|."""
    utf8 = not WINDOWS and re.search(r"\.utf-?8(@|$)", locale, re.I)
    return texts["utf8" if utf8 else "big5"] + LISTING_PATH + EOL


# Bounds on one run, so that a program that never stops prompting fails its
# test instead of filling the disk: twice the largest listing's console text.
OUTPUT_LIMIT = 160 << 20
TIME_LIMIT = 600

# The signals that end a run where a test sends them.
ENDING_SIGNALS = (signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM)

# On POSIX hosts every run finds this stand-in for the command processor's
# "pause" first on its PATH.  Each call appends a line to $PAUSE_RECORD: the
# listing's size at that moment, the signals it starts ignoring, and the
# status flags of the standard input it inherits.
PAUSE = r"""#!/bin/sh
printf 'listing=%s sigign=%s stdin=%s\n' "$(stat -L -c %s ../Tessivolark_.txt)" \
  "$(awk '/^SigIgn:/ { print $2 }' /proc/$$/status)" \
  "$(awk '/^flags:/ { print $2 }' /proc/$$/fdinfo/0)" >>"$PAUSE_RECORD"
"""

STAND_IN = None
if not WINDOWS and not OPTIONS.list_groups:
    STAND_IN = tempfile.mkdtemp()
    atexit.register(shutil.rmtree, STAND_IN)
    os.chmod(STAND_IN, 0o755)  # for a run as another user
    with open(os.path.join(STAND_IN, "pause"), "w") as f:
        f.write(PAUSE)
    os.chmod(f.name, 0o755)


def fed(stdin):
    """A |spawn| for Run: |stdin|, bytes or a descriptor, is the program's
    standard input, and its console goes to a file."""
    def spawn(command, **options):
        feed = dict(stdin=stdin) if isinstance(stdin, int) else dict(input=stdin)
        with tempfile.TemporaryFile() as stdout:
            status = subprocess.run(command, stdout=stdout, timeout=TIME_LIMIT,
                                    **feed, **options).returncode
            stdout.seek(0)
            return stdout.read(), status
    return spawn


def piped(stdin, read=lambda pipe: pipe.read()):
    """A |spawn| for Run: |stdin| is fed through a pipe, and the console goes
    to a pipe, of which read(pipe) takes what it wants (all of it, unless
    told) before it is closed.  A program still running after TIME_LIMIT is
    killed, which ends the read."""
    def spawn(command, **options):
        with subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              bufsize=0, **options) as child:
            try:
                child.stdin.write(stdin)
            except BrokenPipeError:
                pass  # the program did not wait for its input
            child.stdin.close()
            console = []
            reader = threading.Thread(target=lambda: console.append(read(child.stdout)))
            reader.start()
            reader.join(TIME_LIMIT)
            if reader.is_alive():
                child.kill()
                reader.join()
            child.stdout.close()
            return console[0], child.wait()
    return spawn


class Run:
    """One run of the program in a throw-away folder, |parent|/work, whose
    parent receives the listing.  Its results: the console text (stdout),
    standard error, the listing (file, None if there is no such file), the
    exit status and, on POSIX hosts, the stand-in pause's calls (pauses, a
    dict of its fields for each).

    |spawn|(command, **options) starts the program with the keyword arguments
    for subprocess.Popen that it is given and its own standard input and
    output, and returns (console text, exit status); fed(|stdin|) by default.
    |prepare|(listing path) may set up the listing's place before the run,
    |start| runs in the child just before the program, and |wrapper| is a
    command that runs the program."""

    def __init__(self, stdin=b"", spawn=None, prepare=None, start=None, locale="C", env=None,
                 wrapper=()):
        def before_exec():
            resource.setrlimit(resource.RLIMIT_FSIZE, (OUTPUT_LIMIT, OUTPUT_LIMIT))
            # The signals that end a run act as they do by default, whatever
            # the test's own parent had it ignore (a background job ignores
            # SIGINT).
            for number in ENDING_SIGNALS:
                signal.signal(number, signal.SIG_DFL)
            if start:
                start()

        with tempfile.TemporaryDirectory() as parent:
            work = os.path.join(parent, "work")
            os.mkdir(work)
            path = os.path.join(parent, LISTING_NAME)
            record = os.path.join(parent, "pauses")
            if prepare:
                prepare(path)
            env = dict(os.environ, LC_ALL=locale, **(env or {}))
            if STAND_IN:
                env.update(PATH=STAND_IN + os.pathsep + env["PATH"], PAUSE_RECORD=record)
            with tempfile.TemporaryFile() as stderr:
                self.stdout, self.status = (spawn or fed(stdin))(
                    [*wrapper, *PROGRAM], cwd=work, env=env, preexec_fn=before_exec,
                    stderr=stderr)
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
            self.assertTrue(pause, note or "no pause prompt")
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


# The exit status of a run whose every test was skipped, which CTest reports
# as a skipped test rather than a passed one.
ALL_SKIPPED = 77


def main():
    """Runs the calling script's tests, or lists its groups."""
    if OPTIONS.list_groups:
        suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules["__main__"])
        for group in suite:
            for test in group:
                print(type(test).__name__)
                break
        return
    result = unittest.main(verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(ALL_SKIPPED if result.testsRun == len(result.skipped) else 0)
