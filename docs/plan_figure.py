"""Draws docs/plan.png: a planned motion against a uniformly time-scaled fit.

    python docs/plan_figure.py
"""
import pathlib

import numpy as np
from matplotlib.figure import Figure

import pyvelt

W = [0, 0.3, 1.2, 1.0, 0.5]
VMAX, AMAX, JMAX = 1.5, 6.0, 60.0


def main():
    m = pyvelt.plan(W, VMAX, AMAX, JMAX)
    # the old way: a cubic through the waypoints at chord-length times, at
    # rest in velocity, stretched uniformly until the limits hold
    x = np.concatenate(([0.0], np.cumsum(np.abs(np.diff(W)))))
    q = pyvelt.interpolate(x, W, p=3, slopes=(0.0, 0.0))
    q.hscale(q.timescale(vmax=VMAX, amax=AMAX, jmax=JMAX) * (1 + 1e-12))
    fig = Figure(figsize=(7.0, 6.4), layout="constrained")
    axes = fig.subplots(4, 1, sharex=True)
    for traj, times, label in ((m.joints[0], m.times, f"plan: {m.duration:.3f} s"),
                               (q, q.stop * x / x[-1], f"interpolate + timescale: "
                                                       f"{q.stop:.3f} s")):
        ts = np.linspace(traj.start, traj.stop, 2001)
        for nu, ax in enumerate(axes):
            line, = ax.plot(ts, traj(ts, nu), lw=1.4, label=label if nu == 0 else None)
        axes[0].plot(times, W, "o", ms=4, color=line.get_color())
    for ax, name, lim in zip(axes, ("position", "velocity", "acceleration", "jerk"),
                             (None, VMAX, AMAX, JMAX)):
        ax.set_ylabel(name)
        ax.grid(True, alpha=0.3)
        if lim:
            for s in (-1, 1):
                ax.axhline(s * lim, color="k", lw=0.8, ls="--")
    axes[0].legend(loc="lower right", fontsize=8)
    axes[-1].set_xlabel("t (s)")
    fig.suptitle(f"waypoints {W}, vmax {VMAX}, amax {AMAX}, jmax {JMAX}", fontsize=10)
    out = pathlib.Path(__file__).with_name("plan.png")
    fig.savefig(out, dpi=80)
    print(out)


if __name__ == "__main__":
    main()
