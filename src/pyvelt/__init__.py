"""pyvelt: one-dimensional trajectories as B-spline functions.

`pyvelt.ductus` holds the trajectory objects (`Trajectory1d`, `Point1d`) and
their XML documents, `pyvelt.arcus` the spline function library over a C++
kernel (knot vectors, evaluation, editing, fitting and curve algebra).
`pyvelt.trajectory`, `pyvelt.interpolate` and `pyvelt.approximate` build
trajectories from arrays or data points.
"""

from typing import TYPE_CHECKING, Any, List

__version__ = "1.0.0"

__all__ = ["__version__", "trajectory", "interpolate", "approximate"]

_BUILDERS = ("trajectory", "interpolate", "approximate")

if TYPE_CHECKING:  # type checkers see the builders; at run time they load lazily
    from pyvelt.build import approximate, interpolate, trajectory


def __getattr__(name: str) -> Any:
    # The builders import the extension modules, which import this package:
    # they are loaded on first use.
    if name in _BUILDERS:
        from pyvelt import build

        return getattr(build, name)
    raise AttributeError(f"module 'pyvelt' has no attribute '{name}'")


def __dir__() -> List[str]:
    return sorted(list(globals()) + list(_BUILDERS))
