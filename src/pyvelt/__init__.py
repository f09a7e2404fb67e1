"""pyvelt: one-dimensional trajectories as B-spline functions.

`pyvelt.ductus` holds the trajectory objects (`Trajectory1d`, `Point1d`) and
their XML documents, `pyvelt.arcus` the spline function library over a C++
kernel (knot vectors, evaluation, editing, fitting and curve algebra).
`pyvelt.trajectory`, `pyvelt.interpolate` and `pyvelt.approximate` build
trajectories from arrays or data points; `pyvelt.plan` plans the shortest
motion through waypoints under velocity, acceleration and jerk limits.
"""

from typing import TYPE_CHECKING, Any, List

# The package's version, written only here: the build reads it from this line.
__version__ = "1.0.0"

__all__ = ["__version__", "trajectory", "interpolate", "approximate", "plan", "Motion"]

_BUILDERS = ("trajectory", "interpolate", "approximate")
_PLANNER = ("plan", "Motion")

if TYPE_CHECKING:  # type checkers see the builders; at run time they load lazily
    from pyvelt.build import approximate, interpolate, trajectory
    from pyvelt.plan import Motion, plan


def __getattr__(name: str) -> Any:
    # The builders import the extension modules, which import this package:
    # they are loaded on first use.
    if name in _BUILDERS:
        from pyvelt import build

        return getattr(build, name)
    if name in _PLANNER:
        # The function `plan` shares its name with its module: once the module
        # is loaded, the package attribute is set to the function.
        import importlib

        module = importlib.import_module("pyvelt.plan")
        globals()["plan"] = module.plan
        return getattr(module, name)
    raise AttributeError(f"module 'pyvelt' has no attribute '{name}'")


def __dir__() -> List[str]:
    return sorted(list(globals()) + list(_BUILDERS) + list(_PLANNER))
