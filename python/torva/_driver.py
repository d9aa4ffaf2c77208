"""``torva.Driver``: one session of the driver library, from fmDLLInit to its shut-down."""

import atexit
import collections
import ctypes
import dataclasses
import threading
import time
import warnings
import weakref

import numpy as np

from . import _checks
from . import _library
from . import _prototypes as P
from ._errors import DriverError, DriverInUseError, parse_error_record
from ._recording import Recording
from ._stream import Stream, default_poll_interval

METRES_PER_INCH = 0.0254
# Product types of the smart plates, which keep their calibration and accept downloads.
SMART_PLATE_TYPES = (300, 400)
# The error-record code of an amplifier the bring-up left out because another program holds it.
_IN_USE = 9
_POLL_SECONDS = 0.005
_SHUTDOWN_LIMIT_SECONDS = 10.0

# The library has one state per process: at most one Driver is open at a time.
_process_lock = threading.Lock()
_open_driver = None

SETUP_STATUS_TEXTS = {
    0: "The setup check has not run",
    1: "The amplifiers match the saved setup",
    211: "Helix configuration file not found",
    213: "Helix configuration file incorrect version",
    214: "Signal conditioner count does not match saved configuration",
    216: "No Helix's detected",
}

DOWNLOAD_STATUS_TEXTS = {
    0: "running",
    1: "complete",
    2: "the calibration file cannot be loaded or is not for this plate",
    3: "the plate rejected the file's version",
    4: "the plate found the file's checksum wrong",
    5: "the plate failed the download",
}

DOWNLOAD_REFUSAL_TEXTS = {
    1: "no amplifier is selected",
    2: "the plate has no calibration memory (product type is not 300 or 400)",
    3: "no calibration file: name it after the plate's serial number with .bcf in the "
       "directory the machine settings give under SOFTWARE\\Torva\\HPS / Path",
    4: "the calibration file is for another product type",
}


@dataclasses.dataclass(frozen=True)
class Amplifier:
    """One amplifier and its plate, at its platform position.

    Lengths are in metres (the library keeps inches); the origin offsets are the plate's sensor
    origin (x, y, z) as the centre-of-pressure formula uses them.
    """

    position: int
    slot: int
    amplifier_serial: str
    amplifier_model: str
    firmware_version: str
    product_type: int
    platform_serial: str
    platform_model: str
    length_m: float
    width_m: float
    origin_m: tuple
    rotation_deg: float
    rate: int
    smart_plate: bool
    download_status: object  # int for smart plates, None for others

    @property
    def download_text(self):
        """The download status in words ("" for plates that are not smart)."""
        if self.download_status is None:
            return ""
        return DOWNLOAD_STATUS_TEXTS.get(self.download_status, "the plate failed the download")


SetupCheck = collections.namedtuple("SetupCheck", "code meaning")
SetupCheck.__doc__ = "The setup check's status code and what it means, in the library's words."


def _text(buffer):
    """A NUL-padded text buffer as str (cut at the first NUL)."""
    return bytes(buffer).split(b"\0", 1)[0].decode("latin-1")


def _float32_value(value):
    """A 32-bit float from the library as the shortest decimal that reads back as it (-0.02,
    not -0.019999999552965164)."""
    return float(str(np.float32(value)))


def _inches_text_to_metres(text):
    try:
        return float(text) * METRES_PER_INCH
    except ValueError:
        return float("nan")


def _wait_until(done, limit):
    """Polls `done` every few milliseconds until it is true or `limit` seconds pass."""
    deadline = time.monotonic() + limit
    while not done():
        if time.monotonic() >= deadline:
            return False
        time.sleep(_POLL_SECONDS)
    return True


class Driver:
    """The driver library, initialised for the life of a ``with`` block.

        with torva.Driver() as driver:
            print(driver.amplifiers)
            recording = driver.record(10)

    Entering calls fmDLLInit and waits up to ``timeout`` seconds for the amplifiers' bring-up
    (DriverError when it does not finish). Leaving stops any acquisition, shuts the library down
    and waits for the shut-down, also when the block raised. The library has one state per
    process, so only one Driver may be open at a time: opening a second raises
    DriverInUseError. ``open()`` and ``close()`` do the same without a ``with`` block.

    The library's functions are meant to be called from one thread; a Driver serialises its own
    calls with a lock, so it may be shared, but a stream is read from one thread.
    """

    def __init__(self, timeout=30.0):
        self._timeout = _checks.seconds("timeout", timeout)
        self._lib = None
        self._open = False
        self._count = 0
        self._lock = threading.RLock()
        self._stream_ref = None  # weak: a stream nobody holds any more is stopped and collected
        self._ordering_cancelled = threading.Event()

    # ----------------------------------------------------------------------------- life cycle

    def __enter__(self):
        self.open()
        return self

    def __exit__(self, exception_type, exception, traceback):
        self.close(raise_errors=exception_type is None)
        return False

    def __repr__(self):
        state = f"open, {self._count} amplifiers" if self._open else "closed"
        return f"<torva.Driver {state}>"

    @property
    def is_open(self):
        """True between open() and close()."""
        return self._open

    def open(self):
        """Initialises the library and waits for the bring-up; see the class description."""
        global _open_driver
        if self._open:
            raise DriverError("this Driver is already open")
        lib = _library.load()
        if not _process_lock.acquire(blocking=False):
            raise DriverInUseError(
                "another torva.Driver is open in this process; close it first (the driver "
                "library has one state per process)")
        initialised = False
        try:
            if lib.fmDLLInit() != 1:
                raise DriverError("fmDLLInit failed to start the library")
            initialised = True
            lib.fmDLLPostDataReadyMessages(0)
            if not _wait_until(lambda: lib.fmDLLIsDeviceInitComplete() != 0, self._timeout):
                raise DriverError(
                    f"the library did not finish bringing the amplifiers up in {self._timeout:g} s")
            self._lib = lib
            self._count = max(0, min(lib.fmDLLGetDeviceCount(), P.MAX_AMPLIFIERS))
        except BaseException:
            if initialised:
                lib.fmDLLShutDown()
                _wait_until(lambda: lib.fmIsDLLShutDown() == 1, _SHUTDOWN_LIMIT_SECONDS)
            self._lib = None
            _process_lock.release()
            raise
        self._open = True
        _open_driver = self
        record = parse_error_record(self._error_text())
        if record is not None and record.serial and record.code == _IN_USE:
            warnings.warn(f"amplifier {record.serial} is in use by another program and was left "
                          f"out", RuntimeWarning, stacklevel=2)
        return self

    def close(self, raise_errors=True):
        """Stops any acquisition and shuts the library down, waiting up to 10 s for it.

        Does nothing when the Driver is not open. Raises DriverError when the library did not
        shut down in time (only warns when ``raise_errors`` is false, as when leaving a ``with``
        block that raised, so that its exception is not replaced).
        """
        global _open_driver
        if not self._open:
            return
        lib = self._lib
        down = False
        try:
            with self._lock:
                stream = self._active_stream()
                if stream is not None:
                    stream.close()
                # Also stops what an ordering run or a start from elsewhere left running.
                lib.fmBroadcastStop()
                lib.fmDLLShutDown()
            down = _wait_until(lambda: lib.fmIsDLLShutDown() == 1, _SHUTDOWN_LIMIT_SECONDS)
        finally:
            self._open = False
            self._stream_ref = None
            if _open_driver is self:
                _open_driver = None
            _process_lock.release()
        if not down:
            message = f"the library did not shut down within {_SHUTDOWN_LIMIT_SECONDS:g} s"
            if raise_errors:
                raise DriverError(message)
            warnings.warn(message, RuntimeWarning, stacklevel=2)

    def _locked(self, function, *arguments):
        """Calls a library function under the Driver's lock."""
        with self._lock:
            return function(*arguments)

    def _require_open(self):
        if not self._open:
            raise DriverError("the Driver is not open (use it in a with block or call open())")
        return self._lib

    def _active_stream(self):
        stream = self._stream_ref() if self._stream_ref is not None else None
        return None if stream is None or stream.closed else stream

    def _require_idle(self, what):
        if self._active_stream() is not None:
            raise DriverError(f"cannot {what} while a stream runs; close the stream first")

    def _position(self, position):
        position = _checks.whole("position", position)
        self._require_open()
        if not 0 <= position < self._count:
            raise ValueError(f"no amplifier at position {position} ({self._count} found)")
        return position

    # ------------------------------------------------------------------------- library state

    @property
    def version(self):
        """The library's version number (30568)."""
        return self._require_open().fmDLLGetVersionID()

    @property
    def device_count(self):
        """Amplifiers the bring-up found (fixed until the Driver closes)."""
        self._require_open()
        return self._count

    def attached_count(self):
        """Amplifiers attached to the bus now (counted afresh, not brought up)."""
        return self._require_open().fmDLLConfurmDeviceCount()

    def _error_text(self):
        buffer = P.out_buffer("fmDLLGetError")
        with self._lock:
            flag = self._lib.fmDLLGetError(buffer)
        return _text(buffer) if flag == 1 else ""

    @property
    def error(self):
        """The library's error record as an ErrorRecord (serial, code, message, text), or None
        while it holds none."""
        self._require_open()
        text = self._error_text()
        return parse_error_record(text) if text else None

    def _position_of_serial(self, serial):
        for amplifier in self.amplifiers:
            if amplifier.amplifier_serial == serial:
                return amplifier.position
        return -1

    def _platform_order(self):
        order = P.out_buffer("fmDLLGetPlatformOrder")
        count = self._lib.fmDLLGetPlatformOrder(order)
        return tuple(order[: max(0, min(count, P.MAX_AMPLIFIERS))])

    @property
    def amplifiers(self):
        """A tuple of Amplifier records, one per platform position, read from the library now."""
        lib = self._require_open()
        records = []
        with self._lock:
            order = self._platform_order()
            for position in range(self._count):
                lib.fmDLLSelectDeviceIndex(position)
                records.append(self._selected_amplifier(position, order))
        return tuple(records)

    def _selected_amplifier(self, position, order):
        lib = self._lib

        def text(function):
            buffer = P.out_buffer(function)
            getattr(lib, function)(buffer)
            return _text(buffer)

        length = P.out_buffer("fmGetPlatformLengthAndWidth", 0)
        width = P.out_buffer("fmGetPlatformLengthAndWidth", 1)
        lib.fmGetPlatformLengthAndWidth(length, width)
        offsets = P.out_buffer("fmGetPlatformXYZOffsets")
        lib.fmGetPlatformXYZOffsets(offsets)
        product_type = lib.fmGetProductType()
        smart = product_type in SMART_PLATE_TYPES
        return Amplifier(
            position=position,
            slot=order[position] if position < len(order) else position,
            amplifier_serial=text("fmGetAmplifierSerialNumber"),
            amplifier_model=text("fmGetAmplifierModelNumber"),
            firmware_version=text("fmGetAmplifierFirmwareVersion"),
            product_type=product_type,
            platform_serial=text("fmGetPlatformSerialNumber"),
            platform_model=text("fmGetPlatformModelNumber"),
            length_m=_inches_text_to_metres(_text(length)),
            width_m=_inches_text_to_metres(_text(width)),
            origin_m=tuple(_float32_value(value) * METRES_PER_INCH for value in offsets),
            rotation_deg=float(lib.fmGetPlatformRotation()),
            rate=lib.fmGetAcquisitionRate(),
            smart_plate=smart,
            download_status=lib.fmIsVantorDownloadComplete() if smart else None,
        )

    def info(self, position):
        """Every parameter of one amplifier as ``torvactl info`` shows them: a dict of its
        identity, modes, statuses and tables (offsets in inches, as the amplifier keeps them)."""
        position = self._position(position)
        lib = self._lib

        def table(function):
            buffer = P.out_buffer(function)
            getattr(lib, function)(buffer)
            return tuple(buffer)

        with self._lock:
            lib.fmDLLSelectDeviceIndex(position)
            date = P.out_buffer("fmGetAmplifierDate")
            lib.fmGetAmplifierDate(date)
            platform_date = P.out_buffer("fmGetPlatformDate")
            lib.fmGetPlatformDate(platform_date)
            return {
                "amplifier": self._selected_amplifier(position, self._platform_order()),
                "amplifier_date": _text(date),
                "platform_date": _text(platform_date),
                "run_mode": lib.fmGetRunMode(),
                "matrix_mode": lib.fmGetMatrixMode(),
                "smart_plate_status": lib.fmVantorGetStatus(),
                "excitation_status": lib.fmGetExcitationStatus(),
                "memory_status": lib.fmGetAmpliferMemoryStatus(),
                "ad_reference": float(lib.fmGetADRef()),
                "cable_length": float(lib.fmGetCableLength()),
                "platform_offsets_in": table("fmGetPlatformXYZOffsets"),
                "platform_capacity": table("fmGetPlatformCapacity"),
                "bridge_resistance": table("fmGetPlatformBridgeResistance"),
                "channel_offsets": table("fmGetChannelOffsetsTable"),
                "gains": table("fmGetCurrentGains"),
                "excitations": table("fmGetCurrentExcitations"),
                "gain_table": table("fmGetGainTable"),
                "excitation_table": table("fmGetExcitationTable"),
                "inverted_sensitivity": table("fmGetInvertedSensitivityMatrix"),
                "dac_gains": table("fmGetDACGainsTable"),
                "dac_offsets": table("fmGetDACOffsetTable"),
                "dac_sensitivities": table("fmGetDACSensitivities"),
            }

    # ------------------------------------------------------------------------------- settings

    @property
    def rate(self):
        """The acquisition rate in samples/s (that of the amplifier at position 0; the library's
        settings record's rate when there is none). Setting it sends the rate to every
        amplifier: a whole number from 10 to 3000, as the library accepts."""
        lib = self._require_open()
        with self._lock:
            if self._count == 0:
                return lib.fmDLLGetAcquisitionRate()
            lib.fmDLLSelectDeviceIndex(0)
            return lib.fmGetAcquisitionRate()

    @rate.setter
    def rate(self, rate):
        rate = _checks.whole("rate", rate, *P.RATE_RANGE)
        lib = self._require_open()
        self._require_idle("change the rate")
        with self._lock:
            lib.fmBroadcastAcquisitionRate(rate)
            rates = set()
            for position in range(self._count):
                lib.fmDLLSelectDeviceIndex(position)
                rates.add(lib.fmGetAcquisitionRate())
        if rates - {rate}:
            raise DriverError(f"the amplifiers kept rates {sorted(rates)} instead of {rate}")

    def setup_check(self, timeout=5.0):
        """The setup check's result: SetupCheck(code, meaning).

        Codes: 1 the amplifiers match the saved setup, 211 no saved setup, 213 a saved setup of
        another version, 214 the amplifiers differ from it (or its count is corrupt), 216 no
        amplifiers, 0 not run yet (waited for up to ``timeout`` seconds). The meaning is the
        library's own text from its error record when it has one for the code.
        """
        timeout = _checks.seconds("timeout", timeout)
        lib = self._require_open()
        _wait_until(lambda: self._locked(lib.fmDLLSetupCheck) != 0 or self._count == 0, timeout)
        code = self._locked(lib.fmDLLSetupCheck)
        record = parse_error_record(self._error_text())
        if record is not None and record.code == code and not record.serial:
            return SetupCheck(code, record.message)
        return SetupCheck(code, SETUP_STATUS_TEXTS.get(code, "unknown setup-check status"))

    def save_setup(self, force=False):
        """Saves the amplifiers in their current order with the acquisition settings as the
        setup that later bring-ups compare with and adopt. With no amplifiers found, refuses
        (DriverError) unless ``force`` is true, so that a wrong environment does not replace a
        saved setup with an empty one."""
        force = _checks.flag("force", force)
        lib = self._require_open()
        if self._count == 0 and not force:
            raise DriverError("no amplifiers found; pass force=True to save an empty setup")
        with self._lock:
            if lib.fmDLLSaveConfiguration() != 1:
                text = self._error_text()
                record = parse_error_record(text)
                raise DriverError(f"the setup was not saved: {text.strip()}",
                                  code=record.code if record else None, text=text)

    # ---------------------------------------------------------------------------- maintenance

    def zero(self):
        """Zeroes every amplifier."""
        lib = self._require_open()
        with self._lock:
            lib.fmBroadcastZero()

    def tare(self, timeout=5.0):
        """Tares every amplifier and returns each one's six tare values, by position."""
        timeout = _checks.seconds("timeout", timeout)
        lib = self._require_open()
        with self._lock:
            lib.fmBroadcastTare()
            for position in range(self._count):
                lib.fmDLLSelectDeviceIndex(position)
                lib.fmUpdateTare()
        values = []
        deadline = time.monotonic() + timeout
        for position in range(self._count):
            buffer = P.out_buffer("fmGetTare")

            def arrived():
                with self._lock:
                    lib.fmDLLSelectDeviceIndex(position)
                    return lib.fmGetTare(buffer) == 1

            if not _wait_until(arrived, max(deadline - time.monotonic(), 0.0)):
                raise DriverError(f"the tare values of position {position} did not arrive")
            values.append(tuple(buffer))
        return tuple(values)

    def clear_tare(self):
        """Clears the tare of every amplifier."""
        lib = self._require_open()
        with self._lock:
            lib.fmBroadcastClearTare()

    def blink(self, position):
        """Blinks the light of the amplifier at ``position``."""
        position = self._position(position)
        with self._lock:
            self._lib.fmDLLSelectDeviceIndex(position)
            self._lib.fmSetBlink()

    def _selections(self, position, getter):
        position = self._position(position)
        buffer = P.out_buffer(getter)
        with self._lock:
            self._lib.fmDLLSelectDeviceIndex(position)
            getattr(self._lib, getter)(buffer)
        return tuple(buffer)

    def _set_selections(self, position, values, name, bounds, setter, getter):
        position = _checks.whole("position", position)
        values = _checks.whole_sequence(name, values, P.IN_ELEMENTS[(setter, 0)], *bounds)
        position = self._position(position)
        array = (ctypes.c_int * P.IN_ELEMENTS[(setter, 0)])(*values)
        with self._lock:
            self._lib.fmDLLSelectDeviceIndex(position)
            getattr(self._lib, setter)(array)
        return self._selections(position, getter)

    def gains(self, position):
        """The six gain selections (0..3) of the amplifier at ``position``."""
        return self._selections(position, "fmGetCurrentGains")

    def set_gains(self, position, gains):
        """Sets the six gain selections (each 0..3); returns what the amplifier now holds."""
        return self._set_selections(position, gains, "gains", P.GAIN_RANGE,
                                    "fmSetCurrentGains", "fmGetCurrentGains")

    def excitations(self, position):
        """The six excitation selections (0..2) of the amplifier at ``position``."""
        return self._selections(position, "fmGetCurrentExcitations")

    def set_excitations(self, position, excitations):
        """Sets the six excitation selections (each 0..2); returns what the amplifier holds."""
        return self._set_selections(position, excitations, "excitations", P.EXCITATION_RANGE,
                                    "fmSetCurrentExcitations", "fmGetCurrentExcitations")

    def set_rotation(self, position, degrees):
        """Sets the platform rotation (0 <= degrees < 360); returns the rotation now held."""
        position = _checks.whole("position", position)
        degrees = _checks.real("degrees", degrees, 0.0, 360.0, highest_excluded=True)
        position = self._position(position)
        with self._lock:
            self._lib.fmDLLSelectDeviceIndex(position)
            self._lib.fmSetPlatformRotation(degrees)
            return float(self._lib.fmGetPlatformRotation())

    # -------------------------------------------------------------------------------- ordering

    def order(self, threshold_n=200.0, timeout=30.0):
        """Finds the platform order by loading the plates one after the other.

        Starts an ordering run with ``threshold_n`` newtons of vertical force marking a plate as
        stepped on, and waits up to ``timeout`` seconds for every plate to be loaded. Returns the
        new order (the amplifier slot at each position), or None when ``cancel_order()`` was
        called meanwhile (from another thread). On a time-out the run is cancelled, the order
        stays as it was and DriverError is raised. Acquisition is stopped afterwards.
        """
        threshold_n = _checks.real("threshold_n", threshold_n, 0.0, 100000.0, lowest_excluded=True)
        timeout = _checks.seconds("timeout", timeout)
        lib = self._require_open()
        self._require_idle("order the platforms")
        if self._count == 0:
            raise DriverError("no amplifiers found")
        self._ordering_cancelled.clear()
        finished = False
        with self._lock:
            lib.fmBroadcastPlatformOrderingThreshold(threshold_n)
            lib.fmDLLStartPlatformOrdering()
            lib.fmBroadcastStart()
        try:
            finished = _wait_until(
                lambda: (self._ordering_cancelled.is_set()
                         or self._locked(lib.fmDLLIsPlatformOrderingComplete) == 1),
                timeout)
            if self._ordering_cancelled.is_set():
                return None
            if not finished:
                raise DriverError(
                    f"not every plate was loaded with {threshold_n:g} N in {timeout:g} s; the "
                    f"order is unchanged")
            with self._lock:
                return self._platform_order()
        finally:
            with self._lock:
                if not finished or self._ordering_cancelled.is_set():
                    lib.fmDLLCancelPlatformOrdering()
                lib.fmBroadcastStop()

    def cancel_order(self):
        """Abandons an ordering run that ``order()`` waits for (it then returns None)."""
        lib = self._require_open()
        self._ordering_cancelled.set()
        with self._lock:
            lib.fmDLLCancelPlatformOrdering()

    # ------------------------------------------------------------------- smart-plate downloads

    def download_status(self, position):
        """The calibration download status of the plate at ``position``: 0 running, 1 complete
        (also for plates that need none), 2..5 failed (see DOWNLOAD_STATUS_TEXTS)."""
        position = self._position(position)
        with self._lock:
            self._lib.fmDLLSelectDeviceIndex(position)
            return self._lib.fmIsVantorDownloadComplete()

    def calibration_check(self):
        """The amplifier slots the library's smart-plate check listed as needing a download."""
        lib = self._require_open()
        slots = P.out_buffer("fmBroadcastCheckVantor")
        with self._lock:
            count = lib.fmBroadcastCheckVantor(slots)
        return tuple(slots[: max(0, min(count, P.MAX_AMPLIFIERS))])

    def download_calibration(self, position, wait=True, progress=None, timeout=300.0):
        """Downloads the calibration file of the smart plate at ``position``.

        The library refusing to start (not a smart plate, no file, a file for another product
        type) raises DriverError with the library's refusal code. With ``wait`` the call waits
        up to ``timeout`` seconds, calling ``progress(elapsed_seconds, status)`` at every poll,
        and returns 1 when the download completed; a failed download raises DriverError with
        the download status as its code. Without ``wait`` it returns 0 at once: follow the
        download with ``download_status(position)``.
        """
        position = _checks.whole("position", position)
        wait = _checks.flag("wait", wait)
        progress = _checks.callable_or_none("progress", progress)
        timeout = _checks.seconds("timeout", timeout)
        position = self._position(position)
        lib = self._lib
        with self._lock:
            lib.fmDLLSelectDeviceIndex(position)
            started = lib.fmVantorDownloadCalFile(0)
        if started != 0:
            raise DriverError(
                f"download refused: {DOWNLOAD_REFUSAL_TEXTS.get(started, 'refused')}", code=started)
        if not wait:
            return 0
        begin = time.monotonic()
        while True:
            status = self.download_status(position)
            elapsed = time.monotonic() - begin
            if progress is not None:
                progress(elapsed, status)
            if status == 1:
                return status
            if status != 0:
                raise DriverError(
                    f"the download failed: {DOWNLOAD_STATUS_TEXTS.get(status, 'the plate failed')}",
                    code=status)
            if elapsed > timeout:
                raise DriverError(f"the plate did not finish the download in {timeout:g} s")
            time.sleep(0.05)

    # ------------------------------------------------------------------------------ streaming

    def stream(self, zero=False, poll_interval=None, stall_timeout=5.0):
        """Starts every amplifier and returns a Stream of Blocks as the frames arrive.

            with driver.stream() as stream:
                for block in stream:
                    ...   # block.counters, block.channels, block.drops, block.overruns

        ``zero`` zeroes every amplifier before the start. ``poll_interval`` is the pause between
        polls of the library in seconds (default: a quarter of a frame period, 1..10 ms).
        ``stall_timeout`` seconds without a frame after the first end the stream with
        DriverError (None: wait for ever). Only one stream runs at a time.
        """
        zero = _checks.flag("zero", zero)
        if poll_interval is not None:
            poll_interval = _checks.real("poll_interval", poll_interval, 0.0, 1.0,
                                         lowest_excluded=True)
        if stall_timeout is not None:
            stall_timeout = _checks.seconds("stall_timeout", stall_timeout)
        self._require_open()
        self._require_idle("start a stream")
        if self._count == 0:
            raise DriverError("no amplifiers found")
        rate = self.rate
        if not P.RATE_RANGE[0] <= rate <= P.RATE_RANGE[1]:
            raise DriverError(f"the amplifiers report a rate of {rate} samples/s")
        stream = Stream(self, rate, zero,
                        poll_interval if poll_interval is not None else default_poll_interval(rate),
                        stall_timeout)
        self._stream_ref = weakref.ref(stream)
        return stream

    def record(self, seconds, zero=False):
        """Records every plate for ``seconds`` and returns a Recording.

        Takes rate × seconds samples (rounded) from a stream started for it and stops; returns
        fewer only when the frames stopped coming before (the stream's errors apart).
        """
        seconds = _checks.seconds("seconds", seconds)
        zero = _checks.flag("zero", zero)
        self._require_open()
        amplifiers = self.amplifiers
        blocks = []
        wanted = None
        with self.stream(zero=zero) as stream:
            rate = stream.rate
            wanted = max(1, int(round(rate * seconds)))
            taken = 0
            deadline = None
            for block in stream:
                blocks.append(block)
                taken += block.samples
                if deadline is None:
                    deadline = block.time + seconds + max(1.0, 0.1 * seconds)
                if taken >= wanted or block.time >= deadline:
                    break
            totals = (stream.drops, stream.overruns, stream.missing)
        counters = np.concatenate([b.counters for b in blocks])[:wanted]
        channels = np.concatenate([b.channels for b in blocks])[:wanted]
        aux = np.concatenate([b.aux for b in blocks])[:wanted]
        return Recording(counters, channels, aux, rate, amplifiers, *totals)


@atexit.register
def _close_at_exit():
    """Shuts the library down when the interpreter exits with a Driver still open."""
    driver = _open_driver
    if driver is not None:
        try:
            driver.close(raise_errors=False)
        except Exception:  # noqa: BLE001 - nothing can be reported any more at exit
            pass
