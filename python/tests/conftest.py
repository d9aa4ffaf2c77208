"""Fixtures: two emulated amplifiers and machine settings of the test session's own.

The library reads TORVA_SIMULATE once per process, at its first bring-up, so the variables are
set for the whole session before any Driver opens. The settings file names a setup directory and
a calibration directory in the session's scratch folder, so no test touches the machine's.
"""

import os
import types

import pytest

from torva_testing import CHECKOUT, PLATES, CallRecorder


@pytest.fixture(scope="session", autouse=True)
def emulator(tmp_path_factory):
    root = tmp_path_factory.mktemp("torva")
    setup_directory = root / "cfg"
    calibration_directory = root / "calibration"
    setup_directory.mkdir()
    calibration_directory.mkdir()
    settings = root / "settings.conf"
    settings.write_text(
        "[SOFTWARE\\Torva\\CFG]\n"
        f"Path={setup_directory}/\n"
        "[SOFTWARE\\Torva\\HPS]\n"
        f"Path={calibration_directory}/\n")
    os.environ["TORVA_SIMULATE"] = str(PLATES)
    os.environ["TORVA_SETTINGS"] = str(settings)
    return types.SimpleNamespace(root=root, settings=settings, setup=setup_directory,
                                 calibration=calibration_directory)


@pytest.fixture(scope="session")
def torvactl():
    """The torvactl program: $TORVACTL, else the checkout's build; the test skips without it."""
    path = os.environ.get("TORVACTL") or str(CHECKOUT / "build" / "bin" / "torvactl")
    if not os.access(path, os.X_OK):
        pytest.skip(f"torvactl not found at {path} (set TORVACTL to run this comparison)")
    return path


@pytest.fixture
def driver():
    import torva

    with torva.Driver() as opened:
        yield opened


@pytest.fixture(scope="module")
def module_driver():
    import torva

    with torva.Driver() as opened:
        yield opened


@pytest.fixture
def recorded_calls(module_driver):
    """The module's driver with its library calls noted; restores the library afterwards."""
    library = module_driver._lib
    recorder = CallRecorder(library)
    module_driver._lib = recorder
    try:
        yield module_driver, recorder
    finally:
        module_driver._lib = library
