"""Makes the package in this folder importable as `torva` when pytest runs from the checkout."""

import pathlib
import sys

_HERE = str(pathlib.Path(__file__).resolve().parent)
if _HERE not in sys.path:
    sys.path.insert(0, _HERE)
