"""The ctypes declarations against phenomd.h, and the module search."""

import ctypes
import re
import shutil

import pytest

import phenomd
from phenomd import _library
from conftest import HEADER

pytestmark = pytest.mark.needs_library


def _header_declarations():
    text = re.sub(r"/\*.*?\*/", " ", HEADER.read_text(), flags=re.S)
    functions = {}
    for m in re.finditer(r"PHENOMD_API\s+(\w+)\s+(\w+)\s*\(([^)]*)\)\s*;", text):
        restype, name, params = m.groups()
        parsed = []
        for p in params.split(","):
            pm = re.fullmatch(r"\s*(const\s+)?(double|int)\s*(\*)?\s*(\w+)\s*", p)
            assert pm, f"unparsed parameter {p!r} of {name}"
            const, base, star, pname = pm.groups()
            parsed.append((base + ("*" if star else ""), pname, bool(const)))
        functions[name] = (restype, tuple(parsed))
    constants = re.findall(r"PHENOMD_API\s+extern\s+double\s+(\w+)\s*;", text)
    return functions, tuple(constants)


class TestSignatures:
    """No drift between utils/phenomd/phenomd.h and the package."""

    def test_parameter_tables_match_the_header(self):
        functions, _ = _header_declarations()
        assert set(functions) == {"Amplitude", "SNR_function"}
        assert functions["Amplitude"] == ("int", _library.AMPLITUDE_PARAMS)
        assert functions["SNR_function"] == ("int", _library.SNR_PARAMS)

    def test_loaded_functions_carry_exact_argtypes(self, library_path):
        lib = phenomd.load_library(library_path)
        functions, _ = _header_declarations()
        to_ctype = {"double*": ctypes.POINTER(ctypes.c_double), "int": ctypes.c_int}
        for name, fn in (("Amplitude", lib.Amplitude), ("SNR_function", lib.SNR_function)):
            assert fn.restype is ctypes.c_int
            assert list(fn.argtypes) == [to_ctype[t] for t, _, _ in functions[name][1]]

    def test_constants_match_the_header_and_read_from_the_module(self, library_path):
        _, constants = _header_declarations()
        assert constants == _library.CONSTANT_NAMES
        values = phenomd.constants(library_path)
        assert set(values) == set(constants)
        assert values["Pi"] == 3.1415926536  # the model's pi, as the header states
        # Julian year; G M_sun / c^3 = (G M_sun / c^2) / c to the precision
        # both are quoted with (about 1e-9).
        assert values["SECONDS_PER_YEAR"] == pytest.approx(365.25 * 86400, rel=1e-12)
        assert values["MTSUN"] == pytest.approx(values["MRSUN"] / values["SPEED_OF_LIGHT"], rel=1e-8)


@pytest.fixture
def isolated(monkeypatch, tmp_path):
    """A search with no install location, ldconfig entry or build tree."""
    monkeypatch.delenv("PHENOMD_LIBRARY", raising=False)
    monkeypatch.delenv("PHENOMD_FAST_LIBRARY", raising=False)
    monkeypatch.setattr(_library, "PACKAGE_LIB_DIR", tmp_path / "package-lib")
    monkeypatch.setattr(_library, "INSTALL_DIRS", (str(tmp_path / "usr-local-lib"),))
    monkeypatch.setattr(_library.ctypes.util, "find_library", lambda name: None)
    monkeypatch.setattr(_library, "_repo_roots", lambda: [tmp_path / "repo"])
    monkeypatch.setattr(_library, "_searches", {})  # no search remembered from other tests
    return tmp_path


class TestSearch:
    def test_nothing_found_lists_every_place_tried(self, isolated):
        with pytest.raises(phenomd.LibraryNotFoundError) as err:
            phenomd.load_library()
        msg = str(err.value)
        assert "libphenomd.so" in msg
        assert [where for where, _ in err.value.attempts] == [
            "installed package", "install location", "ldconfig name libphenomd", "build tree"]
        assert str(isolated / "package-lib" / "libphenomd.so") in msg
        assert str(isolated / "usr-local-lib" / "libphenomd.so") in msg
        assert "ldconfig" in msg
        assert str(isolated / "repo" / "build" / "lib" / "libphenomd.so") in msg

    def test_environment_variable_is_used_and_reported_when_wrong(self, isolated, library_path, monkeypatch):
        copy = isolated / "env" / "libphenomd.so"
        copy.parent.mkdir()
        shutil.copy(library_path, copy)
        monkeypatch.setenv("PHENOMD_LIBRARY", str(copy))
        assert phenomd.load_library().path == str(copy)
        monkeypatch.setenv("PHENOMD_LIBRARY", str(isolated / "nowhere.so"))
        with pytest.raises(phenomd.LibraryNotFoundError, match=r"\$PHENOMD_LIBRARY: .*nowhere.so: no such file"):
            phenomd.load_library()

    def test_build_tree_is_the_last_resort(self, isolated, library_path):
        tree = isolated / "repo" / "build" / "lib"
        tree.mkdir(parents=True)
        shutil.copy(library_path, tree / "libphenomd.so")
        assert phenomd.load_library().path == str(tree / "libphenomd.so")

    def test_explicit_path_file_or_directory_and_a_non_library(self, isolated, library_path):
        d = isolated / "explicit"
        d.mkdir()
        shutil.copy(library_path, d / "libphenomd.so")
        assert phenomd.load_library(d / "libphenomd.so").path == str(d / "libphenomd.so")
        assert phenomd.load_library(d).path == str(d / "libphenomd.so")
        junk = d / "junk.so"
        junk.write_text("not an ELF file")
        with pytest.raises(phenomd.LibraryNotFoundError, match="junk.so"):
            phenomd.load_library(junk)

    def test_fast_module_is_searched_by_its_own_name(self, isolated, library_path, monkeypatch):
        d = isolated / "env"
        d.mkdir()
        shutil.copy(library_path, d / "libphenomd.so")
        monkeypatch.setenv("PHENOMD_LIBRARY", str(d / "libphenomd.so"))
        with pytest.raises(phenomd.LibraryNotFoundError) as err:
            phenomd.load_library(fast=True)
        assert "libphenomd_fast.so" in str(err.value)
        assert str(d / "libphenomd_fast.so") in str(err.value)
        # Through the high-level call too, before any work.
        with pytest.raises(phenomd.LibraryNotFoundError):
            phenomd.amplitude(1e6, 1e6, 0, 0, 1e4, 1.0, 4.0, length=4, fast=True)
        # Beside $PHENOMD_LIBRARY it is found (a copy of the exact module
        # stands in for it: same symbols).
        shutil.copy(library_path, d / "libphenomd_fast.so")
        assert phenomd.load_library(fast=True).path == str(d / "libphenomd_fast.so")


class TestSearchCache:
    def test_a_repeated_search_touches_no_file_and_follows_the_environment(self, isolated, library_path,
                                                                           monkeypatch):
        a = isolated / "a"
        b = isolated / "b"
        for d in (a, b):
            d.mkdir()
            shutil.copy(library_path, d / "libphenomd.so")
        monkeypatch.setenv("PHENOMD_LIBRARY", str(a / "libphenomd.so"))
        first = phenomd.load_library()

        def no_stat(self, *args, **kwargs):
            raise AssertionError(f"file system touched for {self}")

        with monkeypatch.context() as m:
            m.setattr(_library.Path, "is_file", no_stat)
            m.setattr(_library.Path, "is_dir", no_stat)
            assert phenomd.load_library() is first
        monkeypatch.setenv("PHENOMD_LIBRARY", str(b / "libphenomd.so"))
        assert phenomd.load_library().path == str(b / "libphenomd.so")
        _library.clear_cache()
        monkeypatch.setenv("PHENOMD_LIBRARY", str(a / "libphenomd.so"))
        assert phenomd.load_library().path == str(a / "libphenomd.so")
