"""Editing a trajectory and saving the variants into one document.

Knots are inserted and removed, the degree is raised, the motion is moved and
scaled, and every variant is saved under its own ID; the document is then
listed and read back. The document goes into a temporary folder, removed at the end.
"""
import os
import tempfile

import numpy as np

import pyvelt
from pyvelt.ductus import Point1d, Trajectory1d


def main() -> None:
    times = np.array([0.0, 0.5, 1.0, 1.5, 2.0, 2.5])
    pos = np.array([0.0, 0.2, 0.9, 1.0, 0.6, 0.5])
    x = pyvelt.interpolate(times, pos, p=3, slopes=(0.0, 0.0))
    grid = np.linspace(x.start, x.stop, 101)

    # Knots: the same curve with more control points, and back again.
    finer = x.knotins(1.25, 2)
    back = finer.knotrem(1.25, 2)
    print(f"knot 1.25 inserted twice: n {x.n} -> {finer.n}; removed again: n {back.n}, "
          f"equal to the original: {back == x}")
    assert np.allclose(finer(grid), x(grid)) and back == x

    # Degree: a quintic drawing the same curve.
    x5 = x.degelev(2)
    print(f"degree {x.p} -> {x5.p}, largest difference {np.max(np.abs(x5(grid) - x(grid))):.1e}")
    assert np.allclose(x5(grid), x(grid))

    # Time axis and values: start at 1 s, last 5 s, end at 0 rad.
    moved = x.copy()
    moved.ashift(1.0)
    moved.hscale(2.0)
    moved.setValueTr(Point1d(moved.stop, 0.0, 0))
    print(f"moved to [{moved.start}, {moved.stop}], ends at {moved(moved.stop):+.1e} rad")

    # Save every variant under its own ID, list the document, load one back.
    with tempfile.TemporaryDirectory() as folder:
        name = os.path.join(folder, "variants.pyvelt")
        variants = {"original": x, "finer": finer, "quintic": x5, "moved": moved,
                    "velocity": x.derivative()}
        for ID, t in variants.items():
            t.savexml(name, ID)
        Point1d(1.0, float(x(1.0)), 0).savexml(name, "waypoint")
        with open(name) as f:
            tags = [line.split()[0].lstrip("<") for line in f if ' ID="' in line]
        print(f"{name}: {len(tags)} objects ({', '.join(sorted(set(tags)))})")
        loaded = Trajectory1d.loadxml(name, "quintic")
        print(f"'quintic' loaded back: {loaded}, equal: {loaded == x5}")
        assert all(Trajectory1d.loadxml(name, ID) == t for ID, t in variants.items())


if __name__ == "__main__":
    main()
