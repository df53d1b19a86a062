"""dorvex.extract and Extractor against the program, every source kind, errors and options."""

from __future__ import annotations

import io
import mmap
import re
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import dorvex

from conftest import DATA, ROOT, fixture_documents


def test_package_runs_the_installed_library():
    package = Path(dorvex.__file__).parent
    assert (package / "libdorvex.so").is_file()
    assert (package / "py.typed").is_file()
    assert (package / "charsets" / "cp1252.txt").is_file()
    assert ROOT / "python" not in package.parents, "testing the checkout, not an installation"


def test_version_is_the_library_and_program_version(run_program):
    assert dorvex.__version__.count(".") == 2
    cmake = (ROOT / "CMakeLists.txt").read_text()
    assert f"project(dorvex VERSION {dorvex.__version__} " in cmake
    assert dorvex.__version__ in run_program(["-V"]).stdout.decode()


def test_every_document_gives_the_program_text_status_and_messages(documents, program_output):
    mismatched = []
    for path in documents:
        doc = dorvex.extract(path, errors="return")
        stdout, status, messages = program_output(path)
        if (doc.data, doc.status, doc.messages) != (stdout, status, messages):
            mismatched.append(path.name)
        assert doc.text == stdout.decode("utf-8"), path
        assert doc.path == str(path)
    assert not mismatched


def test_format_error_and_metadata_match_the_program_records(documents, program_records):
    for path in documents:
        doc = dorvex.extract(path, errors="return")
        record = program_records[path]
        assert (doc.format, doc.error, doc.status) == (
            record["format"], record["error"], record["status"]), path
        assert doc.metadata == record.get("metadata", {}), path
        assert doc.text == record["text"], path


def test_metadata_comes_from_the_document(generated):
    rtf = dorvex.extract(generated["info.rtf"])
    assert rtf.format == "rtf"
    assert rtf.metadata and set(rtf.metadata) <= {
        "title", "subject", "author", "keywords", "created", "modified"}
    assert dorvex.extract(DATA / "good" / "lo_letter.rtf").metadata["title"] == "Letter"
    plain = dorvex.extract(b"no metadata here\n")
    assert plain.metadata == {}


# Every way to hand over a document gives the same Document.
def _sources(path: Path):
    data = path.read_bytes()
    yield "str path", str(path)
    yield "Path", path
    yield "bytes", data
    yield "bytearray", bytearray(data)
    yield "memoryview", memoryview(data)
    yield "memoryview slice", memoryview(b"xx" + data + b"yy")[2:-2]
    yield "file object", open(path, "rb")
    yield "BytesIO", io.BytesIO(data)


@pytest.mark.parametrize("path", fixture_documents(), ids=lambda p: p.name)
def test_sources_of_every_kind_give_the_same_text(path):
    want = dorvex.extract(path, errors="return")
    for kind, source in _sources(path):
        got = dorvex.extract(source, errors="return")
        assert (got.data, got.format, got.status, got.error, got.metadata) == (
            want.data, want.format, want.status, want.error, want.metadata), kind
        if hasattr(source, "close"):
            source.close()


def test_memory_is_read_in_place_from_a_read_only_map(tmp_path):
    path = DATA / "good" / "word97_letter.doc"
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
        doc = dorvex.extract(m)
    assert doc.data == dorvex.extract(path).data and doc.format == "word"


def test_file_object_is_read_from_its_position():
    data = (DATA / "good" / "lo_letter.rtf").read_bytes()
    f = io.BytesIO(b"JUNK" + data)
    f.seek(4)
    assert dorvex.extract(f).data == dorvex.extract(data).data


def test_names_a_document_in_messages_and_path():
    doc = dorvex.extract(b"", name="empty.txt")
    assert doc.path == "empty.txt"
    assert dorvex.extract(b"").path is None
    with open(DATA / "good" / "lo_letter.rtf", "rb") as f:
        assert dorvex.extract(f).path == f.name


@pytest.mark.parametrize("source", [42, 1.5, None, ["a.doc"], io.StringIO("text")],
                         ids=lambda s: type(s).__name__)
def test_a_source_of_the_wrong_kind_is_a_type_error(source):
    with pytest.raises(TypeError):
        dorvex.extract(source)


# Each error class: a document that shows it, and what the exception carries.
def _error_cases(generated, tmp_path):
    return [
        (dorvex.EncryptedDocument, "encrypted", 69, DATA / "good" / "xdoc_encrypted.odt"),
        (dorvex.EncryptedDocument, "encrypted", 69, generated["encrypted.doc"]),
        (dorvex.UnsupportedFormat, "unsupported", 69, DATA / "good" / "xdoc_spreadsheet.ods"),
        (dorvex.UnsupportedFormat, "unsupported", 69, generated["book.xls"]),
        (dorvex.DamagedDocument, "damaged", 1, DATA / "bad" / "ole_fatal_end_in_stream.doc"),
        (dorvex.ReadError, "read", 1, tmp_path / "missing.doc"),
        (dorvex.ReadError, "read", 1, tmp_path),
    ]


def test_each_error_class_raises_its_exception(generated, tmp_path, program_output):
    for cls, name, status, path in _error_cases(generated, tmp_path):
        with pytest.raises(cls) as caught:
            dorvex.extract(path)
        e = caught.value
        assert isinstance(e, dorvex.Error) and type(e) is cls, path
        assert (e.path, e.status, e.error_name) == (str(path), status, name)
        assert isinstance(e.document, dorvex.Document) and e.document.error == name
        assert e.document.messages and str(e), path
        assert program_output(path)[1] == status, path
        returned = dorvex.extract(path, errors="return")
        assert (returned.error, returned.status, returned.messages) == (
            name, status, e.document.messages)


def test_a_damaged_document_keeps_its_text_so_far(generated, tmp_path):
    # A Word document cut inside its text: the container is whole, the stream is not.
    whole = generated["word97-8bit.doc"].read_bytes()
    good = dorvex.extract(whole)
    damaged = []
    for cut in range(512, len(whole), 512):
        doc = dorvex.extract(whole[:cut], errors="return")
        if doc.error == "damaged":
            damaged.append(doc)
            with pytest.raises(dorvex.DamagedDocument) as caught:
                dorvex.extract(whole[:cut])
            assert caught.value.document.data == doc.data
            assert good.data.startswith(doc.data.rstrip(b"\n")[:20])
    assert damaged, "no cut gave a damaged document"


def test_the_limit_class_has_its_exception():
    # The library's error class 5; a document of the class carries its Document as the others.
    doc = dorvex.Document(text="", format="docx", status=1, error="limit",
                          messages=("ZIP package beyond limits",), truncated=False,
                          metadata={}, path="bomb.docx")
    e = dorvex._error_for(doc)
    assert type(e) is dorvex.LimitExceeded and isinstance(e, dorvex.Error)
    assert (e.path, e.status, e.document) == ("bomb.docx", 1, doc)
    assert "bomb.docx" in str(e) and "beyond limits" in str(e)
    assert dorvex._native.ERROR_NAMES[5] == "limit"


@pytest.mark.parametrize("kind", ["zipbomb", "deep"])
def test_a_reader_limit_raises_limit_exceeded(kind, tmp_path):
    path = tmp_path / f"{kind}.docx"
    subprocess.run([sys.executable, str(ROOT / "tools" / "mkxdoc.py"), kind, str(path)],
                   check=True, capture_output=True)
    with pytest.raises(dorvex.LimitExceeded) as caught:
        dorvex.extract(path)
    assert caught.value.path == str(path) and caught.value.status == 1
    assert dorvex.extract(path, errors="return").error == "limit"


def test_every_error_class_of_the_header_has_an_exception():
    header = (ROOT / "include" / "dorvex.h").read_text()
    codes = dict(re.findall(r"DORVEX_ERROR_([A-Z]+) = (\d+)", header))
    codes.pop("NONE")
    assert {int(v): k.lower() for k, v in codes.items()} == dorvex._native.ERROR_NAMES
    for name in codes:
        assert dorvex._ERROR_CLASSES[name.lower()].error_name == name.lower()


@pytest.mark.parametrize("options, message", [
    ({"target": "no-such-charset"}, "no-such-charset"),
    ({"source_charset": "klingon"}, "klingon"),
    ({"format": "no-such-format"}, "no-such-format"),
    ({"wrap": -1}, "wrap"),
    ({"wrap": 600}, "margin"),
    ({"wrap": "72"}, "wrap"),
    ({"max_chars": 0}, "max_chars"),
    ({"max_chars": -5}, "max_chars"),
    ({"unicode": "yes"}, "unicode"),
    ({"raw": 1}, "raw"),
    ({"target": ""}, "target"),
    ({"force_source": True}, "force_source"),
], ids=lambda v: str(v))
def test_a_bad_option_is_a_value_error_at_once(options, message):
    with pytest.raises(ValueError, match=message):
        dorvex.Extractor(**options)
    with pytest.raises(ValueError):
        dorvex.extract(b"text", **options)


def test_bad_call_arguments():
    with pytest.raises(ValueError):
        dorvex.extract(b"x", errors="ignore")
    with pytest.raises(TypeError):
        dorvex.Extractor(margin=3)
    x = dorvex.Extractor()
    x.close()
    with pytest.raises(ValueError, match="closed"):
        x.extract(b"x")


# Options against the program's flags, on documents of several formats.
OPTION_CASES = [
    ({}, ["-d", "utf-8", "-w"]),
    ({"wrap": 72}, ["-d", "utf-8"]),
    ({"wrap": 30}, ["-d", "utf-8", "-m", "30"]),
    ({"target": "cp1251"}, ["-d", "cp1251", "-w"]),
    ({"target": "koi8-r", "hex_unknown": True}, ["-d", "koi8-r", "-x", "-w"]),
    ({"target": "8859-7"}, ["-d", "8859-7", "-w"]),
    ({"source_charset": "cp1251"}, ["-d", "utf-8", "-s", "cp1251", "-w"]),
    ({"source_charset": "cp1251", "force_source": True}, ["-d", "utf-8", "-s", "cp1251", "-w"]),
    ({"max_chars": 40}, ["-d", "utf-8", "-w", "--max-chars", "40"]),
    ({"raw": True}, ["-d", "utf-8", "-w", "-b"]),
    ({"unicode": True}, ["-d", "utf-8", "-w", "-u"]),
    ({"unicode": False}, ["-d", "utf-8", "-w", "-8"]),
    ({"verbose": True}, ["-d", "utf-8", "-w", "-v"]),
]
OPTION_DOCUMENTS = ["word97_cyrillic.doc", "lo_letter.rtf", "rtf_fonts.rtf", "lo_xdoc.docx",
                    "rtf_fonts.txt"]


@pytest.mark.parametrize("options, flags", OPTION_CASES, ids=lambda v: str(v))
def test_options_give_what_the_flags_give(options, flags, program_output, generated):
    paths = [DATA / "good" / n for n in OPTION_DOCUMENTS] + [
        generated["word97-16bit.doc"], generated["text-cp1252.txt"]]
    x = dorvex.Extractor(**options)
    for path in paths:
        if "source_charset" in options and not options.get("force_source") and (
                path.suffix == ".rtf" or path.name == "rtf_fonts.txt"):
            continue  # documents that choose their charset themselves, unless forced as by -s
        stdout, status, messages = program_output(path, tuple(flags))
        doc = x.extract(path, errors="return")
        assert (doc.data, doc.status, doc.messages) == (stdout, status, messages), path
        if "max_chars" in options:
            assert len(doc.text) <= options["max_chars"] + doc.text.count("\n") + 1
        if options.get("target") == "cp1251":
            assert doc.text == stdout.decode("cp1251")
        if options.get("target") == "8859-7":
            assert doc.text == stdout.decode("iso8859-7")


def test_max_chars_says_truncated():
    x = dorvex.Extractor(max_chars=10)
    short = x.extract(b"tiny\n")
    long = x.extract(b"a long text of many characters\n" * 10)
    assert not short.truncated and long.truncated
    assert len(long.text.replace("\n", "")) <= 10


def test_extract_keeps_few_extractors_for_its_option_sets():
    before = dict(dorvex._extractors)
    for margin in range(20, 40):
        dorvex.extract(b"word " * 20, wrap=margin)
    assert len(dorvex._extractors) <= dorvex._KEPT_EXTRACTORS
    a = dorvex._shared_extractor({"wrap": 33})
    assert dorvex._shared_extractor({"wrap": 33}) is a
    del before


# Threads.
def test_threads_give_what_one_thread_gives(documents):
    inputs = [p.read_bytes() for p in documents if p.is_file()] * 3
    x = dorvex.Extractor()
    alone = [x.extract(d, errors="return") for d in inputs]
    for workers in (2, 4, 8):
        assert list(x.map(inputs, workers=workers)) == alone, workers


def test_one_extractor_on_many_raw_threads(documents):
    inputs = [p.read_bytes() for p in documents[:40] if p.is_file()]
    x = dorvex.Extractor(wrap=60)
    want = [x.extract(d, errors="return").data for d in inputs]
    failures = []

    def work(offset):
        for i in range(len(inputs)):
            j = (i + offset) % len(inputs)
            if x.extract(inputs[j], errors="return").data != want[j]:
                failures.append(j)

    threads = [threading.Thread(target=work, args=(k * 7,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures


def test_map_never_raises_and_keeps_order(generated, tmp_path):
    sources = [DATA / "good" / "lo_letter.rtf", tmp_path / "missing.doc", 42,
               generated["encrypted.doc"], b"plain text\n", DATA / "bad" / "ole_fatal_end_in_stream.doc",
               io.StringIO("text mode")]
    for workers in (1, 3):
        docs = list(dorvex.Extractor().map(sources, workers=workers))
        assert [d.error for d in docs] == [
            None, "read", "read", "encrypted", None, "damaged", "read"]
        assert docs[0].format == "rtf" and docs[4].text == "plain text\n"
        assert docs[1].path == str(tmp_path / "missing.doc")


def test_map_is_lazy_and_takes_generators():
    produced = []

    def sources():
        for i in range(1000):
            produced.append(i)
            yield f"line {i}\n".encode()

    it = dorvex.Extractor().map(sources(), workers=2)
    first = next(it)
    assert first.text == "line 0\n"
    assert len(produced) <= 2 * 4 + 2
    assert sum(1 for _ in it) == 999


@pytest.mark.parametrize("workers", [0, -1, 1.5, True])
def test_map_refuses_a_bad_worker_count(workers):
    with pytest.raises(ValueError):
        list(dorvex.Extractor().map([b"x"], workers=workers))


def test_the_gil_is_released_while_the_library_reads():
    # A thread that counts runs on while the main thread is inside the library. With the GIL
    # held through the call it could not run at all: the switch interval is longer than the
    # call, so nothing else takes the GIL from the main thread between its two readings.
    data = b"{\\rtf1\\ansi " + b"caf\\'e9 na\\u239?ve {\\b bold} words\\par " * 150000 + b"}"
    x = dorvex.Extractor()
    stop = threading.Event()
    ticks = [0]

    def count():
        while not stop.is_set():
            ticks[0] += 1

    interval = sys.getswitchinterval()
    sys.setswitchinterval(0.5)
    counter = threading.Thread(target=count)
    counter.start()
    try:
        time.sleep(0.05)
        with dorvex._native.HeldBuffer(data) as held:
            before = ticks[0]
            result = dorvex._native.lib.dorvex_extract_memory(x._handle, held.address, held.size,
                                                              None)
            during = ticks[0] - before
        dorvex._native.lib.dorvex_result_free(result)
    finally:
        stop.set()
        counter.join()
        sys.setswitchinterval(interval)
    assert during > 1000


def test_every_public_name_has_a_docstring():
    import dorvex.dask

    names = [getattr(dorvex, n) for n in dorvex.__all__ if n not in ("Source", "__version__")]
    names += [getattr(dorvex.Extractor, n) for n in ("extract", "map", "close")]
    names += [dorvex.Document.data, dorvex.dask.extract, dorvex.dask.records,
              dorvex.dask.to_dataframe, dorvex, dorvex.dask]
    assert all((getattr(o, "__doc__", "") or "").strip() for o in names)
