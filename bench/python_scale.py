#!/usr/bin/python3
"""Timings of the Python package: what the binding costs, how threads and Dask workers scale.

Usage: VENV/bin/python bench/python_scale.py [--corpus DIR] [--rounds N] [--large N]

Run by the interpreter of a virtual environment that has the package installed (and Dask, for
its part). The C example and the package use the same libdorvex.so: build/package's, built
with "cmake --preset package && cmake --build --preset package".
  1. binding: the corpus held in memory, extracted ROUNDS times by Extractor.extract in a loop
     and by examples/extract_memory.c (-q -r ROUNDS) over the same bytes;
  2. threads: Extractor.map(workers=2) against workers=1 on large generated documents;
  3. Dask: a LocalCluster of 2 worker processes against 1 on the large documents, and records
     per second on the corpus with 2.
Each figure is the best of five runs.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
LIBRARY = ROOT / "build" / "package" / "libdorvex.so"
os.environ.setdefault("DORVEX_LIBRARY", str(LIBRARY))  # the package loads this one too

import dorvex  # noqa: E402


RUNS = 5


def best(fn, runs=None):
    times = []
    for _ in range(runs or RUNS):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def best_with_cpu(fn):
    """The best wall time of the runs, and the process's CPU time in that run per wall second."""
    runs = []
    for _ in range(RUNS):
        c0, t0 = time.process_time(), time.perf_counter()
        fn()
        runs.append((time.perf_counter() - t0, time.process_time() - c0))
    wall, cpu = min(runs)
    return wall, cpu / wall


def load(out: str) -> str:
    return subprocess.run(["uptime"], capture_output=True, text=True).stdout.strip() + f" ({out})"


def make_large(directory: Path, count: int) -> list[Path]:
    """count large documents: RTF from the bench generator, Word 97 from the fixture tool."""
    made = []
    mkfixture = directory / "mkfixture"
    subprocess.run(["c++", "-std=c++20", "-O1", f"-I{ROOT / 'tests' / 'support'}",
                    str(ROOT / "tools" / "mkfixture.cpp"), "-o", str(mkfixture)], check=True)
    words = ("the quick brown fox jumps over a lazy dog while caf\u00e9 "
             "na\u00efve \u0434\u043e\u0431\u0440\u044b\u0439 \u03ba\u03b1\u03bb\u03b7 ").split()
    lines = [" ".join(words[(i + k) % len(words)] for k in range(14)) for i in range(120000)]
    text = directory / "text.txt"
    text.write_text("\n".join(lines) + "\n", encoding="utf-8")
    for i in range(count):
        if i % 2 == 0:
            path = directory / f"large{i}.rtf"
            subprocess.run([sys.executable, str(ROOT / "bench" / "gen_rtf.py"), "8", str(path)],
                           check=True)
        else:
            path = directory / f"large{i}.doc"
            subprocess.run([str(mkfixture), "word97", str(path), str(text), "--16bit"],
                           check=True)
        made.append(path)
    return made


def binding(corpus: list[Path], rounds: int, work: Path) -> None:
    example = work / "extract_memory"
    subprocess.run(["cc", "-O2", f"-I{ROOT / 'include'}",
                    str(ROOT / "examples" / "extract_memory.c"), str(LIBRARY),
                    f"-Wl,-rpath,{LIBRARY.parent}", "-o", str(example)], check=True)
    data_dir = str(ROOT / "charsets")
    total = sum(p.stat().st_size for p in corpus)

    def c_run():
        r = subprocess.run([str(example), "-c", data_dir, "-q", "-r", str(rounds),
                            *map(str, corpus)], capture_output=True, text=True)
        found = re.search(r"in ([0-9.]+) s \(([0-9.]+) s of CPU\)", r.stderr)
        return float(found.group(1)), float(found.group(2))

    x = dorvex.Extractor(data_dir=data_dir)
    blobs = [p.read_bytes() for p in corpus]

    def py_run():
        c0, t0 = time.process_time(), time.perf_counter()
        for _ in range(rounds):
            for b in blobs:
                x.extract(b, errors="return")
        return time.perf_counter() - t0, time.process_time() - c0

    # Alternated, so that a change in the machine's load falls on both. CPU time counts what
    # each spent whatever else the machine runs; wall time is what a user waits.
    c_runs, py_runs = [], []
    for _ in range(RUNS):
        c_runs.append(c_run())
        py_runs.append(py_run())
    c_time, c_cpu = min(t for t, _ in c_runs), min(c for _, c in c_runs)
    py_time, py_cpu = min(t for t, _ in py_runs), min(c for _, c in py_runs)
    n = len(corpus) * rounds
    print(f"binding: {len(corpus)} corpus files ({total / 1e6:.1f} MB) x {rounds} rounds: "
          f"C example {c_time:.3f} s ({n / c_time:.0f} docs/s), Extractor.extract "
          f"{py_time:.3f} s ({n / py_time:.0f} docs/s): {c_time / py_time:.2f}x the C speed; "
          f"CPU time {c_cpu:.3f} s against {py_cpu:.3f} s: {c_cpu / py_cpu:.2f}x")


def threads(large: list[Path]) -> None:
    blobs = [p.read_bytes() for p in large]
    mb = sum(map(len, blobs)) / 1e6
    x = dorvex.Extractor()

    def consume(workers):
        # As a pipeline does: each text used and let go, not all of them kept.
        return sum(len(d.text) for d in x.map(blobs, workers=workers))

    one, one_cpu = best_with_cpu(lambda: consume(1))
    two, two_cpu = best_with_cpu(lambda: consume(2))
    # The share of a document's time spent holding the GIL (everything outside the library
    # call) bounds what threads can give: at most 1/share on any number of cores.
    lib = dorvex._native.lib

    def calls_only():
        for b in blobs:
            with dorvex._native.HeldBuffer(b) as held:
                r = lib.dorvex_extract_memory(x._handle, held.address, held.size, None)
            lib.dorvex_result_free(r)

    inside = best(calls_only)
    share = max(0.0, 1 - inside / one)
    print(f"threads: the library call is {inside:.2f} s of workers=1's {one:.2f} s: the GIL is "
          f"held {share:.0%} of the time, which allows {min(2, 1 / max(share, 1e-9)):.2f}x "
          "on 2 cores")
    print(f"threads: {len(blobs)} large documents ({mb:.0f} MB): workers=1 {one:.2f} s "
          f"({one_cpu:.2f} CPUs busy), workers=2 {two:.2f} s ({two_cpu:.2f} CPUs busy): "
          f"{one / two:.2f}x")


SPIN = r"""
#include <pthread.h>
#include <stdio.h>
#include <time.h>
static double now(void) { struct timespec t; clock_gettime(CLOCK_MONOTONIC, &t);
                          return t.tv_sec + t.tv_nsec / 1e9; }
static volatile unsigned long sink;
static void* spin(void* arg) { double end = now() + 1.0; unsigned long x = 0;
  while (now() < end) for (int i = 0; i < 100000; ++i) x += i; sink = x; return arg; }
int main(void) { pthread_t t[2]; double start = now();
  for (int i = 0; i < 2; ++i) pthread_create(&t[i], 0, spin, 0);
  for (int i = 0; i < 2; ++i) pthread_join(t[i], 0);
  printf("%.2f\n", (double)clock() / CLOCKS_PER_SEC / (now() - start)); return 0; }
"""


def machine_cpus(work: Path) -> float:
    """How many CPUs two spinning C threads get now: 2.00 on an idle two-core machine."""
    source, exe = work / "spin.c", work / "spin"
    if not exe.exists():
        source.write_text(SPIN)
        subprocess.run(["cc", "-O1", "-pthread", str(source), "-o", str(exe)], check=True)
    return float(subprocess.run([str(exe)], capture_output=True, text=True).stdout)


def program_baseline(large: list[Path]) -> None:
    """What the machine gives the program's own threads at the same time, for comparison."""
    program = LIBRARY.parent / "dorvex"
    if not program.is_file():
        return
    times = {}
    for j in (1, 2):
        times[j] = best(lambda: subprocess.run([str(program), "--json", "-j", str(j),
                                                *map(str, large)], stdout=subprocess.DEVNULL,
                                               check=True))
    print(f"baseline: dorvex --json -j 1 {times[1]:.2f} s, -j 2 {times[2]:.2f} s: "
          f"{times[1] / times[2]:.2f}x")


def dask_scale(large: list[Path], corpus: list[Path]) -> None:
    import distributed

    import dorvex.dask

    paths = [str(p) for p in large]
    times = {}
    for n in (1, 2):
        with distributed.LocalCluster(n_workers=n, processes=True, threads_per_worker=1,
                                      dashboard_address=None, silence_logs=40) as cluster, \
                distributed.Client(cluster) as client:
            client.run(lambda: dorvex.Extractor().close())  # import and load once per worker
            # The texts stay on the workers, as where they are written out there
            # (to_textfiles): what comes back is their lengths, not 100 MB through one socket.
            # Each run names the files differently ("dir/./name", "dir/././name"...), so that
            # no result of an earlier run, known to the cluster by the same key, is reused.
            runs = iter(range(1, 1000))

            def run():
                k = next(runs)
                fresh = [str(Path(p).parent) + "/." * k + "/" + Path(p).name for p in paths]
                return (dorvex.dask.extract(fresh, npartitions=len(fresh))
                        .map(lambda r: len(r["text"])).sum().compute(scheduler=client))

            times[n] = best(run)
            if n == 2 and corpus:
                cpaths = [str(p) for p in corpus]
                corpus_runs = iter(range(1, 1000))

                def corpus_run():
                    k = next(corpus_runs)
                    fresh = [str(Path(p).parent) + "/." * k + "/" + Path(p).name
                             for p in cpaths]
                    return dorvex.dask.extract(fresh, client=client).compute()

                t = best(corpus_run)
                print(f"dask: corpus of {len(cpaths)} files on 2 workers: {t:.2f} s, "
                      f"{len(cpaths) / t:.0f} records/s")
    print(f"dask: {len(paths)} large documents: 1 worker {times[1]:.2f} s, 2 workers "
          f"{times[2]:.2f} s: {times[1] / times[2]:.2f}x")


def main() -> int:
    p = argparse.ArgumentParser()
    p.add_argument("--corpus", default=str(ROOT.parent / "shared" / "corpus"))
    p.add_argument("--rounds", type=int, default=20)
    p.add_argument("--large", type=int, default=8)
    p.add_argument("--skip", default="", help="parts to skip: binding,threads,dask")
    args = p.parse_args()
    corpus = sorted(q for q in Path(args.corpus).rglob("*")
                    if q.is_file() and q.name not in ("MANIFEST.tsv", "README.md")) \
        if Path(args.corpus).is_dir() else []
    print(f"dorvex {dorvex.__version__}, library {os.environ['DORVEX_LIBRARY']}")
    print("load before:", load("1, 5, 15 minutes"))
    with tempfile.TemporaryDirectory() as d:
        work = Path(d)
        print(f"two spinning C threads get {machine_cpus(work):.2f} CPUs")
        if "binding" not in args.skip and corpus:
            binding(corpus, args.rounds, work)
        large = make_large(work, args.large) if {"threads", "dask"} - set(
            args.skip.split(",")) else []
        if "threads" not in args.skip:
            program_baseline(large)
            threads(large)
        if "dask" not in args.skip:
            dask_scale(large, corpus)
        print(f"two spinning C threads get {machine_cpus(work):.2f} CPUs")
    print("load after:", load("1, 5, 15 minutes"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
