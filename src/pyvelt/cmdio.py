"""Input of the ``python -m pyvelt`` command: the failure it reports as one
line, and the rows of the CSV files its subcommands read."""
import math
import os
from typing import Iterator, List, Optional, Tuple

__all__ = ["CommandError", "csv_rows", "need_finite"]


class CommandError(Exception):
    """A failure of the command, reported as one line without a traceback."""


def csv_rows(path: str) -> Iterator[Tuple[int, List[str], List[Optional[float]]]]:
    """The data lines of a CSV file: line number, cells, and their numbers.

    Parameters
    ----------
    path : str
        The file (UTF-8, with or without a byte-order mark).

    Returns
    -------
    iterator of (int, list of str, list of float or None)
        For each line that is not blank and not a ``#`` comment: its number,
        its comma-separated cells (stripped), and each cell as a number (None
        where it is not one).

    Notes
    -----
    CommandError when the file cannot be read.
    """
    for lineno, line in enumerate(_read_text(path).splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        cells = [c.strip() for c in line.split(",")]
        yield lineno, cells, [_number(c) for c in cells]


def need_finite(path: str, lineno: int, cells: List[str], numbers: List[Optional[float]]) -> None:
    """CommandError naming the line and cell of the first value that is not a
    finite number.

    Parameters
    ----------
    path : str
        The file, for the message.
    lineno : int
        The line, for the message.
    cells, numbers : list
        A row of `csv_rows`.

    Returns
    -------
    None
    """
    for cell, num in zip(cells, numbers):
        if num is None or not math.isfinite(num):
            raise CommandError(f"{path}, line {lineno}: '{cell}' is not a finite number")


def _number(cell: str) -> Optional[float]:
    try:
        return float(cell)
    except ValueError:
        return None


def _read_text(path: str) -> str:
    if not os.path.isfile(path):
        raise CommandError(f"no such file: {path}")
    try:
        # utf-8-sig: spreadsheets start their CSV files with a byte-order mark.
        with open(path, encoding="utf-8-sig") as f:
            return f.read()
    except (OSError, UnicodeDecodeError) as e:
        raise CommandError(f"cannot read {path}: {e}") from None
