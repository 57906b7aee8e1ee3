"""Build step of the Python package: compiles the shared modules with the
project's CMake and puts them inside the package, in ``phenomd/_lib/``.

    pip install --no-build-isolation .                  # from the repository root
    /usr/bin/python3 -m build --wheel --no-isolation    # a wheel in dist/

The metadata is in pyproject.toml; this file adds only what setuptools cannot
say there:

* ``build_py`` copies the Python package as usual, then writes the root
  ``VERSION`` file into it (the installed package reads its version there),
  configures CMake in a directory of its own under the setuptools build
  directory (``build-py/`` at the root, never the checkout's ``build/``) with
  the tests, tools, examples and benchmarks off, builds the modules and copies
  ``libphenomd.so``, ``libphenomd_population.so`` and, where x86-64 and SLEEF
  are available, ``libphenomd_fast.so`` into ``phenomd/_lib/``, with their
  debugging sections stripped.
* The wheel is platform-specific (``py3-none-linux_x86_64`` on x86-64 Linux):
  the modules are machine code, loaded through ctypes, so they depend on the
  platform but not on the Python version or ABI.  They link the system's
  GSL and SLEEF dynamically (libgsl-dev, libsleef-dev at build time; the
  runtime libraries at run time).

Environment: ``PHENOMD_CMAKE_ARGS`` adds arguments to the CMake configure
step (e.g. ``-DCMAKE_CXX_COMPILER=clang++``); ``CMAKE_BUILD_PARALLEL_LEVEL``
sets the number of compile jobs (default: the number of CPUs).
"""

import os
import shlex
import shutil
import subprocess
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build import build
from setuptools.command.build_py import build_py
from setuptools.errors import ExecError

ROOT = Path(__file__).resolve().parent
VERSION = (ROOT / "VERSION").read_text().strip()

# (file name, required): the fast module needs x86-64 and SLEEF; the package
# falls back to the exact module (and says so) where it is absent.
MODULES = (
    ("libphenomd.so", True),
    ("libphenomd_population.so", True),
    ("libphenomd_fast.so", False),
)

# The configuration the project's own tests exercise (RelWithDebInfo: -O2;
# the model's arithmetic flags are properties of its targets), with
# everything but the modules switched off.
CMAKE_OPTIONS = (
    "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
    "-DPHENOMD_BUILD_TESTS=OFF",
    "-DPHENOMD_BUILD_TOOLS=OFF",
    "-DPHENOMD_BUILD_EXAMPLES=OFF",
    "-DPHENOMD_BUILD_BENCHMARKS=OFF",
    "-DPHENOMD_BUILD_FUZZERS=OFF",
)


def _run(cmd):
    print(" ".join(shlex.quote(str(c)) for c in cmd), flush=True)
    try:
        subprocess.run([str(c) for c in cmd], check=True)
    except FileNotFoundError:
        raise ExecError(
            f"{cmd[0]} not found: building phenomd needs cmake, a C++17 compiler, "
            "libgsl-dev (and libsleef-dev for the fast module); on Debian 12 run "
            "`bash scripts/install-deps` as root"
        ) from None
    except subprocess.CalledProcessError as err:
        raise ExecError(f"{cmd[0]} failed (exit {err.returncode}); its output is above") from None


class BuildWithOwnDirectory(build):
    """``build`` whose default directory is ``build-py/``: the checkout's
    ``build/`` is CMake's (scripts/test, scripts/main), and setuptools'
    ``build/lib/`` would land among CMake's modules there."""

    def initialize_options(self):
        super().initialize_options()
        self.build_base = "build-py"


class BuildPyWithModules(build_py):
    """The Python files, the version file, and the modules built by CMake."""

    def run(self):
        super().run()
        if getattr(self, "editable_mode", False):
            # An editable install runs from the checkout: the version comes
            # from the root VERSION file and the modules from build/lib/.
            return
        package = Path(self.build_lib) / "phenomd"
        (package / "VERSION").write_text(VERSION + "\n")
        self._build_modules(package / "_lib")

    def _build_modules(self, target):
        build_temp = Path(self.get_finalized_command("build").build_temp).resolve()
        tree = build_temp / "cmake"
        extra = shlex.split(os.environ.get("PHENOMD_CMAKE_ARGS", ""))
        _run(["cmake", "-S", ROOT, "-B", tree, *CMAKE_OPTIONS, *extra])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        _run(["cmake", "--build", tree, "-j", jobs])
        strip = shutil.which("strip")
        if target.exists():
            shutil.rmtree(target)
        target.mkdir(parents=True)
        for name, required in MODULES:
            built = tree / "lib" / name
            if not built.exists():
                if required:
                    raise ExecError(f"the CMake build made no {built}")
                print(f"{name} not built on this machine (needs x86-64 and SLEEF)", flush=True)
                continue
            # The file itself, not the libX.so -> libX.so.0 -> libX.so.0.1.0
            # links (a wheel holds no links; ctypes loads it by path).
            shutil.copyfile(built.resolve(), target / name)
            os.chmod(target / name, 0o755)
            if strip:
                _run([strip, "--strip-debug", target / name])


class BinaryDistribution(Distribution):
    """Marks the distribution as holding compiled code, so that it installs
    into platlib and the wheel is not tagged pure."""

    def has_ext_modules(self):
        return True


commands = {"build": BuildWithOwnDirectory, "build_py": BuildPyWithModules}

try:
    from wheel.bdist_wheel import bdist_wheel

    class PlatformWheel(bdist_wheel):
        """Tagged py3-none-<platform>: the modules are loaded through
        ctypes, so one wheel serves every Python 3 on the platform."""

        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = False

        def get_tag(self):
            _, _, platform = super().get_tag()
            return "py3", "none", platform

    commands["bdist_wheel"] = PlatformWheel
except ImportError:  # no wheel package: pip and build need it anyway
    pass

setup(cmdclass=commands, distclass=BinaryDistribution)
