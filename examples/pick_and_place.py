"""A pick-and-place joint motion kept within velocity and acceleration limits.

The joint lifts a part, swings it over and sets it down, at rest at both
ends. The first timing is too fast for the drive: the motion is stretched in
time until its peak velocity and acceleration are within the limits. Writes
no files.
"""
import math
from typing import Tuple

import numpy as np

import pyvelt
from pyvelt.ductus import Trajectory1d

V_MAX = 2.0     # rad/s
A_MAX = 6.0     # rad/s^2


def peaks(x: Trajectory1d, samples: int = 2001) -> Tuple[float, float]:
    """Peak |velocity| and |acceleration| of x, sampled densely."""
    ts = np.linspace(x.start, x.stop, samples)
    return float(np.max(np.abs(x(ts, nu=1)))), float(np.max(np.abs(x(ts, nu=2))))


def main() -> None:
    # Waypoints (s, rad): pick, lift, swing, lower, place.
    times = np.array([0.0, 0.25, 0.6, 0.95, 1.2])
    pos = np.array([0.0, 0.1, 0.8, 1.5, 1.6])
    x = pyvelt.interpolate(times, pos, p=5, slopes=(0.0, 0.0))
    v, a = peaks(x)
    print(f"first timing: {x.stop - x.start:.2f} s, peak velocity {v:.3f} rad/s, "
          f"peak acceleration {a:.3f} rad/s^2")

    # Stretching the time axis by k divides velocities by k and
    # accelerations by k**2; the waypoints keep their order and values.
    k = max(1.0, v / V_MAX, math.sqrt(a / A_MAX))
    slow = x.copy()
    slow.adapt(x.start, x.start + k * (x.stop - x.start))
    v2, a2 = peaks(slow)
    print(f"stretched by {k:.3f}: {slow.stop - slow.start:.3f} s, peak velocity {v2:.3f} "
          f"(limit {V_MAX}), peak acceleration {a2:.3f} (limit {A_MAX})")
    assert v2 <= V_MAX * (1 + 1e-9) and a2 <= A_MAX * (1 + 1e-9)

    # Still at rest at both ends and through the same positions.
    ends = [slow(t, nu=1) for t in (slow.start, slow.stop)]
    assert max(abs(e) for e in ends) < 1e-9
    assert np.allclose(slow(times * k), pos)
    print(f"at rest at both ends, passes the waypoints at the times scaled by {k:.3f}")


if __name__ == "__main__":
    main()
