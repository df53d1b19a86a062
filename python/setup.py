"""Builds the package: the C library with CMake, put inside the package with its charset data.

    /usr/bin/python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation ./python      # or: pip wheel --no-deps ...

Environment: DORVEX_SOURCE_DIR, the checkout (default: the directory above this one);
DORVEX_PREBUILT_LIBRARY, a libdorvex.so already built (with -DDORVEX_LIBRARY=ON) to take
instead of building one; CMAKE, the cmake to run; DORVEX_BUILD_JOBS (default 2).
"""

import os
import re
import shutil
import subprocess
from pathlib import Path

from setuptools import Command, setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
SOURCE = Path(os.environ.get("DORVEX_SOURCE_DIR", HERE.parent)).resolve()


def project_version() -> str:
    text = (SOURCE / "CMakeLists.txt").read_text()
    found = re.search(r"project\(dorvex VERSION ([0-9.]+)", text)
    if not found:
        raise SystemExit(f"no project version in {SOURCE / 'CMakeLists.txt'}")
    return found.group(1)


class BuildLibrary(Command):
    """Builds libdorvex.so (or takes a prebuilt one) and copies it and the charset data into
    the package's build directory."""

    description = "build the dorvex C library into the package"
    user_options = []

    def initialize_options(self):
        self.build_lib = None
        self.build_temp = None

    def finalize_options(self):
        self.set_undefined_options("build", ("build_lib", "build_lib"),
                                   ("build_temp", "build_temp"))

    def run(self):
        library = os.environ.get("DORVEX_PREBUILT_LIBRARY")
        if library:
            library = Path(library).resolve()
        else:
            library = self.build_library()
        target = Path(self.build_lib) / "dorvex"
        target.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(library, target / "libdorvex.so")
        data = target / "charsets"
        if data.exists():
            shutil.rmtree(data)
        shutil.copytree(SOURCE / "charsets", data)

    def build_library(self) -> Path:
        cmake = os.environ.get("CMAKE", "cmake")
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.check_call([
            cmake, "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
            "-DDORVEX_LIBRARY=ON", "-DDORVEX_TESTS=OFF",
        ])
        subprocess.check_call([
            cmake, "--build", str(build), "--target", "dorvex_shared",
            "-j", os.environ.get("DORVEX_BUILD_JOBS", "2"),
        ])
        return (build / "libdorvex.so").resolve()


class BuildPy(build_py):
    def run(self):
        super().run()
        self.run_command("build_library")


class BinaryDistribution(Distribution):
    """The package holds a compiled library: its wheel is for this platform only."""

    def has_ext_modules(self):
        return True


setup(
    name="dorvex",
    version=project_version(),
    description="The readable text of Word, Write, RTF, text, .docx and .odt documents",
    long_description=(HERE / "README.md").read_text(),
    long_description_content_type="text/markdown",
    license="MIT",
    python_requires=">=3.11",
    packages=["dorvex"],
    package_data={"dorvex": ["py.typed"]},
    extras_require={"dask": ["dask[bag]", "distributed"]},
    cmdclass={"build_py": BuildPy, "build_library": BuildLibrary},
    distclass=BinaryDistribution,
    zip_safe=False,
)
