"""Plan a joint trajectory through waypoints with pyvelt.arcus.

Fits a cubic B-spline through the waypoints with zero velocity at both ends,
then prints position, velocity and acceleration on a time grid.
"""
import numpy as np

import pyvelt
from pyvelt import arcus


def main():
    p = 3
    t = np.array([0.0, 0.1, 0.35, 0.5, 0.8, 1.0])       # waypoint times
    x = np.array([0.0, 0.2, 0.9, 1.0, 0.4, 0.0])        # joint positions

    # Knot vector for interpolation with both end slopes given.
    U = np.empty(len(t) + p + 3)
    arcus.averaging2(t, p, U)
    P = np.empty(len(t) + 2)
    arcus.gdsplint(t, x, p, U, P, dy=(0.0, 0.0))
    print(f"pyvelt {pyvelt.__version__}: cubic through {len(t)} waypoints, {len(P)} control points")

    C = np.linspace(0.0, 1.0, 11)
    CK = np.empty((3, len(C)))
    arcus.dsplcev(C, U, P, p, 0, 2, CK)
    for ti, pos, vel, acc in zip(C, *CK):
        print(f"t={ti:.2f}  x={pos:+.4f}  v={vel:+.4f}  a={acc:+.4f}")

    err = max(abs(arcus.splpev(ti, U, P, p) - xi) for ti, xi in zip(t, x))
    print(f"largest deviation at the waypoints: {err:.1e}")


if __name__ == "__main__":
    main()
