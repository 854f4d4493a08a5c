#!/usr/bin/env python3
"""Tests of the whole program: the real executable, fed on standard input,
run in a throw-away folder whose parent receives the listing file.

Usage: main_test.py PROGRAM [unittest arguments]
"""

import itertools
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

PROGRAM = None  # set from the command line

PROMPT = b"Input N(1-10) : "
LISTING_NAME = "Tessivolark_.txt"
LISTING_PATH = b"../" + LISTING_NAME.encode()
OPEN_FAILED = {"big5": bytes.fromhex("b67dc0c9a5a2b1d13a20"),
               "utf8": "開檔失敗: ".encode()}
WRITE_FAILED = {"big5": bytes.fromhex("bc67c0c9a5a2b1d13a20"),
                "utf8": "寫檔失敗: ".encode()}


def listing(count):
    """The listing for |count| items, from a generator independent of the
    program's own: every ordering of 1..count, then the summary line."""
    lines = [",".join(map(str, p)).encode()
             for p in itertools.permutations(range(1, count + 1))]
    return b"\n".join(lines) + b"\nsum=%d\n" % len(lines)


class Run:
    """One run of the program; |prepare| may set up the listing's place."""

    def __init__(self, stdin, locale="C", prepare=None):
        with tempfile.TemporaryDirectory() as parent:
            work = os.path.join(parent, "work")
            os.mkdir(work)
            path = os.path.join(parent, LISTING_NAME)
            if prepare:
                prepare(path)
            env = dict(os.environ, LC_ALL=locale)
            result = subprocess.run([PROGRAM], input=stdin, cwd=work, env=env,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    timeout=120)
            self.stdout = result.stdout
            self.status = result.returncode
            self.file = None
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    self.file = f.read()


class CountTest(unittest.TestCase):
    def test_console_and_listing_for_valid_input(self):
        cases = [
            (b"1\n", 1, 1),
            (b"3\n", 1, 3),
            (b"5", 1, 5),                # no final newline
            (b"0\n11\n3\n", 3, 3),       # out of range, one per line
            (b"0 11 3\n", 3, 3),         # several on one line: prompts run together
            (b"-1\n2147483647\n2\n", 3, 2),
            (b"03\n", 1, 3),
            (b"+3\n", 1, 3),
            (b"  \t\n\n 2 \n", 1, 2),
        ]
        for stdin, prompts, count in cases:
            with self.subTest(stdin=stdin):
                run = Run(stdin)
                self.assertEqual(run.stdout, PROMPT * prompts + listing(count))
                self.assertEqual(run.file, listing(count))
                self.assertEqual(run.status, 0)

    def test_largest_count(self):
        run = Run(b"10\n")
        expected = listing(10)
        self.assertTrue(run.stdout == PROMPT + expected, "console differs")
        self.assertTrue(run.file == expected, "listing differs")
        self.assertTrue(expected.endswith(b"\n10,9,8,7,6,5,4,3,2,1\nsum=3628800\n"))
        self.assertEqual(run.status, 0)


class BadInputTest(unittest.TestCase):
    def test_unreadable_tokens_are_skipped(self):
        cases = [
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
                run = Run(stdin)
                self.assertEqual(run.stdout, PROMPT * prompts + listing(count))
                self.assertEqual(run.file, listing(count))
                self.assertEqual(run.status, 0)

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
                run = Run(stdin)
                self.assertEqual(run.stdout, PROMPT * prompts + b"\n")
                self.assertEqual(run.file, b"")
                self.assertEqual(run.status, 0)


class ListingFileTest(unittest.TestCase):
    def test_an_earlier_listing_is_replaced(self):
        def write_old(path):
            with open(path, "wb") as f:
                f.write(listing(5))

        run = Run(b"2\n", prepare=write_old)
        self.assertEqual(run.file, listing(2))
        self.assertEqual(run.status, 0)

    def test_listing_that_cannot_be_opened(self):
        for locale, encoding in [("C", "big5"), ("C.UTF-8", "utf8")]:
            with self.subTest(locale=locale):
                run = Run(b"3\n", locale=locale, prepare=os.mkdir)
                self.assertEqual(run.stdout, OPEN_FAILED[encoding] + LISTING_PATH + b"\n")
                self.assertEqual(run.status, 0)

    def test_listing_that_cannot_be_written(self):
        for locale, encoding in [("C", "big5"), ("en_US.UTF-8", "utf8")]:
            with self.subTest(locale=locale):
                run = Run(b"3\n", locale=locale,
                          prepare=lambda path: os.symlink("/dev/full", path))
                self.assertEqual(run.stdout, PROMPT + listing(3) +
                                 WRITE_FAILED[encoding] + LISTING_PATH + b"\n")
                self.assertEqual(run.status, 0)


@unittest.skipUnless(shutil.which("strace"), "needs strace")
class FlushContractTest(unittest.TestCase):
    """Every line reaches each file in one write of its own as soon as it is
    complete: the listing's copy first, then the console's."""

    CALL = re.compile(rb"^(\w+)\((.*)\) += (-?\d+)", re.M)
    STRING = re.compile(rb'"((?:\\x[0-9a-f]{2})*)"')  # strace -xx: every byte as \xNN

    def strings(self, args):
        return [bytes.fromhex(s.replace(b"\\x", b"").decode()) for s in self.STRING.findall(args)]

    def traced_writes(self, stdin):
        """The program's own output calls (not those of the pause command's
        shell), as (file, call, bytes)."""
        with tempfile.TemporaryDirectory() as parent:
            work = os.path.join(parent, "work")
            os.mkdir(work)
            trace = os.path.join(parent, "trace")
            subprocess.run(["strace", "-o", trace, "-xx", "-s", "4096", "-e", "signal=none",
                            "-e", "trace=openat,write,writev,pwrite64,pwritev", PROGRAM],
                           input=stdin, cwd=work, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True, timeout=60)
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
            writes.append((files.get(fd, "fd " + fd.decode()), name.decode(),
                           b"".join(self.strings(args))))
        return writes

    def test_each_line_is_one_write_per_file_listing_first(self):
        expected = [("stdout", "write", PROMPT)]
        lines = listing(4).splitlines(keepends=True)
        for line in lines[:-1]:
            expected += [("listing", "write", line), ("stdout", "write", line)]
        expected += [("stdout", "write", lines[-1]), ("listing", "write", lines[-1])]
        self.assertEqual(self.traced_writes(b"4\n"), expected)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
