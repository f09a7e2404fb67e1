"""The package as a distribution: its version, licence and console script, and
the symbols its extension modules export."""
import importlib.metadata
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

import pytest

import pyvelt
import pyvelt.__main__
import pyvelt.cli
from pyvelt import arcus, ductus

ROOT = pathlib.Path(__file__).resolve().parent.parent
PYPROJECT = ROOT / "pyproject.toml"


def pyproject():
    try:
        import tomllib
    except ImportError:
        tomllib = pytest.importorskip("tomli")
    if not PYPROJECT.exists():
        pytest.skip("no pyproject.toml beside the tests")
    return tomllib.loads(PYPROJECT.read_text())


def installed():
    """The installed distribution the imported package comes from, or None (a
    development build on PYTHONPATH)."""
    try:
        dist = importlib.metadata.distribution("pyvelt")
    except importlib.metadata.PackageNotFoundError:
        return None
    here = pathlib.Path(pyvelt.__file__).resolve()
    return dist if pathlib.Path(dist.locate_file("pyvelt/__init__.py")).resolve() == here else None


def test_version_is_read_from_the_package():
    meta = pyproject()
    assert "version" not in meta["project"] and "version" in meta["project"]["dynamic"]
    source = meta["tool"]["scikit-build"]["metadata"]["version"]["input"]
    text = (ROOT / source).read_text()
    assert re.findall(r'^__version__ = "(.+)"$', text, re.M) == [pyvelt.__version__]
    dist = installed()
    if dist is not None:
        assert dist.version == pyvelt.__version__


def test_licence_file_matches_the_metadata():
    assert pyproject()["project"]["license"] == {"text": "MIT"}
    text = (ROOT / "LICENSE").read_text()
    assert text.startswith("MIT License\n") and "the pyvelt developers" in text
    dist = installed()
    if dist is not None:
        assert dist.metadata["License"] == "MIT"


def test_console_script_is_the_module_command():
    assert pyproject()["project"]["scripts"] == {"pyvelt": "pyvelt.cli:main"}
    assert pyvelt.__main__.main is pyvelt.cli.main


@pytest.mark.slow
def test_installed_console_script_runs():
    dist = installed()
    if dist is None:
        pytest.skip("the package is not installed (a development build)")
    (ep,) = [e for e in dist.entry_points if e.group == "console_scripts"]
    assert (ep.name, ep.value) == ("pyvelt", "pyvelt.cli:main")
    script = shutil.which("pyvelt", path=sysconfig.get_path("scripts"))
    assert script is not None
    out = subprocess.run([script, "--version"], capture_output=True, text=True, timeout=60)
    ref = subprocess.run([sys.executable, "-m", "pyvelt", "--version"], capture_output=True,
                         text=True, timeout=60)
    assert out.returncode == ref.returncode == 0, out.stderr
    assert out.stdout == ref.stdout == f"pyvelt {pyvelt.__version__}\n"


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="ELF symbol tables")
@pytest.mark.parametrize("module", [arcus, ductus], ids=["arcus", "ductus"])
def test_modules_export_their_init_function_only(module):
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("no nm")
    out = subprocess.run([nm, "-D", "--defined-only", module.__file__], capture_output=True,
                         text=True, check=True)
    names = [line.split()[-1] for line in out.stdout.splitlines() if line.strip()]
    assert names == ["PyInit_" + module.__name__.rsplit(".", 1)[1]]
