"""python3 -m quorlib: the command line (see quorlib.cli)."""
import sys

from .cli import main

sys.exit(main())
