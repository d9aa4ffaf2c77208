"""Wrong argument types and values raise TypeError/ValueError before any library call."""

import math

import numpy as np
import pytest

import torva
from torva_testing import PLATES

BAD_CALLS = [
    # (description, call, exception)
    ("position as str", lambda d: d.blink("0"), TypeError),
    ("position as bool", lambda d: d.blink(True), TypeError),
    ("position as float", lambda d: d.blink(1.0), TypeError),
    ("position None", lambda d: d.blink(None), TypeError),
    ("position past the last", lambda d: d.blink(PLATES), ValueError),
    ("negative position", lambda d: d.blink(-1), ValueError),
    ("gains position", lambda d: d.gains("1"), TypeError),
    ("rate too low", lambda d: setattr(d, "rate", 9), ValueError),
    ("rate too high", lambda d: setattr(d, "rate", 3001), ValueError),
    ("rate as str", lambda d: setattr(d, "rate", "1000"), TypeError),
    ("rate as bool", lambda d: setattr(d, "rate", True), TypeError),
    ("rate as float", lambda d: setattr(d, "rate", 1000.0), TypeError),
    ("negative duration", lambda d: d.record(-1), ValueError),
    ("zero duration", lambda d: d.record(0), ValueError),
    ("NaN duration", lambda d: d.record(math.nan), ValueError),
    ("duration as str", lambda d: d.record("10"), TypeError),
    ("duration as bool", lambda d: d.record(True), TypeError),
    ("zero as int", lambda d: d.record(1, zero=1), TypeError),
    ("gain above 3", lambda d: d.set_gains(0, [0, 1, 2, 3, 4, 0]), ValueError),
    ("five gains", lambda d: d.set_gains(0, [0] * 5), ValueError),
    ("gains as text", lambda d: d.set_gains(0, "012301"), TypeError),
    ("gain as str", lambda d: d.set_gains(0, ["1"] * 6), TypeError),
    ("gain as bool", lambda d: d.set_gains(0, [True] * 6), TypeError),
    ("gains of a missing plate", lambda d: d.set_gains(PLATES, [0] * 6), ValueError),
    ("excitation above 2", lambda d: d.set_excitations(0, [3] * 6), ValueError),
    ("negative excitation", lambda d: d.set_excitations(1, [-1] * 6), ValueError),
    ("rotation of a full turn", lambda d: d.set_rotation(0, 360), ValueError),
    ("negative rotation", lambda d: d.set_rotation(0, -0.5), ValueError),
    ("NaN rotation", lambda d: d.set_rotation(0, math.nan), ValueError),
    ("rotation as str", lambda d: d.set_rotation(0, "90"), TypeError),
    ("zero threshold", lambda d: d.order(threshold_n=0), ValueError),
    ("threshold over 100 kN", lambda d: d.order(threshold_n=100001), ValueError),
    ("negative ordering time-out", lambda d: d.order(timeout=-1), ValueError),
    ("download position", lambda d: d.download_calibration(PLATES), ValueError),
    ("download progress not callable", lambda d: d.download_calibration(0, progress=3), TypeError),
    ("download wait as int", lambda d: d.download_calibration(0, wait=0), TypeError),
    ("stream poll interval", lambda d: d.stream(poll_interval=0), ValueError),
    ("stream stall time-out", lambda d: d.stream(stall_timeout=-1), ValueError),
    ("setup-check time-out", lambda d: d.setup_check(timeout="5"), TypeError),
    ("save_setup force as int", lambda d: d.save_setup(force=1), TypeError),
    ("tare time-out", lambda d: d.tare(timeout=0), ValueError),
]


@pytest.mark.parametrize("call,exception", [c[1:] for c in BAD_CALLS],
                         ids=[c[0] for c in BAD_CALLS])
def test_refused_before_any_library_call(recorded_calls, call, exception):
    driver, recorder = recorded_calls
    with pytest.raises(exception):
        call(driver)
    assert recorder.calls == []


def test_numpy_integers_are_whole_numbers(recorded_calls):
    driver, recorder = recorded_calls
    before = driver.gains(np.int64(1))
    assert driver.set_gains(np.int32(1), np.array(before)) == before
    assert "fmSetCurrentGains" in recorder.calls


@pytest.mark.parametrize("timeout,exception", [(-1, ValueError), (0, ValueError), ("30", TypeError),
                                               (None, TypeError), (math.nan, ValueError)])
def test_driver_time_out_checked_before_opening(timeout, exception):
    with pytest.raises(exception):
        torva.Driver(timeout=timeout)


def test_closed_driver_raises_instead_of_calling():
    driver = torva.Driver()
    for call in (lambda: driver.amplifiers, lambda: driver.rate, lambda: driver.blink(0),
                 lambda: driver.record(1.0), lambda: driver.zero(), lambda: driver.setup_check(),
                 lambda: driver.stream()):
        with pytest.raises(torva.DriverError):
            call()
    driver.close()  # closing a Driver that is not open does nothing


@pytest.mark.parametrize("threshold,exception", [(-1.0, ValueError), ("20", TypeError),
                                                 (math.nan, ValueError), (True, TypeError)])
def test_cop_threshold_checked(threshold, exception):
    recording = torva.Recording(np.arange(3), np.zeros((3, 1, 6)), np.zeros((3, 1)), 1000, ())
    with pytest.raises(exception):
        recording.cop(threshold)
