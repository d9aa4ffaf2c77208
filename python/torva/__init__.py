"""torva: Python access to the Torva force-plate driver library (libTorvaUSBDevice).

    import torva

    with torva.Driver() as driver:             # fmDLLInit, waits for the bring-up
        for amplifier in driver.amplifiers:    # one record per platform position
            print(amplifier.position, amplifier.platform_serial, amplifier.length_m)
        recording = driver.record(10.0)        # 10 s of every plate
    print(recording.channels.shape)            # (samples, plates, 6): Fx Fy Fz Mx My Mz
    cop = recording.cop()                      # centre of pressure, metres, plate axes
    recording.to_csv("trial.csv")              # the columns of `torvactl stream`

Blocks as they arrive::

    with torva.Driver() as driver, driver.stream() as stream:
        for block in stream:
            handle(block.counters, block.channels)

The library is found through ``TORVA_LIBRARY``, the checkout's build tree or the installed
``libTorvaUSBDevice.so.0`` (see ``torva._library``). Without hardware, set ``TORVA_SIMULATE``
(for example ``TORVA_SIMULATE=2``) before the first Driver opens, and the library emulates that
many amplifiers.

Everything is pure Python over ctypes and numpy. Failures of the library raise DriverError with
the library's code and text; arguments of the wrong type or outside what the library accepts
raise TypeError or ValueError before any library call.
"""

from ._driver import (
    DOWNLOAD_STATUS_TEXTS,
    METRES_PER_INCH,
    SETUP_STATUS_TEXTS,
    SMART_PLATE_TYPES,
    Amplifier,
    Driver,
    SetupCheck,
)
from ._errors import DriverError, DriverInUseError, ErrorRecord, parse_error_record
from ._library import load as load_library
from ._prototypes import RATE_RANGE
from ._recording import Recording, centre_of_pressure, csv_header
from ._stream import Block, Stream

__all__ = [
    "Amplifier",
    "Block",
    "DOWNLOAD_STATUS_TEXTS",
    "Driver",
    "DriverError",
    "DriverInUseError",
    "ErrorRecord",
    "METRES_PER_INCH",
    "RATE_RANGE",
    "Recording",
    "SETUP_STATUS_TEXTS",
    "SMART_PLATE_TYPES",
    "SetupCheck",
    "Stream",
    "centre_of_pressure",
    "csv_header",
    "load_library",
    "parse_error_record",
]

__version__ = "0.1.0"
