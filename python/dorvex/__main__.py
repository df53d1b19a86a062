"""python -m dorvex [options] FILE...: the text of documents, as the dorvex program writes it.

Each document's text goes to standard output and its messages to standard error; the exit
status is the last document's. --json writes one JSON record per document instead (the keys of
the program's records) and exits with 0. "-" reads standard input.
"""

from __future__ import annotations

import argparse
import json
import sys
import time
from typing import Sequence

from . import Document, Extractor, __version__


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="python -m dorvex",
                                description="The readable text of word-processor documents.")
    p.add_argument("files", nargs="+", metavar="FILE", help='documents ("-": standard input)')
    p.add_argument("-d", dest="target", default="utf-8", help="target charset (default utf-8)")
    p.add_argument("-s", dest="source_charset", help="source charset of 8-bit text")
    p.add_argument("-m", dest="wrap", type=int, default=72, help="wrap margin (default 72)")
    p.add_argument("-w", dest="wrap", action="store_const", const=0, help="no wrapping")
    p.add_argument("-f", dest="format", default="ascii", help="output format (default ascii)")
    p.add_argument("-x", dest="hex_unknown", action="store_true",
                   help="unknown characters as \\xHHHH")
    p.add_argument("-b", dest="raw", action="store_true", help="raw Word text, no detection")
    p.add_argument("-u", dest="unicode", action="store_const", const=True, help="16-bit text")
    p.add_argument("-8", dest="unicode", action="store_const", const=False, help="8-bit text")
    p.add_argument("-v", dest="verbose", action="store_true", help="the Word header's facts")
    p.add_argument("--max-chars", type=int, help="stop each document after N characters")
    p.add_argument("--json", action="store_true", help="one JSON record per document")
    p.add_argument("-j", dest="workers", type=int, default=1,
                   help="documents read at once (0: one per core)")
    p.add_argument("-V", "--version", action="version", version=f"dorvex {__version__}")
    return p


def _record(doc: Document, path: str, size: int, ms: float, with_limit: bool) -> str:
    record: dict[str, object] = {
        "path": path, "format": doc.format, "status": doc.status, "error": doc.error,
        "text": doc.text, "messages": list(doc.messages), "bytes": size, "ms": round(ms, 3),
    }
    if with_limit:
        record["truncated"] = doc.truncated
    if doc.metadata:
        record["metadata"] = doc.metadata
    return json.dumps(record, ensure_ascii=False, separators=(",", ":"))


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    if args.json and args.target.lower().replace("_", "-") not in ("utf-8", "utf8"):
        print("dorvex: --json writes UTF-8: -d cannot name another charset", file=sys.stderr)
        return 1
    try:
        extractor = Extractor(
            source_charset=args.source_charset, force_source=args.source_charset is not None,
            target=args.target, wrap=args.wrap,
            format=args.format, raw=args.raw, unicode=args.unicode,
            hex_unknown=args.hex_unknown, max_chars=args.max_chars, verbose=args.verbose)
    except ValueError as e:
        print(f"dorvex: {e}", file=sys.stderr)
        return 1
    stdin_data: bytes | None = None

    def source(name: str) -> object:
        nonlocal stdin_data
        if name != "-":
            return name
        if stdin_data is None:
            stdin_data = sys.stdin.buffer.read()
        return stdin_data

    started: list[float] = []

    def timed_sources():
        for name in args.files:
            started.append(time.perf_counter())
            yield source(name)

    out = sys.stdout.buffer
    status = 0
    workers = args.workers if args.workers > 0 else None
    try:
        for i, doc in enumerate(extractor.map(timed_sources(), workers=workers)):
            name = args.files[i]
            if args.json:
                size = len(stdin_data or b"") if name == "-" else _size(name)
                ms = (time.perf_counter() - started[i]) * 1000
                out.write(_record(doc, name, size, ms, args.max_chars is not None).encode())
                out.write(b"\n")
            else:
                out.write(doc.data)
                out.flush()
                for message in doc.messages:
                    print(message, file=sys.stderr)
                status = doc.status
        out.flush()
    except BrokenPipeError:
        print("dorvex: stdout: Broken pipe", file=sys.stderr)
        return 1
    return 0 if args.json else status


def _size(path: str) -> int:
    import os

    try:
        return os.stat(path).st_size
    except OSError:
        return 0


if __name__ == "__main__":
    sys.exit(main())
