"""The benchmark script runs and its two sides agree (times are not judged here)."""
import json
import os
import pathlib
import subprocess
import sys

import pytest

from pyvelt import arcus

SCRIPT = pathlib.Path(__file__).resolve().parent.parent / "bench" / "compare.py"


@pytest.mark.slow
@pytest.mark.skipif(not SCRIPT.exists(), reason="bench/compare.py is not in this tree")
def test_compare_quick_runs_and_both_sides_agree():
    env = dict(os.environ)
    # the child must import the same pyvelt as this test run
    pkg = pathlib.Path(arcus.__file__).resolve().parent.parent
    env["PYTHONPATH"] = os.pathsep.join([str(pkg)] + [p for p in [env.get("PYTHONPATH")] if p])
    out = subprocess.run([sys.executable, str(SCRIPT), "--quick"], capture_output=True, text=True,
                         env=env, timeout=300)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.strip().splitlines()
    summary = json.loads(lines[-1])
    cases = summary["cases"]
    for key in ("splcev", "gcsplint", "gcsplapp", "splkins"):
        assert cases[key]["status"] == "ok", cases[key]
        assert cases[key]["rel_diff"] < 1e-9 and cases[key]["ratio"] > 0
        assert any(line.startswith(cases[key]["title"]) for line in lines)
    for entry in cases.values():
        assert entry["status"] in ("ok", "skipped"), entry
    assert set(summary["lsq_peak_mib"]) == {"pyvelt", "scipy"}
    assert summary["machine"]["nproc"] >= 1
