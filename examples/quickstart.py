"""A joint trajectory through waypoints: fit, evaluate, edit, combine, save.

Run it from any folder: it writes `quickstart.pyvelt` into a temporary folder,
removed at the end, and prints what it does.
"""
import os
import tempfile

import numpy as np

import pyvelt
from pyvelt.ductus import Point1d, Trajectory1d


def main():
    # Waypoints of a joint (times in s, positions in rad), at rest at both ends.
    times = np.array([0.0, 0.4, 1.0, 1.5, 2.0])
    pos = np.array([0.0, 0.3, 1.2, 1.0, 0.5])
    x = pyvelt.interpolate(times, pos, p=3, slopes=(0.0, 0.0))
    print(f"pyvelt {pyvelt.__version__}: {x}")

    # Evaluate: one time, many times (any order), derivatives.
    print(f"x(0.7) = {x(0.7):.4f} rad, v(0.7) = {x(0.7, nu=1):.4f} rad/s")
    grid = np.linspace(x.start, x.stop, 5)
    print("x on a grid:", np.round(x(grid), 4))
    v = x.derivative()          # a velocity trajectory (order 1)
    a = v.derivative()          # an acceleration trajectory (order 2)
    print(f"velocity {v}, acceleration at 1.0 s: {a(1.0):.4f} rad/s^2")

    # Edit: the same motion on a new time span, and a knot more.
    slow = x.copy()
    slow.adapt(0.0, 4.0)        # twice as long: velocities halve
    print(f"stretched: v(1.4) = {slow(1.4, nu=1):.4f}, half of v(0.7) = {x(0.7, nu=1) / 2:.4f}")
    finer = x.knotins(1.2, 1)
    print(f"knot inserted: n {x.n} -> {finer.n}, same curve: {np.allclose(finer(grid), x(grid))}")

    # Combine: sums, scaling, a value constraint.
    offset = x + 0.1            # a copy moved up by 0.1 rad
    both = x + finer            # the sum of two trajectories
    print(f"(x + finer)(0.7) = {both(0.7):.4f} = 2 * {x(0.7):.4f}")
    offset.setValueTr(Point1d(2.0, 0.0, 0))  # end at 0 rad by a vertical shift
    print(f"shifted to end at 0: {offset(2.0):+.1e}")

    # Save and load: several objects in one document.
    with tempfile.TemporaryDirectory() as folder:
        name = os.path.join(folder, "quickstart")
        x.savexml(name, "position")
        v.savexml(name, "velocity")
        back = Trajectory1d.loadxml(name, "velocity")
        print(f"saved to {name}.pyvelt and loaded back equal: {back == v}")


if __name__ == "__main__":
    main()
