"""Random calls of every function: errors are Python exceptions, never a crash.

Most calls are inconsistent on purpose (wrong lengths, degrees, NaN and
infinite values, unsorted or truncated knot vectors); the run also happens
with the assertion checks off (python -O).
"""
import inspect
import os
import pathlib
import random

import numpy as np
import pytest

from pyvelt import arcus

EXPECTED = (ValueError, TypeError, AssertionError, ZeroDivisionError, MemoryError,
            OverflowError, IndexError, NotImplementedError)
SPECIAL = [0.0, 1.0, 0.5, -1.0, 2.0, np.nan, np.inf, -np.inf, 1e-14, 1 - 1e-14, 1e300]
INTS = {"p", "span", "k", "l", "d", "r1", "r2", "r", "num", "t", "mk", "nk"}
DOUBLES = {"u", "tol"}
TWO_D = {("dbfunspev", "nders"), ("dsplcev", "CK"), ("dsplcpts", "PK")}
PARAMS = {name: list(inspect.signature(getattr(arcus, name)).parameters) for name in arcus.__all__}


class Draw:
    def __init__(self, seed):
        self.rng = random.Random(seed)

    def knots(self):
        r = self.rng
        p = r.randint(0, 5)
        inner = sorted(r.random() for _ in range(r.randint(0, 8)))
        if inner and r.random() < 0.3:
            inner.append(inner[-1])                  # a double knot
        U = [0.0] * (p + 1) + sorted(inner) + [1.0] * (p + 1)
        if r.random() < 0.2:
            U[r.randrange(len(U))] = r.choice(SPECIAL)
        if r.random() < 0.2:
            U = U[:r.randint(0, len(U))]
        return np.array(U, dtype=float)

    def array(self):
        r = self.rng
        if r.random() < 0.4:
            return self.knots()
        a = np.array([r.choice(SPECIAL) if r.random() < 0.2 else r.uniform(-1, 2)
                      for _ in range(r.randint(0, 12))])
        return np.sort(a) if r.random() < 0.5 else a

    def arg(self, name, param):
        r = self.rng
        if param in INTS:
            if r.random() < 0.3:
                return r.choice([-3, -1, 8, 12, 40, 2**31 - 1, -2**31])
            return r.randint(0, 5)
        if param in DOUBLES:
            return r.choice(SPECIAL + [r.uniform(-0.5, 1.5)])
        if param == "dy":
            return (r.choice(SPECIAL), r.uniform(-1, 1))
        if (name, param) in TWO_D:
            return np.zeros((r.randint(0, 7), r.randint(0, 9)))
        return self.array()


def run(seed, calls):
    draw = Draw(seed)
    for _ in range(calls):
        name = draw.rng.choice(arcus.__all__)
        args = [draw.arg(name, param) for param in PARAMS[name]]
        try:
            getattr(arcus, name)(*args)
        except EXPECTED:
            pass
        except Exception as e:  # a failed LAPACK solve is a plain Exception
            assert "LAPACK function failed" in str(e), (name, e)


@pytest.mark.parametrize("seed", [1, 2])
def test_random_calls_raise_python_exceptions(seed):
    # PYVELT_FUZZ_EXAMPLES (default 300) sets the length of the run.
    run(seed, 10 * int(os.environ.get("PYVELT_FUZZ_EXAMPLES", "300")))


def test_random_calls_with_assertions_off(run_python):
    here = str(pathlib.Path(__file__).parent)
    code = f"import sys; sys.path.insert(0, {here!r}); import test_fuzz; test_fuzz.run(3, 3000)"
    out = run_python(code, "-O")
    assert out.returncode == 0, out.stderr[-2000:]
