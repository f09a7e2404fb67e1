"""``python -m pyvelt``: the demo, and subcommands to fit, show, sample and plot."""
import sys

from pyvelt.cli import main

if __name__ == "__main__":
    sys.exit(main())
