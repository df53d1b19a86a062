"""Shared fixtures: the documents to read and what the dorvex program makes of them.

The package under test is the one installed in the interpreter running pytest (a virtual
environment, see the project's README). Environment:
  DORVEX_PROGRAM    the dorvex program to compare with (default: the first of build/package,
                    build/dev, build/release)
  DORVEX_MKFIXTURE  the fixture generator (default: build/dev/tests/mkfixture, else compiled here)
  DORVEX_CORPUS     real documents to read as well (default ../shared/corpus from the checkout;
                    "" for none)
  DORVEX_WHEEL      the wheel test_wheel installs (default: one it builds with pip wheel)
  DORVEX_PREBUILT_LIBRARY  for that build: a libdorvex.so to take instead of building one
"""

from __future__ import annotations

import functools
import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"


def _first_existing(*candidates: Path) -> Path | None:
    return next((c for c in candidates if c.is_file() and os.access(c, os.X_OK)), None)


def program_path() -> Path | None:
    if os.environ.get("DORVEX_PROGRAM"):
        return Path(os.environ["DORVEX_PROGRAM"])
    return _first_existing(*(ROOT / "build" / b / "dorvex" for b in ("package", "dev", "release")))


def corpus_files() -> list[Path]:
    where = os.environ.get("DORVEX_CORPUS")
    corpus = Path(where) if where else ROOT.parent / "shared" / "corpus"
    if where == "" or not corpus.is_dir():
        return []
    return sorted(p for p in corpus.rglob("*")
                  if p.is_file() and p.name not in ("MANIFEST.tsv", "README.md"))


@pytest.fixture(scope="session")
def program() -> Path:
    path = program_path()
    if path is None:
        pytest.skip("no dorvex program built (set DORVEX_PROGRAM)")
    return path


@pytest.fixture(scope="session")
def run_program(program, tmp_path_factory):
    """Runs the program as a user would, without configuration files, in an English locale
    (whose source charset, cp1252, is the library's default)."""
    home = tmp_path_factory.mktemp("home")

    def run(args, stdin: bytes | None = None) -> subprocess.CompletedProcess:
        return subprocess.run([str(program), *map(str, args)], input=stdin, capture_output=True,
                              env={"HOME": str(home), "LC_ALL": "en_US.UTF-8", "PATH": os.defpath},
                              timeout=120)

    return run


@pytest.fixture(scope="session")
def program_output(run_program):
    """The program's stdout, status and stderr lines for one file and option list, cached."""

    @functools.lru_cache(maxsize=None)
    def output(path: Path, options: tuple[str, ...] = ("-d", "utf-8", "-w")):
        r = run_program([*options, path])
        return r.stdout, r.returncode, tuple(r.stderr.decode("utf-8", "replace").splitlines())

    return output


@pytest.fixture(scope="session")
def mkfixture(tmp_path_factory) -> Path:
    given = os.environ.get("DORVEX_MKFIXTURE")
    if given:
        return Path(given)
    built = ROOT / "build" / "dev" / "tests" / "mkfixture"
    if built.is_file():
        return built
    compiler = shutil.which("c++") or shutil.which("g++")
    if not compiler:
        pytest.skip("no mkfixture and no C++ compiler")
    out = tmp_path_factory.mktemp("mkfixture") / "mkfixture"
    subprocess.run([compiler, "-std=c++20", "-O1", f"-I{ROOT / 'tests' / 'support'}",
                    str(ROOT / "tools" / "mkfixture.cpp"), "-o", str(out)], check=True)
    return out


# Paragraphs for the generated Word documents: accented Latin, Cyrillic, Greek, a long line that
# the margin wraps, and characters beyond 8 bits for the 16-bit variant.
WORD_TEXT = (
    "The first paragraph of a generated document.\n"
    "Caf\u00e9, na\u00efve, \u00c5ngstr\u00f6m and \u20ac5.\n"
    + "A long line of words that goes on and on, " * 6 + "to its end.\n"
    "\u0414\u043e\u0431\u0440\u044b\u0439 \u0434\u0435\u043d\u044c and "
    "\u03ba\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1.\n"
)


@pytest.fixture(scope="session")
def generated(mkfixture, tmp_path_factory) -> dict[str, Path]:
    """Documents made by the project's fixture generator, by name."""
    d = tmp_path_factory.mktemp("generated")
    utf8 = d / "text-utf8.txt"
    utf8.write_text(WORD_TEXT, encoding="utf-8")
    latin = d / "text-cp1252.txt"
    latin.write_bytes("".join(c for c in WORD_TEXT if ord(c) < 0x250 or c == "\u20ac")
                      .encode("cp1252", "replace"))
    made = {
        "word97-8bit.doc": ["word97", latin],
        "word97-16bit.doc": ["word97", utf8, "--16bit"],
        "word97-pieces.doc": ["word97", utf8, "--16bit", "--pieces=3", "--mixed"],
        "word6.doc": ["word6", latin],
        "wordplain.doc": ["wordplain", latin],
        "encrypted.doc": ["word97", latin, "--flags=0x0100"],
        "summary.bin": ["metadata", "cp1252"],
        "info.rtf": ["metadata", "rtf-info"],
    }
    out = {}
    for name, (kind, *args) in made.items():
        path = d / name
        subprocess.run([str(mkfixture), kind, str(path), *map(str, args)], check=True)
        out[name] = path
    # A compound file without a Word document: a spreadsheet's stream alone.
    book = d / "book.xls"
    subprocess.run([str(mkfixture), "ole", str(book), f"Workbook={latin}"], check=True)
    out["book.xls"] = book
    out["text-utf8.txt"] = utf8
    out["text-cp1252.txt"] = latin
    return out


def fixture_documents() -> list[Path]:
    return sorted(p for p in (DATA / "good").iterdir() if p.is_file() and p.suffix != ".md") + \
        sorted((DATA / "bad").iterdir())


@pytest.fixture(scope="session")
def documents(generated) -> list[Path]:
    """Every test document: the checked-in fixtures, the generated ones, and the corpus."""
    return fixture_documents() + sorted(generated.values()) + corpus_files()


@pytest.fixture(scope="session")
def program_records(run_program, documents):
    """The program's --json record of every document, by path, from one batch run."""
    listing = "".join(f"{p}\n" for p in documents).encode()
    r = run_program(["--json", "-w", "--files-from", "-"], stdin=listing)
    assert r.returncode == 0, r.stderr
    records = [json.loads(line) for line in r.stdout.decode().splitlines()]
    assert len(records) == len(documents)
    return {Path(rec["path"]): rec for rec in records}
