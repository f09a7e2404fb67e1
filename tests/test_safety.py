"""Buffers are shared and always released; references do not leak; optimisation keeps the checks."""
import array
import sys
import textwrap

import numpy as np
import pytest

from pyvelt import arcus

U = [0, 0, 0, 0, 0.5, 1, 1, 1, 1.0]


def test_any_float64_buffer_is_accepted_and_released():
    Ua = array.array("d", U)
    C = array.array("d", [0.0, 0.25, 1.0])
    arcus.splcev(C, Ua, array.array("d", [1.0] * 5), 3)
    assert list(C) == pytest.approx([1.0, 1.0, 1.0])
    # no export is left behind: the arrays can still be resized
    C.append(0.5)
    Ua.append(1.0)


@pytest.mark.parametrize(
    "call",
    [
        lambda b, U: arcus.splcev(b, U, np.ones(5), 3),          # dtype rejected after acquiring
        lambda b, U: arcus.splcev(np.array([2.0]), U, np.ones(5), 3),  # kernel code
        lambda b, U: arcus.splpev(0.5, U, np.ones(4), 3),         # length check
    ],
)
def test_buffers_released_on_error_paths(call):
    b = bytearray(16)
    Ua = array.array("d", U)
    with pytest.raises(ValueError):
        call(b, Ua)
    b.extend(b"12345678")
    Ua.append(1.0)


def test_no_reference_leaks():
    Un = np.array(U)
    P = np.ones(5)
    C = np.linspace(0, 1, 5)
    CK = np.empty((2, 5))
    before = [sys.getrefcount(o) for o in (Un, P, C, CK)]
    for _ in range(2000):
        arcus.splpev(0.3, Un, P, 3)
        arcus.findspanmult(3, 0.3, Un)
        arcus.dsplcev(C, Un, P, 3, 0, 1, CK)
        with pytest.raises(ValueError):
            arcus.splpev(3.0, Un, P, 3)
        with pytest.raises(TypeError):
            arcus.splpev(0.3, Un, P, p=3, q=1)
    assert [sys.getrefcount(o) for o in (Un, P, C, CK)] == before


def test_checks_hold_under_optimisation(run_python):
    code = textwrap.dedent(
        """
        import numpy as np
        from pyvelt import arcus
        U = np.array([0, 0, 0, 0, 0.5, 1, 1, 1, 1.0])
        for call in (
            lambda: arcus.splpev(0.5, U[:5], np.ones(5), 3),
            lambda: arcus.dsplpev(0.5, U, np.ones(5), 3, 5, np.empty(2)),
            lambda: arcus.bfunspev(0.5, 40, U, 3, np.empty(4)),
        ):
            try:
                call()
            except ValueError:
                print("ok")
        """
    )
    out = run_python(code, "-O", check=True)
    assert out.stdout.split() == ["ok"] * 3
