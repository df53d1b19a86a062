"""dorvex.dask on a local cluster of two worker processes."""

from __future__ import annotations

from pathlib import Path

import pytest

distributed = pytest.importorskip("distributed")
dask_bag = pytest.importorskip("dask.bag")

import dorvex  # noqa: E402
import dorvex.dask  # noqa: E402

from conftest import corpus_files, fixture_documents  # noqa: E402


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                       dashboard_address=None, silence_logs=40)
    with cluster, distributed.Client(cluster) as c:
        yield c


def test_records_of_the_corpus_are_the_program_texts(client, program_output, generated, tmp_path):
    paths = corpus_files() or (fixture_documents() + sorted(generated.values()))
    missing = tmp_path / "missing.doc"
    sources = [str(p) for p in paths] + [str(missing)]
    records = dorvex.dask.extract(sources, client=client).compute()
    assert [r["path"] for r in records] == sources
    for record in records[:-1]:
        assert set(record) == set(dorvex.dask.RECORD_KEYS)
        stdout, status, _ = program_output(Path(record["path"]))
        assert record["text"] == stdout.decode("utf-8"), record["path"]
        assert record["status"] == status, record["path"]
    assert records[-1]["error"] == "read" and records[-1]["status"] == 1
    # Both workers took part, and each loaded its tables once.
    who = client.run(lambda: len(dorvex.dask._extractors))
    assert len(who) == 2 and all(n == 1 for n in who.values())


def test_a_bag_in_and_options_through(client, generated):
    path = str(generated["word97-16bit.doc"])
    bag = dask_bag.from_sequence([path, path], npartitions=2)
    records = dorvex.dask.extract(bag, wrap=20, target="cp1251").compute()
    want = dorvex.extract(path, wrap=20, target="cp1251").text
    assert [r["text"] for r in records] == [want, want]


def test_bytes_pairs_and_bad_items_become_records(client, generated):
    data = generated["word97-8bit.doc"].read_bytes()
    items = [("in-memory.doc", data), ("broken", b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\0" * 600),
             42]
    records = dorvex.dask.extract(items, client=client).compute()
    assert records[0]["text"] == dorvex.extract(data).text and records[0]["path"] == "in-memory.doc"
    assert records[1]["status"] == 1 and records[1]["error"] == "damaged"
    assert records[2]["error"] == "read" and records[2]["path"] is None
    assert all(list(r) == list(dorvex.dask.RECORD_KEYS) for r in records)


def test_a_bad_option_fails_before_the_cluster_works(client):
    with pytest.raises(ValueError):
        dorvex.dask.extract(["x.doc"], client=client, target="no-such-charset")


def test_as_a_dataframe(client, generated):
    pytest.importorskip("pandas")
    pytest.importorskip("dask.dataframe")
    paths = [str(p) for p in sorted(generated.values())]
    frame = dorvex.dask.to_dataframe(dorvex.dask.extract(paths)).compute()
    assert list(frame.columns) == list(dorvex.dask.RECORD_KEYS)
    assert list(frame["path"]) == paths
    assert list(frame["status"]) == [dorvex.extract(p, errors="return").status for p in paths]
