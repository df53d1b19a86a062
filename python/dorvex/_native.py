"""The C library through ctypes: its functions, its result struct, and bytes read in place."""

from __future__ import annotations

import ctypes
import os
from ctypes import POINTER, Structure, c_char_p, c_int, c_size_t, c_ssize_t, c_void_p
from pathlib import Path

PACKAGE_DIR = Path(__file__).resolve().parent
#: The charset tables and format maps that came with the package.
DATA_DIR = PACKAGE_DIR / "charsets"

# Codes of the set-up functions (dorvex.h: enum dorvex_code).
OK = 0
ERR_OPTION = 1
ERR_CHARSET = 2
ERR_LOAD = 3
ERR_CONFIG = 4
ERR_MEMORY = 5

#: The error classes of a result (dorvex.h: enum dorvex_error_class), named as the program's
#: JSON records name them.
ERROR_NAMES = {1: "encrypted", 2: "unsupported", 3: "damaged", 4: "read", 5: "limit"}


class Metadata(Structure):
    _fields_ = [
        ("title", c_char_p),
        ("subject", c_char_p),
        ("author", c_char_p),
        ("keywords", c_char_p),
        ("created", c_char_p),
        ("modified", c_char_p),
    ]


class Result(Structure):
    _fields_ = [
        ("text", c_void_p),
        ("text_size", c_size_t),
        ("format", c_char_p),
        ("status", c_int),
        ("error", c_int),
        ("truncated", c_int),
        ("message_count", c_size_t),
        ("messages", POINTER(c_char_p)),
        ("metadata", Metadata),
    ]


class PyBuffer(Structure):
    """CPython's Py_buffer, to hand the library the memory of any buffer without a copy."""

    _fields_ = [
        ("buf", c_void_p),
        ("obj", c_void_p),
        ("len", c_ssize_t),
        ("itemsize", c_ssize_t),
        ("readonly", c_int),
        ("ndim", c_int),
        ("format", c_char_p),
        ("shape", POINTER(c_ssize_t)),
        ("strides", POINTER(c_ssize_t)),
        ("suboffsets", POINTER(c_ssize_t)),
        ("internal", c_void_p),
    ]


def _library_path() -> str:
    """The shared library: the package's own, else DORVEX_LIBRARY (a build tree's, for tests)."""
    override = os.environ.get("DORVEX_LIBRARY")
    if override:
        return override
    return str(PACKAGE_DIR / "libdorvex.so")


def _load() -> ctypes.CDLL:
    path = _library_path()
    try:
        lib = ctypes.CDLL(path)
    except OSError as e:
        raise ImportError(f"dorvex: cannot load its library {path}: {e}") from e
    opaque = c_void_p
    signatures = {
        "dorvex_version": ([], c_char_p),
        "dorvex_options_new": ([], opaque),
        "dorvex_options_free": ([opaque], None),
        "dorvex_options_set": ([opaque, c_char_p, c_char_p], c_int),
        "dorvex_options_get": ([opaque, c_char_p], c_char_p),
        "dorvex_options_message": ([opaque], c_char_p),
        "dorvex_extractor_new": ([opaque], opaque),
        "dorvex_extractor_free": ([opaque], None),
        "dorvex_extractor_code": ([opaque], c_int),
        "dorvex_extractor_message": ([opaque], c_char_p),
        "dorvex_extract_memory": ([opaque, c_void_p, c_size_t, c_char_p], POINTER(Result)),
        "dorvex_extract_path": ([opaque, c_char_p], POINTER(Result)),
        "dorvex_extract_fd": ([opaque, c_int, c_char_p], POINTER(Result)),
        "dorvex_result_free": ([POINTER(Result)], None),
    }
    for name, (args, restype) in signatures.items():
        fn = getattr(lib, name)
        fn.argtypes = args
        fn.restype = restype
    return lib


lib = _load()

_get_buffer = ctypes.pythonapi.PyObject_GetBuffer
_get_buffer.argtypes = [ctypes.py_object, POINTER(PyBuffer), c_int]
_get_buffer.restype = c_int
_release_buffer = ctypes.pythonapi.PyBuffer_Release
_release_buffer.argtypes = [POINTER(PyBuffer)]
_release_buffer.restype = None
_PYBUF_SIMPLE = 0  # contiguous bytes, no format: what the reader wants

#: str from UTF-8 bytes at an address, without copying them into a bytes object first.
decode_utf8 = ctypes.pythonapi.PyUnicode_DecodeUTF8
decode_utf8.argtypes = [c_void_p, c_ssize_t, c_char_p]
decode_utf8.restype = ctypes.py_object


class HeldBuffer:
    """The memory of a bytes-like object, held (so it cannot move or shrink) while in use."""

    __slots__ = ("view", "held")

    def __init__(self, obj: object) -> None:
        self.view = PyBuffer()
        self.held = False
        _get_buffer(obj, ctypes.byref(self.view), _PYBUF_SIMPLE)  # raises for a non-buffer
        self.held = True

    def __enter__(self) -> "HeldBuffer":
        return self

    def __exit__(self, *exc: object) -> None:
        if self.held:
            self.held = False
            _release_buffer(ctypes.byref(self.view))

    @property
    def address(self) -> int | None:
        return self.view.buf

    @property
    def size(self) -> int:
        return self.view.len


def version() -> str:
    return lib.dorvex_version().decode("ascii")

