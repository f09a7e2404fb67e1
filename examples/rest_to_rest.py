"""From rest to rest: zero velocity AND zero acceleration at both ends.

A quintic through joint waypoints with zero end velocities only still starts
and stops with an acceleration, so its jerk has a step at both ends that no
sampled jerk check sees. Giving the end accelerations too removes it.

    python examples/rest_to_rest.py                  # prints the numbers
    python examples/rest_to_rest.py docs/rest_to_rest.png   # and draws the jerk

The figure needs matplotlib; nothing else is written.
"""
import importlib
import sys

import numpy as np

import pyvelt

# Waypoints of a joint: times in s, positions in rad (those of the demo).
TIMES = np.array([0.0, 0.5, 1.2, 2.0, 2.6, 3.0])
POSITIONS = np.array([0.0, 0.4, 1.3, 1.1, 0.3, 0.0])


def fits():
    before = pyvelt.interpolate(TIMES, POSITIONS, p=5, slopes=(0.0, 0.0))
    after = pyvelt.interpolate(TIMES, POSITIONS, p=5, slopes=(0.0, 0.0), accels=(0.0, 0.0))
    return {"end velocities only": before, "rest to rest": after}


def report(trajs):
    for name, x in trajs.items():
        jerk = x.derivative(3)
        lo, _, hi, _ = jerk.extrema()
        print(f"{name}: acceleration at the ends {x(x.start, nu=2):+.4f} and "
              f"{x(x.stop, nu=2):+.4f} rad/s^2, jerk at the ends {x(x.start, nu=3):+.2f} and "
              f"{x(x.stop, nu=3):+.2f} rad/s^3, peak |jerk| {max(-lo, hi):.2f} rad/s^3")


def draw(trajs, out):
    # matplotlib is optional: imported by name, so that type checks pass without it
    Figure = importlib.import_module("matplotlib.figure").Figure

    fig = Figure(figsize=(7.0, 4.2), layout="constrained")
    top, bottom = fig.subplots(2, 1, sharex=True)
    ts = np.linspace(TIMES[0], TIMES[-1], 1201)
    pad = 0.15      # at rest before the start and after the end
    for (name, x), style in zip(trajs.items(), ("--", "-")):
        t_all = np.r_[ts[0] - pad, ts[0], ts, ts[-1], ts[-1] + pad]
        acc = np.r_[0.0, 0.0, x(ts, nu=2), 0.0, 0.0]
        top.plot(t_all, acc, style, lw=1.5, label=name)
        line, = bottom.plot(ts, x(ts, nu=3), style, lw=1.5, label=name)
        for t in (x.start, x.stop):
            step = x(t, nu=2)
            if abs(step) > 1e-9:
                # A step of the acceleration: the jerk is an impulse there.
                bottom.annotate(f"unbounded\n(acceleration\nsteps by {step:.1f})",
                                xy=(t, 0.0), xytext=(t, 38.0), ha="center", fontsize=7,
                                color=line.get_color(),
                                arrowprops=dict(arrowstyle="<-", color=line.get_color()))
    top.set_ylabel("acceleration (rad/s^2)")
    bottom.set_ylabel("jerk (rad/s^3)")
    bottom.set_xlabel("t (s)")
    for ax in (top, bottom):
        ax.grid(True, alpha=0.3)
    top.legend(loc="lower left", fontsize=7)
    fig.suptitle("Quintic through 6 waypoints: end velocities only vs. rest to rest")
    fig.savefig(out, dpi=80)
    print(f"figure: {out}")


def main(argv):
    trajs = fits()
    report(trajs)
    if argv:
        draw(trajs, argv[0])


if __name__ == "__main__":
    main(sys.argv[1:])
