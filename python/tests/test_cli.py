"""python -m dorvex against the program."""

from __future__ import annotations

import json
import subprocess
import sys

import pytest

from conftest import DATA


def run_module(args, stdin: bytes | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "dorvex", *map(str, args)], input=stdin,
                          capture_output=True, timeout=120)


CASES = [
    ["-w"],
    [],
    ["-m", "40"],
    ["-d", "cp1251", "-w"],
    ["-d", "koi8-r", "-x"],
    ["-w", "--max-chars", "25"],
]


@pytest.mark.parametrize("flags", CASES, ids=" ".join)
def test_text_messages_and_status_as_the_program(flags, run_program, generated):
    files = [DATA / "good" / "lo_letter.rtf", DATA / "good" / "word97_cyrillic.doc",
             generated["word97-16bit.doc"], DATA / "good" / "lo_xdoc.odt",
             DATA / "good" / "xdoc_encrypted.odt"]
    target = [] if "-d" in flags else ["-d", "utf-8"]
    for chosen in (files, files[:-1], files[-1:]):
        want = run_program([*target, *flags, *chosen])
        got = run_module([*flags, *chosen])
        assert got.stdout == want.stdout
        assert got.stderr == want.stderr
        assert got.returncode == want.returncode


def test_json_records_as_the_program(run_program, documents):
    files = documents[:60]
    want = run_program(["--json", "-w", *files])
    for workers in ("1", "3"):
        got = run_module(["--json", "-w", "-j", workers, *files])
        assert got.returncode == want.returncode == 0
        want_records = [json.loads(line) for line in want.stdout.decode().splitlines()]
        got_records = [json.loads(line) for line in got.stdout.decode().splitlines()]
        assert len(got_records) == len(want_records) == len(files)
        for g, w in zip(got_records, want_records):
            g.pop("ms"), w.pop("ms")
            assert g == w


def test_json_with_max_chars_says_truncated(run_program):
    path = DATA / "good" / "lo_letter.rtf"
    want = json.loads(run_program(["--json", "--max-chars", "10", path]).stdout)
    got = json.loads(run_module(["--json", "--max-chars", "10", path]).stdout)
    assert got["truncated"] is want["truncated"] is True
    assert got["text"] == want["text"]


def test_standard_input(run_program):
    data = (DATA / "good" / "word97_letter.doc").read_bytes()
    want = run_program(["-d", "utf-8", "-"], stdin=data)
    got = run_module(["-"], stdin=data)
    assert (got.stdout, got.returncode) == (want.stdout, want.returncode)


@pytest.mark.parametrize("args", [["-d", "no-such-charset", "x"], ["--json", "-d", "cp1251", "x"],
                                  ["-m", "600", "x"]])
def test_bad_options_fail_with_a_message(args):
    r = run_module(args)
    assert r.returncode == 1 and r.stderr.startswith(b"dorvex: ") and not r.stdout
