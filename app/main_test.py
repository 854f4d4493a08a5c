#!/usr/bin/env python3
"""Tests of the whole program's driver: the count it reads, the listing it
writes and the write calls that carry each line.  Usage: see harness.py."""

import os
import random
import re
import shutil
import tempfile
import unittest

from harness import (EOL, LISTING_PATH, OPEN_FAILED, OPTIONS, POSIX_ONLY, PROMPT, WINDOWS,
                     WRITE_FAILED, ProgramCase, Run, listing, main, message)


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


if __name__ == "__main__":
    main()
