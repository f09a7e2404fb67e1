"""Fit a cubic B-spline through waypoints and evaluate it with pyvelt.arcus."""
import numpy as np

import pyvelt
from pyvelt import arcus


def main():
    p = 3
    t = np.array([0.0, 0.1, 0.35, 0.5, 0.8, 1.0])       # waypoint times
    x = np.array([0.0, 0.2, 0.9, 1.0, 0.4, 0.0])        # joint positions

    # Clamped knot vector by averaging the waypoint times.
    U = np.empty(len(t) + p + 1)
    arcus.averaging(t, p, U)
    print(f"pyvelt {pyvelt.__version__}")
    print("knots:", U)

    # Evaluate the spline of control points x (a smoothing of the waypoints),
    # its velocity and acceleration on a time grid.
    C = np.linspace(0.0, 1.0, 6)
    CK = np.empty((3, len(C)))
    arcus.dsplcev(C, U, x, p, 0, 2, CK)
    for ti, pos, vel, acc in zip(C, *CK):
        print(f"t={ti:.2f}  x={pos:+.4f}  v={vel:+.4f}  a={acc:+.4f}")


if __name__ == "__main__":
    main()
