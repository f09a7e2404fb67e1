"""pyvelt: one-dimensional trajectories as B-spline functions.

`pyvelt.arcus` holds the spline function library (knot vectors, evaluation,
editing, fitting and curve algebra over a C++ kernel).
"""

__version__ = "1.0.0"

__all__ = ["__version__"]
