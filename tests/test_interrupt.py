"""Long work stops on Ctrl-C (KeyboardInterrupt) instead of running for
minutes. Each case runs in a child interpreter, which gets SIGINT half a
second into the work."""
import signal
import subprocess
import sys
import textwrap
import time

import pytest

CASES = {
    "evaluation at a huge degree": """
        p = 100000
        t = pyvelt.trajectory(np.r_[[0.0] * (p + 1), [1.0] * (p + 1)], np.ones(p + 1), p)
        work = lambda: t(0.5)
    """,
    "degree elevation, then evaluation": """
        t = pyvelt.trajectory(np.r_[[0.0] * 4, 0.5, [1.0] * 4], np.arange(5.0), 3)
        work = lambda: t.degelev(1000000)(0.3)
    """,
    "antiderivative of a high order": """
        t = pyvelt.trajectory(np.r_[[0.0] * 4, [1.0] * 4], np.arange(4.0), 3, order=200000)
        work = lambda: t.antiderivative(200000)
    """,
    "extrema at degree 3000": """
        p = 3000
        t = pyvelt.trajectory(np.r_[[0.0] * (p + 1), [1.0] * (p + 1)],
                              np.sin(np.arange(p + 1.0)), p)
        work = lambda: t.extrema(1)
    """,
    "roughness at degree 3000": """
        p = 3000
        t = pyvelt.trajectory(np.r_[[0.0] * (p + 1), [1.0] * (p + 1)],
                              np.sin(np.arange(p + 1.0)), p)
        work = lambda: t.roughness(1)
    """,
}


@pytest.mark.slow
@pytest.mark.parametrize("setup", CASES.values(), ids=list(CASES))
def test_long_work_stops_on_ctrl_c(setup):
    code = "import numpy as np\nimport pyvelt\n" + textwrap.dedent(setup) + textwrap.dedent("""
        print("ready", flush=True)
        try:
            work()
            print("finished")
        except KeyboardInterrupt:
            print("interrupted")
        # the library is still usable
        print(pyvelt.trajectory([0, 0, 1, 1], [0.0, 2.0], 1)(0.25))
    """)
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(0.5)
        child.send_signal(signal.SIGINT)  # as Ctrl-C does
        out, err = child.communicate(timeout=120)
    finally:
        child.kill()
    assert child.returncode == 0, err[-2000:]
    assert out.split() == ["interrupted", "0.5"]
