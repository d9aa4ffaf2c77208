"""Streaming: taking the library's frames as they complete and handing them out as blocks.

The library completes one frame per 16 samples of every amplifier and keeps the last 625 of
them in a ring for the caller. It can announce each frame with a data-ready message, but those go
to a native thread message queue that Python cannot wait on, so the stream turns the messages off
and polls ``fmDLLTransferFloatData`` instead: every poll takes every frame waiting, copies each at
once (the pointer the call returns is only valid until the next call), and sleeps a fraction of a
frame period before the next poll. Nothing is held while it sleeps: the library's threads and the
program's other Python threads run on (ctypes releases the GIL during each call). At 3000
samples/s a frame completes every 5.3 ms and the ring holds 3.3 s of frames, so a poll every
millisecond or so never lets it overrun.

Frames are read in data format 1: per sample row and position a record of eight floats, the
sample counter, Fx, Fy, Fz, Mx, My, Mz and the auxiliary word.
"""

import ctypes
import dataclasses
import time

import numpy as np

from . import _prototypes as P
from ._errors import DriverError, parse_error_record

# The library's code in an error record for an amplifier that left the bus.
_DISCONNECTED = 4
# How often a stream looks at the error record for an amplifier that left the bus.
_LOSS_CHECK_SECONDS = 0.2
# How long the first frame may take after a start, besides a few packet periods.
_START_MARGIN_SECONDS = 2.0
_FIRST_FRAME_PACKETS = 4
# How long a stop may take to be acknowledged by every amplifier.
_STOP_LIMIT_SECONDS = 2.0


@dataclasses.dataclass(frozen=True)
class Block:
    """The frames one poll took: ``samples`` consecutive sample rows of every plate.

    Attributes:
        counters: int64, shape (samples,): the sample counter of each row (that of position 0),
            unwrapped from the amplifiers' 24-bit counters, so it only ever grows.
        channels: float64, shape (samples, amplifiers, 6): Fx, Fy, Fz in N and Mx, My, Mz in
            N·m of each plate in its own axes, as the library delivers them.
        aux: int64, shape (samples, amplifiers): each plate's auxiliary word.
        drops: samples the amplifiers lost (counter gaps the library counted) since the last
            block, summed over the amplifiers.
        overruns: frames the library dropped since the last block because they were not taken
            before its ring was full.
        missing: samples missing from ``counters`` since the last block (overruns and frames
            that never completed because an amplifier lost samples).
        time: time.monotonic() when the poll took the frames.
        waiting: the most frames that were waiting in the library at this poll.
    """

    counters: np.ndarray
    channels: np.ndarray
    aux: np.ndarray
    drops: int
    overruns: int
    missing: int
    time: float
    waiting: int

    @property
    def samples(self):
        """Sample rows in the block."""
        return int(self.counters.shape[0])


class FrameDecoder:
    """Turns format-1 frames into blocks and follows the counters from one block to the next."""

    def __init__(self, positions):
        self.positions = positions
        self.frame_values = P.SAMPLES_PER_FRAME * P.RECORD_VALUES * positions
        self._last_raw = None  # the previous row's counter as the amplifier sent it
        self._wraps = 0  # times the counter has wrapped so far

    def decode(self, frames, waiting, drops, taken_at):
        """A Block from a list of copied frames (float32, frame_values each) and what each
        transfer call returned for it (frames waiting, that one included)."""
        rows = np.stack(frames).reshape(-1, self.positions, P.RECORD_VALUES)
        raw = rows[:, 0, P.RECORD_COUNTER].astype(np.int64)
        previous = raw[0] - 1 if self._last_raw is None else self._last_raw
        steps = np.diff(raw, prepend=previous)
        # A large step back is the 24-bit counter wrapping; anything else is a real step.
        wrapped = steps < -(P.COUNTER_MODULUS // 2)
        wraps = self._wraps + np.cumsum(wrapped)
        counters = raw + wraps * P.COUNTER_MODULUS
        steps = steps + wrapped * P.COUNTER_MODULUS
        self._last_raw = int(raw[-1])
        self._wraps = int(wraps[-1])
        gaps = np.clip(steps - 1, 0, None)
        missing = int(gaps.sum())
        # A gap right where the library reported a full ring is frames it overwrote.
        frame_gaps = gaps[:: P.SAMPLES_PER_FRAME]
        full = np.asarray(waiting) >= P.RING_FRAMES
        overruns = int(np.rint(frame_gaps[full] / P.SAMPLES_PER_FRAME).sum())
        channels = rows[:, :, P.RECORD_CHANNELS:P.RECORD_CHANNELS + P.CHANNELS]
        return Block(
            counters=counters,
            channels=channels.astype(np.float64),
            aux=rows[:, :, P.RECORD_AUXILIARY].astype(np.int64),
            drops=drops,
            overruns=overruns,
            missing=missing,
            time=taken_at,
            waiting=int(max(waiting)),
        )


def default_poll_interval(rate):
    """A quarter of a frame period, kept within 1..10 ms."""
    return min(max(P.SAMPLES_PER_FRAME / rate / 4.0, 0.001), 0.01)


class Stream:
    """Acquisition on every amplifier, handed out as Blocks; made by ``Driver.stream()``.

    Iterate over it for the blocks as they arrive; each ``next()`` waits (sleeping, never
    spinning) until at least one frame has come. Closing it (``close()``, leaving a ``with``
    block, or the Driver closing) stops acquisition. It raises DriverError, after stopping, when
    no frame arrives after the start, when frames stop coming for ``stall_timeout`` seconds, or
    when an amplifier leaves the bus. Use it from one thread at a time.

    Running totals since the start: ``samples``, ``drops``, ``overruns``, ``missing``.
    """

    def __init__(self, driver, rate, zero, poll_interval, stall_timeout):
        self._driver = driver
        self._lib = driver._lib
        self.rate = rate
        self.positions = driver.device_count
        self.poll_interval = poll_interval
        self.stall_timeout = stall_timeout
        self._decoder = FrameDecoder(self.positions)
        self._frame_type = ctypes.c_float * self._decoder.frame_values
        self._pointer = ctypes.POINTER(ctypes.c_float)()
        self._closed = False
        self.samples = self.drops = self.overruns = self.missing = 0
        self._reported_drops = 0
        lib = self._lib
        with driver._lock:
            lib.fmDLLSetUSBPacketSize(P.PACKET_BYTES)
            lib.fmDLLSetDataFormat(P.FORMAT_RECORDS)
            lib.fmDLLPostDataReadyMessages(0)
            if zero:
                lib.fmBroadcastZero()
            self._record_at_start = driver._error_text()
            lib.fmBroadcastStart()
        self.started = time.monotonic()
        self._first_frame_limit = (
            self.started + _START_MARGIN_SECONDS + _FIRST_FRAME_PACKETS * P.SAMPLES_PER_FRAME / rate
        )
        self._last_frame = None
        self._next_loss_check = self.started + _LOSS_CHECK_SECONDS

    def __iter__(self):
        return self

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()
        return False

    @property
    def closed(self):
        return self._closed

    def _take(self):
        """Takes every frame waiting; returns (frames, waiting counts, drop count)."""
        frames, waiting = [], []
        lib, pointer = self._lib, self._pointer
        with self._driver._lock:
            while True:
                count = lib.fmDLLTransferFloatData(ctypes.byref(pointer))
                if count <= 0:
                    break
                address = ctypes.cast(pointer, ctypes.c_void_p).value
                if not address:
                    raise DriverError("fmDLLTransferFloatData handed out no frame")
                # Copied at once: the frame is only valid until the next transfer call.
                frame = np.frombuffer(self._frame_type.from_address(address), np.float32).copy()
                frames.append(frame)
                waiting.append(count)
            drops = lib.fmDLLGetDroppedDataCount() if frames else None
        return frames, waiting, drops

    def __next__(self):
        while True:
            if self._closed:
                raise StopIteration
            frames, waiting, drops = self._take()
            now = time.monotonic()
            if frames:
                new_drops = max(drops - self._reported_drops, 0)
                self._reported_drops = max(drops, self._reported_drops)
                block = self._decoder.decode(frames, waiting, new_drops, now)
                self._last_frame = now
                self.samples += block.samples
                self.drops += block.drops
                self.overruns += block.overruns
                self.missing += block.missing
                return block
            self._check(now)
            time.sleep(self.poll_interval)

    def _check(self, now):
        """Stops and raises when frames do not come or an amplifier has left the bus."""
        if self._last_frame is None and now >= self._first_frame_limit:
            stop_flag = self._lib.fmDLLGetStopCommandFlag()
            self.close()
            waited = now - self.started
            if stop_flag == 1:
                raise DriverError(
                    f"no amplifier started: every amplifier had declined its last command; "
                    f"no frame arrived in {waited:.1f} s")
            raise DriverError(
                f"no frame arrived in {waited:.1f} s after the start: an amplifier declined the "
                f"start or sends no data, and a frame needs every amplifier")
        if (self._last_frame is not None and self.stall_timeout is not None
                and now - self._last_frame >= self.stall_timeout):
            self.close()
            raise DriverError(f"no frame arrived for {now - self._last_frame:.1f} s")
        if now >= self._next_loss_check:
            self._next_loss_check = now + _LOSS_CHECK_SECONDS
            text = self._driver._error_text()
            record = parse_error_record(text)
            if (text != self._record_at_start and record is not None and record.serial
                    and record.code == _DISCONNECTED):
                position = self._driver._position_of_serial(record.serial)
                self.close()
                raise DriverError(
                    f"the amplifier at position {position} (serial {record.serial}) was "
                    f"disconnected: no frames can complete any more", code=record.code, text=text)

    def close(self):
        """Stops acquisition (once; later calls do nothing)."""
        if self._closed:
            return
        self._closed = True
        driver = self._driver
        try:
            if driver.is_open:
                with driver._lock:
                    self._lib.fmBroadcastStop()
                deadline = time.monotonic() + _STOP_LIMIT_SECONDS
                while time.monotonic() < deadline:
                    with driver._lock:
                        if self._lib.fmDLLGetStopCommandFlag() == 1:
                            break
                    time.sleep(0.005)
        finally:
            if driver._stream_ref is not None and driver._stream_ref() is self:
                driver._stream_ref = None

    def __del__(self):
        # A stream dropped without close() (a for loop left with break) stops acquisition here.
        try:
            self.close()
        except Exception:  # noqa: BLE001 - nothing to report to from a finaliser
            pass
