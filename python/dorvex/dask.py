"""Document sets read on a Dask cluster.

    from distributed import Client
    import dorvex.dask

    client = Client("tcp://scheduler:8786")
    records = dorvex.dask.extract(paths, client=client).compute()

Each worker process loads the tables once (per set of options) and reads the paths where it
runs: on many machines the documents must be on storage every worker sees. A document that
cannot be read becomes a record with its status and error and never fails the job.
"""

from __future__ import annotations

import os
import threading
from typing import Any, Iterable

from . import Extractor

__all__ = ["extract", "records", "to_dataframe", "RECORD_KEYS"]

#: The keys of every record, in order.
RECORD_KEYS = ("path", "format", "status", "error", "text")

# The extractors of this process (a worker's), one per set of options, made at first use.
_extractors: dict[tuple[tuple[str, Any], ...], Extractor] = {}
_lock = threading.Lock()


def _extractor(options: tuple[tuple[str, Any], ...]) -> Extractor:
    with _lock:
        extractor = _extractors.get(options)
        if extractor is None:
            extractor = _extractors[options] = Extractor(**dict(options))
        return extractor


def _path_of(item: Any) -> str | None:
    if isinstance(item, (str, os.PathLike)):
        return os.fsdecode(item)
    if isinstance(item, tuple) and len(item) == 2 and isinstance(item[0], str):
        return item[0]
    return None


def records(items: Iterable[Any], options: tuple[tuple[str, Any], ...] = ()) -> list[dict]:
    """The records of a partition: one per path (or ``(name, bytes)`` pair), read by this
    process's extractor for the options. Runs on the workers; usable alone as well."""
    extractor = _extractor(options)
    out = []
    for item in items:
        path = _path_of(item)
        if isinstance(item, tuple):
            source: Any = item[1]
        else:
            source = item
        try:
            doc = extractor.extract(source, name=path, errors="return")
            record = {"path": path, "format": doc.format, "status": doc.status,
                      "error": doc.error, "text": doc.text}
        except (TypeError, ValueError, OSError, MemoryError):
            # Not a document at all (a number, a text-mode file): a record like a missing file's.
            record = {"path": path, "format": "", "status": 1, "error": "read", "text": ""}
        out.append(record)
    return out


def extract(paths_or_bag: Any, client: Any = None, *, npartitions: int | None = None,
            **options: Any):
    """A ``dask.bag`` of records, dicts with the keys ``path``, ``format``, ``status``,
    ``error`` and ``text``, one per document, computed on the cluster's workers.

    ``paths_or_bag`` is a sequence of paths (or ``(name, bytes)`` pairs) or a ``dask.bag`` of
    them; ``npartitions`` splits a sequence (default: about four partitions per worker thread
    of ``client``, else 100 documents each). ``options`` are those of :func:`dorvex.extract`;
    a bad one raises ValueError here, before anything runs. With ``client`` the work starts
    at once on that cluster (the bag is persisted there); without, the bag computes wherever
    Dask's current scheduler says.
    """
    import dask.bag as db

    Extractor(**options).close()  # a bad option fails here, not on every worker
    frozen = tuple(sorted(options.items()))
    if isinstance(paths_or_bag, db.Bag):
        bag = paths_or_bag
    else:
        items = list(paths_or_bag)
        if npartitions is None:
            if client is not None:
                threads = sum(client.nthreads().values()) or 1
                npartitions = max(1, min(len(items), threads * 4))
            else:
                npartitions = max(1, (len(items) + 99) // 100)
        bag = db.from_sequence(items, npartitions=max(1, min(npartitions, len(items) or 1)))
    result = bag.map_partitions(records, frozen)
    if client is not None:
        result = client.persist(result)
    return result


def to_dataframe(bag):
    """The records of :func:`extract` as a Dask DataFrame (needs pandas), one row a document."""
    import pandas as pd

    meta = pd.DataFrame({"path": pd.Series(dtype=object), "format": pd.Series(dtype=object),
                         "status": pd.Series(dtype="int64"), "error": pd.Series(dtype=object),
                         "text": pd.Series(dtype=object)})
    return bag.map(lambda r: {k: r[k] for k in RECORD_KEYS}).to_dataframe(meta=meta)
