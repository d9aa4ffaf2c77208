"""Finding and loading ``libTorvaUSBDevice`` with every prototype of the one table applied.

The library is looked for, in this order:

1. the file named by the environment variable ``TORVA_LIBRARY`` (when set, nothing else is
   tried: a library asked for by name is never silently replaced by another);
2. the checkout's build tree, ``<checkout>/build/lib/libTorvaUSBDevice.so``, when this package
   is used from a checkout (found relative to this file);
3. the installed library by its soname, ``libTorvaUSBDevice.so.0``.

The library is loaded once per process: it holds one state, which every ``torva.Driver`` shares.
"""

import ctypes
import os
import pathlib
import threading

from ._prototypes import PROTOTYPES

LIBRARY_VARIABLE = "TORVA_LIBRARY"
SONAME = "libTorvaUSBDevice.so.0"

_load_lock = threading.Lock()
_loaded = None


def checkout_root():
    """The checkout this package lives in, or None when it is installed elsewhere."""
    root = pathlib.Path(__file__).resolve().parents[2]
    return root if (root / "driver" / "api" / "TorvaUSBDevice.h").is_file() else None


def candidates(environ=None):
    """Where the library would be looked for, in order: a list of (origin, path or soname)."""
    environ = os.environ if environ is None else environ
    named = environ.get(LIBRARY_VARIABLE, "")
    if named:
        return [(LIBRARY_VARIABLE, named)]
    found = []
    root = checkout_root()
    if root is not None:
        built = root / "build" / "lib" / "libTorvaUSBDevice.so"
        if built.is_file():
            found.append(("build tree", str(built)))
    found.append(("installed", SONAME))
    return found


def declare(library):
    """Applies the prototype table to a loaded library; OSError names a missing function."""
    for name, (result, arguments) in PROTOTYPES.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            raise OSError(f"{library._name} does not export {name}") from None
        function.restype = result
        function.argtypes = list(arguments)
    return library


def load():
    """The process's driver library, loaded and declared on first use.

    Raises OSError naming every place tried when no library could be loaded.
    """
    global _loaded
    with _load_lock:
        if _loaded is not None:
            return _loaded
        failures = []
        for origin, path in candidates():
            try:
                library = ctypes.CDLL(path)
            except OSError as error:
                failures.append(f"{origin} {path}: {error}")
                continue
            _loaded = declare(library)
            return _loaded
        raise OSError("cannot load the Torva driver library; tried " + "; ".join(failures))


def loaded_path():
    """The path or soname the process's library was loaded from (None before loading)."""
    return None if _loaded is None else _loaded._name
