"""The functions that release the interpreter lock give the same results when
several threads call them at once, each on its own arrays."""
import threading

import numpy as np
import pytest

from pyvelt import arcus

P = 3
XP = np.linspace(0.0, 1.0, 400)
FP = np.sin(6 * XP) + XP**2


def u_avg(fn, npts, extra=0, *args):
    U = np.empty(npts + P + 1 + extra)
    fn(XP if npts == len(XP) else np.linspace(0, 1, npts), P, *args, U)
    return U


def case_gcsplint():
    U = u_avg(arcus.averaging, len(XP))
    Pc = np.empty(len(XP))
    arcus.gcsplint(XP, FP, P, U, Pc)
    return Pc


def case_gdsplint():
    U = np.empty(len(XP) + P + 3)
    arcus.averaging2(XP, P, U)
    Pc = np.empty(len(XP) + 2)
    arcus.gdsplint(XP, FP, P, U, Pc, dy=(1.0, -2.0))
    return Pc


def case_gadsplint():
    U = np.empty(len(XP) + 2 + 2 + P + 1)
    arcus.averaging3(XP, P, 2, 2, U)
    Pc = np.empty(len(XP) + 4)
    arcus.gadsplint(XP, FP, P, np.array([1.0, 0.5]), np.array([-1.0, 0.2]), U, Pc)
    return Pc


def case_cdsplint():
    U = np.empty(len(XP) + 6)
    Pc = np.empty(len(XP) + 2)
    arcus.cdsplint(XP, FP, U, Pc, dy=(0.5, 0.5))
    return np.concatenate([U, Pc])


def lsq_knots(n):
    U = np.empty(n + P + 1)
    arcus.kevalappr(XP, P, U)
    return U


def case_gcsplapp():
    U = lsq_knots(40)
    Pc = np.empty(40)
    arcus.gcsplapp(XP, FP, P, U, Pc)
    return Pc


def case_gdsplapp():
    U = lsq_knots(40)
    Pc = np.empty(40)
    arcus.gdsplapp(XP, FP, P, U, Pc, dy=(0.1, 0.2))
    return Pc


def two_curves():
    U1 = np.r_[[0.0] * 4, np.linspace(0.1, 0.9, 30), [1.0] * 4]
    U2 = np.r_[[0.0] * 4, np.linspace(0.05, 0.95, 25), [1.0] * 4]
    return U1, np.cos(np.arange(34.0)), U2, np.sin(np.arange(29.0))


def case_splcsum():
    U1, P1, U2, P2 = two_curves()
    mk, nk = arcus.knotuniondim(U1, U2, P)
    UK, PK = np.empty(mk + 1), np.empty(nk + 1)
    arcus.splcsum(U1, P1, U2, P2, P, mk, UK, nk, PK)
    return np.concatenate([UK, PK, [mk, nk]])


def case_splcjoin():
    U1, P1, U2, P2 = two_curves()
    PK = np.empty(len(P1) + len(P2))
    UK = np.empty(P + len(PK) + 1)
    arcus.splcjoin(U1, P1, U2 + 1.0, P2, P, UK, PK)
    return np.concatenate([UK, PK])


def case_bfuncev():
    U1 = two_curves()[0]
    C = np.linspace(0, 1, 5000)
    arcus.bfuncev(C, 10, U1, P)
    return C


CASES = [case_gcsplint, case_gdsplint, case_gadsplint, case_cdsplint, case_gcsplapp,
         case_gdsplapp, case_splcsum, case_splcjoin, case_bfuncev]


@pytest.mark.parametrize("case", CASES, ids=lambda c: c.__name__[5:])
def test_same_results_from_many_threads(case):
    expected = case()
    results, errors = [], []

    def worker():
        try:
            for _ in range(15):
                results.append(case())
        except Exception as e:  # reported below
            errors.append(e)

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert len(results) == 60
    for r in results:
        assert r.tobytes() == expected.tobytes()


@pytest.mark.parametrize("change", ["replace", "in place"])
def test_sum_while_another_thread_changes_an_operand(change):
    """t + u while u is given new arrays or changed in place: the sum is that
    with one state of u, never a mixture, and no freed memory is read."""
    from pyvelt.ductus import Trajectory1d
    from scipy.interpolate import BSpline

    n = 20000
    U1 = np.r_[[0.0] * 4, np.linspace(0, 1, n)[1:-1], [1.0] * 4]
    U2 = np.r_[[0.0] * 4, np.linspace(0, 1, n + 7)[1:-1], [1.0] * 4]
    P1 = np.cos(np.arange(len(U1) - 4.0))
    states = [np.sin(np.arange(len(U2) - 4.0)), np.arange(len(U2) - 4.0)]
    t, u = Trajectory1d(), Trajectory1d()
    t._dset_data(U1.tobytes(), P1.tobytes(), P, len(P1) - 1, 0, True)
    u._dset_data(U2.tobytes(), states[0].tobytes(), P, len(states[0]) - 1, 0, True)
    if change == "in place":
        states = [states[0], -states[0]]
    x = np.linspace(0, 1, 101)
    expected = [BSpline(U1, P1, P)(x) + BSpline(U2, s, P)(x) for s in states]
    stop = threading.Event()

    def changer():
        k = 0
        while not stop.is_set():
            k += 1
            if change == "replace":
                s = states[k % 2]
                u._dset_data(U2.tobytes(), s.tobytes(), P, len(s) - 1, 0, True)
            else:
                u.__imul__(-1.0)

    th = threading.Thread(target=changer)
    th.start()
    try:
        sums = [(t + u)(x) for _ in range(40)]
    finally:
        stop.set()
        th.join()
    for s in sums:
        assert any(np.allclose(s, e, rtol=0, atol=1e-9) for e in expected)
