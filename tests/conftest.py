"""Helpers and fixtures shared by the test files.

Plain helpers that the test files need at collection time (in parameter
lists) are imported by name: ``from conftest import clamped, info_msg``.
Tests that start fresh interpreters through the fixture ``run_python`` are
marked ``slow`` here; ``pytest -m "not slow"`` gives a quick run.
"""
import subprocess
import sys
import textwrap
import threading
import time
from collections import namedtuple

import numpy as np
import pytest

from pyvelt.ductus import Trajectory1d


def clamped(p, interior, a=0.0, b=1.0):
    """The clamped knot vector of degree p on [a, b] with these interior knots."""
    return np.r_[[a] * (p + 1), interior, [b] * (p + 1)].astype(float)


def info_msg(code):
    """The pattern of the message that _check_info gives for a status code."""
    return "the algorithm failed with 'info' value: %d$" % code


def traj(U, P, p, order=0, owner=True, cls=Trajectory1d):
    """A trajectory (of class cls) over copies of the knots U and the control points P."""
    t = cls()
    t._dset_data(np.asarray(U, float).tobytes(), np.asarray(P, float).tobytes(), p, len(P) - 1,
                 order, owner)
    return t


def _run_python(code, *options, args=(), check=False, timeout=None, cwd=None, env=None):
    return subprocess.run([sys.executable, *options, "-c", textwrap.dedent(code), *args],
                          capture_output=True, text=True, check=check, timeout=timeout, cwd=cwd,
                          env=env)


@pytest.fixture
def run_python():
    """run_python(code, *options, args=(), check=False, timeout=None, cwd=None, env=None)
    runs the dedented code in a fresh interpreter started with the options (for
    example "-O": the library's assertion checks off) and returns the finished
    process, its output as text."""
    return _run_python


Probe = namedtuple("Probe", "duration longest_stall spins rate")


def _probe_lock(call, switch_interval=0.0005):
    # A second thread spins while call() runs: it counts its turns and notes
    # every gap of more than 0.2 ms between two of them (a stall: it had no
    # interpreter lock). A short switch interval lets it run whenever the lock
    # is free.
    stalls, count, stop = [], [0], [False]

    def spin():
        now = time.perf_counter
        last = now()
        while not stop[0]:
            count[0] += 1
            t = now()
            if t - last > 2e-4:
                stalls.append((last, t))
            last = t

    old = sys.getswitchinterval()
    sys.setswitchinterval(switch_interval)
    th = threading.Thread(target=spin)
    th.start()
    try:
        time.sleep(0.02)
        c0 = count[0]
        time.sleep(0.05)
        rate = (count[0] - c0) / 0.05
        c1, t0 = count[0], time.perf_counter()
        call()
        t1, c2 = time.perf_counter(), count[0]
        time.sleep(0.002)
    finally:
        stop[0] = True
        th.join()
        sys.setswitchinterval(old)
    inside = [min(b, t1) - max(a, t0) for a, b in stalls if b > t0 and a < t1]
    return Probe(t1 - t0, max(inside, default=0.0), c2 - c1, rate)


@pytest.fixture
def lock_probe():
    """lock_probe(call, switch_interval=0.0005) runs call() while another Python
    thread spins and returns Probe(duration, longest_stall, spins, rate): the
    call's duration, the longest time inside it in which the other thread made
    no progress (the whole call when the interpreter lock is held), the other
    thread's turns during the call and its turns per second before it."""
    return _probe_lock


def pytest_collection_modifyitems(items):
    for item in items:
        if "run_python" in getattr(item, "fixturenames", ()):
            item.add_marker(pytest.mark.slow)
