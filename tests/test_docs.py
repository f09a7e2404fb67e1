"""The README's code and the examples run as written."""
import os
import pathlib
import re
import subprocess
import sys

import pytest

import pyvelt

ROOT = pathlib.Path(__file__).resolve().parent.parent


def readme_blocks():
    text = (ROOT / "README.md").read_text()
    return re.findall(r"```python\n(.*?)```", text, flags=re.S)


def test_readme_code_runs(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    ns = {}
    for block in readme_blocks():
        exec(compile(block, "README.md", "exec"), ns)
    assert (tmp_path / "motion.pyvelt").exists() and (tmp_path / "points.pyvelt").exists()


@pytest.mark.slow
@pytest.mark.parametrize("script", sorted(p.name for p in (ROOT / "examples").glob("*.py")))
def test_examples_run(tmp_path, script):
    # The package as this test run imports it (installed or a development build).
    # Its temporary files go to a folder of its own, which it must leave empty.
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    env = dict(os.environ, PYTHONPATH=str(pathlib.Path(pyvelt.__file__).parent.parent),
               TMPDIR=str(tmp))
    out = subprocess.run([sys.executable, str(ROOT / "examples" / script)], cwd=tmp_path,
                         capture_output=True, text=True, env=env)
    assert out.returncode == 0, out.stderr
    assert out.stdout
    assert sorted(p.name for p in tmp_path.rglob("*")) == ["tmp"]
