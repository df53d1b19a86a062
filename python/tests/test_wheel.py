"""The wheel: built from the checkout with Debian's tools only, installed in a fresh virtual
environment that has nothing else, where it reads every document as the installed package."""

from __future__ import annotations

import hashlib
import json
import os
import subprocess
import zipfile
from pathlib import Path

import pytest

import dorvex

from conftest import ROOT

SYSTEM_PYTHON = "/usr/bin/python3"

READ_ALL = """
import hashlib, json, sys
import dorvex
out = {}
for path in sys.argv[1:]:
    d = dorvex.extract(path, errors="return")
    out[path] = [d.format, d.status, d.error, hashlib.sha256(d.data).hexdigest()]
print(json.dumps({"version": dorvex.__version__, "file": dorvex.__file__, "docs": out}))
"""


@pytest.fixture(scope="module")
def wheel(tmp_path_factory) -> Path:
    if os.environ.get("DORVEX_WHEEL"):  # one built already, as continuous integration does
        return Path(os.environ["DORVEX_WHEEL"])
    if not os.access(SYSTEM_PYTHON, os.X_OK):
        pytest.skip("no Debian interpreter")
    out = tmp_path_factory.mktemp("wheel")
    env = dict(os.environ)
    # A library built for the tests may be given (DORVEX_PREBUILT_LIBRARY); else CMake builds one.
    r = subprocess.run([SYSTEM_PYTHON, "-m", "pip", "wheel", "--no-deps", "--no-build-isolation",
                        "--no-index", "-w", str(out), str(ROOT / "python")],
                       capture_output=True, text=True, env=env, timeout=1800)
    assert r.returncode == 0, r.stdout + r.stderr
    wheels = list(out.glob("dorvex-*.whl"))
    assert len(wheels) == 1
    return wheels[0]


def test_the_wheel_holds_the_library_and_the_data(wheel):
    assert wheel.name.startswith(f"dorvex-{dorvex.__version__}-cp3")
    assert "linux" in wheel.name and "none-any" not in wheel.name
    names = zipfile.ZipFile(wheel).namelist()
    for needed in ("dorvex/__init__.py", "dorvex/dask.py", "dorvex/__main__.py",
                   "dorvex/py.typed", "dorvex/libdorvex.so", "dorvex/charsets/cp1252.txt",
                   "dorvex/charsets/ascii.spc", "dorvex/charsets/cp932.dbcs"):
        assert needed in names
    shipped = {p.name for p in (ROOT / "charsets").iterdir()}
    assert shipped == {n.split("/")[-1] for n in names if n.startswith("dorvex/charsets/")}


def test_a_fresh_environment_reads_every_document(wheel, documents, tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([SYSTEM_PYTHON, "-m", "venv", str(venv)], check=True, timeout=300)
    python = venv / "bin" / "python"
    r = subprocess.run([str(python), "-m", "pip", "install", "--no-index", "--no-deps",
                        str(wheel)], capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, r.stdout + r.stderr
    # Away from the checkout, so that nothing but the installed wheel can be imported.
    r = subprocess.run([str(python), "-c", READ_ALL, *map(str, documents)], cwd=tmp_path,
                       capture_output=True, text=True, env={"PATH": os.defpath}, timeout=600)
    assert r.returncode == 0, r.stderr
    got = json.loads(r.stdout)
    assert got["version"] == dorvex.__version__
    assert Path(got["file"]).is_relative_to(venv)
    for path in documents:
        d = dorvex.extract(path, errors="return")
        assert got["docs"][str(path)] == [d.format, d.status, d.error,
                                          hashlib.sha256(d.data).hexdigest()], path
    ldd = subprocess.run(["ldd", str(Path(got["file"]).parent / "libdorvex.so")],
                         capture_output=True, text=True)
    assert "not found" not in ldd.stdout
