"""Paths and helpers the tests share."""

import pathlib

CHECKOUT = pathlib.Path(__file__).resolve().parents[2]
HEADER = CHECKOUT / "driver" / "api" / "TorvaUSBDevice.h"
# Emulated amplifiers of the session (TORVA_SIMULATE).
PLATES = 2


class CallRecorder:
    """Stands in for the library object and notes every fm... function called through it."""

    def __init__(self, library):
        self._library = library
        self.calls = []

    def __getattr__(self, name):
        target = getattr(self._library, name)
        if not name.startswith("fm"):
            return target

        def call(*arguments):
            self.calls.append(name)
            return target(*arguments)

        return call
