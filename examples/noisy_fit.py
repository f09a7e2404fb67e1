"""A least-squares fit of noisy samples of a joint's position.

A measured motion (a smooth curve plus sensor noise) is fitted with a cubic
of a few control points. The fit follows the motion, not the noise: its
residual is about the noise level, and it is closer to the true curve than the
samples are. Writes no files.
"""
import numpy as np

import pyvelt

SIGMA = 0.01    # rad, standard deviation of the noise


def truth(t: np.ndarray) -> np.ndarray:
    """The motion before the noise."""
    return np.asarray(0.8 * (1.0 - np.cos(np.pi * t / 2.0)) + 0.05 * t, dtype=np.float64)


def main() -> None:
    rng = np.random.default_rng(7)
    t = np.linspace(0.0, 2.0, 201)
    y = truth(t) + rng.normal(0.0, SIGMA, t.size)

    x = pyvelt.approximate(t, y, 12, p=3)       # 12 control points for 201 samples
    residual = float(np.sqrt(np.mean((x(t) - y) ** 2)))
    error = float(np.max(np.abs(x(t) - truth(t))))
    print(f"fit: degree {x.p}, {x.n + 1} control points on [{x.start}, {x.stop}]")
    print(f"rms residual {residual:.4f} rad (noise {SIGMA}), largest error to the "
          f"true motion {error:.4f} rad")
    assert 0.5 * SIGMA < residual < 1.5 * SIGMA
    assert error < 3 * SIGMA

    # Derivatives of the fit are smooth where differences of the samples are not.
    true_v = 0.8 * np.pi / 2.0 * np.sin(np.pi * t / 2.0) + 0.05
    fit_v = x(t, nu=1)
    diff_v = np.gradient(y, t)
    inner = slice(20, -20)      # the ends of a least-squares fit are less certain
    print(f"velocity error: fit {np.max(np.abs(fit_v - true_v)[inner]):.3f} rad/s, "
          f"differences of the samples {np.max(np.abs(diff_v - true_v)[inner]):.3f} rad/s")
    assert np.max(np.abs(fit_v - true_v)[inner]) < np.max(np.abs(diff_v - true_v)[inner])


if __name__ == "__main__":
    main()
