"""`python -m tarnwel`: the command line (see `tarnwel.cli`)."""

import sys

from tarnwel.cli import main

if __name__ == "__main__":
    sys.exit(main())
