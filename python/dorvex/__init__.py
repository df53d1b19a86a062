"""The readable text of word-processor documents: Word (97 and later, 6/95, 2), Write, RTF,
plain and Unicode text, .docx and .odt, from memory, paths or file objects.

    >>> import dorvex
    >>> doc = dorvex.extract(open("letter.doc", "rb").read())
    >>> doc.text, doc.format
    ('Dear committee, ...', 'word')

:func:`extract` reads one document; an :class:`Extractor` keeps its charset tables loaded for
many, and its :meth:`Extractor.map` reads many on threads. A document that cannot be read raises
an :class:`Error` subclass, or comes back as a :class:`Document` whose ``error`` names what went
wrong (``errors="return"``). The text is what ``dorvex -d utf-8 -w FILE`` writes.
"""

from __future__ import annotations

import collections
import concurrent.futures
import ctypes
import dataclasses
import os
import threading
from typing import Any, BinaryIO, Iterable, Iterator, Literal, Mapping, Union

from . import _native
from ._native import ERROR_NAMES, lib

__all__ = [
    "Document",
    "Error",
    "EncryptedDocument",
    "UnsupportedFormat",
    "DamagedDocument",
    "ReadError",
    "LimitExceeded",
    "Extractor",
    "extract",
    "Source",
    "__version__",
]

#: The version of the C library the package runs on ("MAJOR.MINOR.PATCH").
__version__: str = _native.version()

#: What the functions read: bytes-like objects in place, paths, or binary file objects.
Source = Union[bytes, bytearray, memoryview, str, "os.PathLike[str]", "os.PathLike[bytes]", BinaryIO]

_METADATA_FIELDS = ("title", "subject", "author", "keywords", "created", "modified")


@dataclasses.dataclass(frozen=True)
class Document:
    """One document read, as the program would give it.

    Attributes:
        text: the text, decoded from the target charset (always exact for UTF-8; a charset Python
            has no codec for is decoded byte for byte, bytes above 127 as lone surrogates).
        data: the same text as the bytes the library wrote, in the target charset.
        format: the format found: "word", "word6", "word2", "write", "rtf", "docx", "odt",
            "text", "raw", or "" when none was.
        status: what the program would exit with for this document: 0, 1 or 69.
        error: None, or what went wrong: "encrypted", "unsupported", "damaged", "read", "limit".
        messages: what the program would write to standard error for it, one string a line.
        truncated: True when ``max_chars`` ended the reading.
        metadata: what the document states about itself (title, subject, author, keywords,
            created, modified: dates in ISO 8601); absent fields are absent.
        path: the document's path or name, None for anonymous bytes.
    """

    text: str
    format: str
    status: int
    error: str | None
    messages: tuple[str, ...]
    truncated: bool
    metadata: dict[str, str]
    path: str | None = None
    # The bytes of an 8-bit target; UTF-8 bytes are made from the text when asked for (exactly:
    # ill-formed bytes were decoded as lone surrogates), which spares a copy of every text.
    _bytes: bytes | None = dataclasses.field(default=None, repr=False, compare=False)

    @property
    def data(self) -> bytes:
        """The text as the library wrote it, in the target charset."""
        if self._bytes is None:
            object.__setattr__(self, "_bytes", self.text.encode("utf-8", "surrogateescape"))
        return self._bytes  # type: ignore[return-value]


class Error(Exception):
    """A document that could not be read, or not all of it.

    Attributes:
        path: the document's path or name, None for anonymous bytes.
        document: the :class:`Document` as far as it was read (a damaged document keeps the text
            before the damage).
        status: the status the program would exit with (1 or 69).
    """

    #: The library's name of the error class each subclass stands for.
    error_name: str = ""

    def __init__(self, document: Document) -> None:
        self.document = document
        self.path = document.path
        self.status = document.status
        reason = "; ".join(document.messages) or f"{document.error} document"
        super().__init__(reason if document.path is None or document.path in reason
                         else f"{document.path}: {reason}")


class EncryptedDocument(Error):
    """An encrypted document: password protection hides its text (status 69)."""

    error_name = "encrypted"


class UnsupportedFormat(Error):
    """Not a document dorvex reads: a spreadsheet, a presentation, an image... (status 69)."""

    error_name = "unsupported"


class DamagedDocument(Error):
    """A broken container, or a document that ends before its text (status 1); ``document``
    keeps the text read so far."""

    error_name = "damaged"


class ReadError(Error):
    """The input could not be opened or read: a missing file, a directory, an I/O error."""

    error_name = "read"


class LimitExceeded(Error):
    """A limit of a reader was reached (a ZIP bomb, nesting beyond reason)."""

    error_name = "limit"


_ERROR_CLASSES: dict[str, type[Error]] = {
    cls.error_name: cls
    for cls in (EncryptedDocument, UnsupportedFormat, DamagedDocument, ReadError, LimitExceeded)
}


def _error_for(document: Document) -> Error:
    """The exception that says what went wrong with a document."""
    return _ERROR_CLASSES.get(document.error or "", Error)(document)


def _codec_for(charset: str) -> str:
    """Python's codec for a dorvex charset name, or "" when Python has none."""
    import codecs

    for candidate in (charset, "iso" + charset if charset[:4] == "8859" else ""):
        if not candidate:
            continue
        try:
            return codecs.lookup(candidate).name
        except LookupError:
            pass
    return ""


def _text(raw: Any) -> str:
    return raw.decode("utf-8", "surrogateescape") if raw is not None else ""


class Extractor:
    """Settings and the tables they name, loaded once, for any number of documents.

    Extractions through one Extractor may run on many threads at once: the library keeps
    nothing of one document for the next, and the GIL is released while a document is read.

    Keyword arguments (all optional):
        source_charset: the charset of 8-bit text where a document names none (default cp1252).
        force_source: True: source_charset holds for every document, as the program's -s: RTF
            documents no longer switch code pages, plain text is not tried as UTF-8.
        target: the charset of the text (default "utf-8"; any charset name dorvex knows).
        wrap: the greatest line width; 0 (the default) wraps nothing, as the program's -w.
        format: the output format, whose maps turn special characters into text ("ascii").
        raw: read every input as raw Word text, with no format detection (the program's -b).
        unicode: None detects, True reads 16-bit text (-u), False 8-bit text (-8).
        hex_unknown: characters the target lacks as \\xHHHH (-x) instead of "?".
        max_chars: stop each document after this many characters of text.
        verbose: put the facts of a Word document's header in front of its text (-v).
        data_dir: the directory of charset tables and maps (default: the package's own).

    A value the library refuses (an unknown charset, a margin too wide, a format without
    maps) raises ValueError here, at once.
    """

    def __init__(
        self,
        *,
        source_charset: str | None = None,
        force_source: bool = False,
        target: str = "utf-8",
        wrap: int = 0,
        format: str = "ascii",
        raw: bool = False,
        unicode: bool | None = None,
        hex_unknown: bool = False,
        max_chars: int | None = None,
        verbose: bool = False,
        data_dir: str | os.PathLike[str] | None = None,
    ) -> None:
        self._handle: int | None = None
        # The data paths first: charset names are checked against the tables found there.
        data = os.fspath(data_dir) if data_dir is not None else str(_native.DATA_DIR)
        settings: list[tuple[str, str]] = [("charset_path", data), ("map_path", data)]
        if source_charset is not None:
            key = "forced_source_charset" if _yes_no("force_source", force_source) == "yes" \
                else "source_charset"
            settings.append((key, _string("source_charset", source_charset)))
        elif force_source:
            raise ValueError("force_source needs a source_charset")
        settings.append(("target_charset", _string("target", target)))
        settings.append(("wrap_margin", str(_count("wrap", wrap))))
        settings.append(("format", _string("format", format)))
        settings.append(("raw", _yes_no("raw", raw)))
        if unicode is None:
            settings.append(("unicode", "auto"))
        else:
            settings.append(("unicode", _yes_no("unicode", unicode)))
        settings.append(("hex_unknown", _yes_no("hex_unknown", hex_unknown)))
        if max_chars is not None:
            if _count("max_chars", max_chars) == 0:
                raise ValueError("max_chars must be at least 1 (None: no limit)")
            settings.append(("max_chars", str(max_chars)))
        settings.append(("verbose", _yes_no("verbose", verbose)))

        options = lib.dorvex_options_new()
        if not options:
            raise MemoryError("dorvex: out of memory")
        try:
            for name, value in settings:
                code = lib.dorvex_options_set(options, name.encode(), os.fsencode(value))
                if code == _native.ERR_MEMORY:
                    raise MemoryError("dorvex: out of memory")
                if code != _native.OK:
                    raise ValueError(_text(lib.dorvex_options_message(options)))
            self.target: str = _text(lib.dorvex_options_get(options, b"target_charset"))
            handle = lib.dorvex_extractor_new(options)
        finally:
            lib.dorvex_options_free(options)
        if not handle:
            raise MemoryError("dorvex: out of memory")
        code = lib.dorvex_extractor_code(handle)
        if code != _native.OK:
            message = _text(lib.dorvex_extractor_message(handle))
            lib.dorvex_extractor_free(handle)
            if code == _native.ERR_MEMORY:
                raise MemoryError(message)
            raise ValueError(message)
        self._handle = handle
        self._codec = _codec_for(self.target)
        self._free = lib.dorvex_extractor_free  # still reachable when the interpreter ends

    def close(self) -> None:
        """Frees the loaded tables; the Extractor extracts nothing after."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            self._free(handle)

    def __enter__(self) -> "Extractor":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()

    def extract(
        self,
        source: Source,
        *,
        name: str | None = None,
        errors: Literal["raise", "return"] = "raise",
    ) -> Document:
        """Reads one document.

        ``source`` is a bytes-like object (read in place, never copied), a path (str or
        os.PathLike), or a binary file object (read from its position to its end). ``name``
        names the document in messages and in ``Document.path`` (default: the path, or a file
        object's name). A document that cannot be read raises the :class:`Error` subclass of
        its error class; with ``errors="return"`` it is returned, with ``error`` set.
        """
        if errors not in ("raise", "return"):
            raise ValueError(f"errors must be 'raise' or 'return', not {errors!r}")
        handle = self._handle
        if not handle:
            raise ValueError("dorvex: this Extractor is closed")
        if type(source) is bytes:
            # The common case, without the buffer protocol: ctypes passes the bytes' own memory.
            label = name
            result = lib.dorvex_extract_memory(handle, source, len(source),
                                               None if name is None else name.encode())
        elif isinstance(source, (str, os.PathLike)):
            path = os.fspath(source)
            label = name if name is not None else os.fsdecode(path)
            result = lib.dorvex_extract_path(handle, os.fsencode(path))
        else:
            if not isinstance(source, (bytes, bytearray, memoryview)) and hasattr(source, "read"):
                if name is None:
                    file_name = getattr(source, "name", None)
                    name = os.fsdecode(file_name) if isinstance(file_name, (str, bytes)) else None
                source = source.read()
                if not isinstance(source, (bytes, bytearray, memoryview)):
                    raise TypeError("dorvex: a file object must be opened in binary mode")
            label = name
            try:
                held = _native.HeldBuffer(source)
            except (TypeError, BufferError) as e:
                raise TypeError(f"dorvex cannot read a {type(source).__name__}: give bytes, a "
                                "path or a binary file object") from e
            with held:
                result = lib.dorvex_extract_memory(handle, held.address, held.size,
                                                   None if name is None else name.encode())
        if not result:
            raise MemoryError("dorvex: out of memory")
        try:
            document = self._document(result.contents, label)
        finally:
            lib.dorvex_result_free(result)
        if document.error is not None and errors == "raise":
            raise _error_for(document)
        return document

    def _document(self, r: _native.Result, path: str | None) -> Document:
        data = None
        size = r.text_size
        if not size:
            text = ""
        elif self._codec == "utf-8":
            # Decoded where the library wrote it: one pass, no copy of the bytes.
            text = _native.decode_utf8(r.text, size, b"surrogateescape")
        else:
            data = ctypes.string_at(r.text, size)
            text = data.decode(self._codec or "ascii", "surrogateescape")
        count = r.message_count
        messages = tuple(_text(line) for line in r.messages[:count]) if count else ()
        metadata = {}
        m = r.metadata
        if m.title or m.subject or m.author or m.keywords or m.created or m.modified:
            for field in _METADATA_FIELDS:
                value = getattr(m, field)
                if value is not None:
                    metadata[field] = _text(value)
        code = r.error
        error = None if code == 0 else ERROR_NAMES.get(code, "damaged")
        return Document(text, r.format.decode(), r.status, error, messages, r.truncated != 0,
                        metadata, path, data)

    def map(self, sources: Iterable[Source], workers: int | None = None) -> Iterator[Document]:
        """Reads many documents, ``workers`` at once on threads (default: one per core), and
        yields their Documents in the order of ``sources``.

        It never raises for one document: a document that cannot be read (or a source of a
        kind it cannot take) is a Document whose ``error`` says what went wrong, and the
        iteration goes on. At most four documents per thread wait for their turn.
        """
        if workers is None:
            workers = os.cpu_count() or 1
        if isinstance(workers, bool) or not isinstance(workers, int) or workers < 1:
            raise ValueError(f"workers must be a whole number of at least 1, not {workers!r}")
        if workers == 1:
            for source in sources:
                yield self._extract_any(source)
            return
        with concurrent.futures.ThreadPoolExecutor(workers, "dorvex") as pool:
            waiting: collections.deque[concurrent.futures.Future[Document]] = collections.deque()
            try:
                for source in sources:
                    waiting.append(pool.submit(self._extract_any, source))
                    if len(waiting) >= workers * 4:
                        yield waiting.popleft().result()
                while waiting:
                    yield waiting.popleft().result()
            finally:
                for future in waiting:
                    future.cancel()

    def _extract_any(self, source: Source) -> Document:
        try:
            return self.extract(source, errors="return")
        except (TypeError, ValueError, OSError, MemoryError) as e:
            path = os.fsdecode(source) if isinstance(source, (str, os.PathLike)) else None
            message = str(e) or type(e).__name__
            return Document(text="", format="", status=1, error="read",
                            messages=(message,), truncated=False, metadata={}, path=path)


def _string(option: str, value: object) -> str:
    if not isinstance(value, str) or not value:
        raise ValueError(f"{option} must be a non-empty string, not {value!r}")
    return value


def _count(option: str, value: object) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or value < 0:
        raise ValueError(f"{option} must be a whole number of at least 0, not {value!r}")
    return value


def _yes_no(option: str, value: object) -> str:
    if not isinstance(value, bool):
        raise ValueError(f"{option} must be True or False, not {value!r}")
    return "yes" if value else "no"


_extractors: "collections.OrderedDict[tuple[tuple[str, Any], ...], Extractor]" = (
    collections.OrderedDict())
_extractors_lock = threading.Lock()
_KEPT_EXTRACTORS = 8


def _shared_extractor(options: Mapping[str, Any]) -> Extractor:
    """An Extractor for these options, kept for the next call with the same ones."""
    key = tuple(sorted((k, os.fspath(v) if isinstance(v, os.PathLike) else v)
                       for k, v in options.items()))
    with _extractors_lock:
        extractor = _extractors.get(key)
        if extractor is not None:
            _extractors.move_to_end(key)
            return extractor
    extractor = Extractor(**options)
    with _extractors_lock:
        _extractors[key] = extractor
        while len(_extractors) > _KEPT_EXTRACTORS:
            _extractors.popitem(last=False)
    return extractor


def extract(
    source: Source,
    *,
    source_charset: str | None = None,
    force_source: bool = False,
    target: str = "utf-8",
    wrap: int = 0,
    format: str = "ascii",
    raw: bool = False,
    unicode: bool | None = None,
    hex_unknown: bool = False,
    max_chars: int | None = None,
    verbose: bool = False,
    data_dir: str | os.PathLike[str] | None = None,
    name: str | None = None,
    errors: Literal["raise", "return"] = "raise",
) -> Document:
    """Reads one document; the options are :class:`Extractor`'s, ``name`` and ``errors``
    those of :meth:`Extractor.extract`. The tables of the last few option sets stay loaded, so
    calling this in a loop costs no more than an Extractor would.
    """
    extractor = _shared_extractor(dict(
        source_charset=source_charset, force_source=force_source, target=target, wrap=wrap,
        format=format, raw=raw, unicode=unicode, hex_unknown=hex_unknown, max_chars=max_chars,
        verbose=verbose, data_dir=data_dir))
    return extractor.extract(source, name=name, errors=errors)
