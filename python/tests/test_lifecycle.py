"""Opening and closing the library, one Driver per process, streams that stop, settings."""

import numpy as np
import pytest

import torva
from torva import _library
from torva_testing import PLATES

LIMIT = 30.0  # seconds: generous limits for a loaded machine


def library():
    return _library.load()


def first_block(stream):
    block = next(stream)
    assert block.samples > 0
    return block


def assert_stopped(driver):
    """Every amplifier acknowledged the stop and the Driver has no stream running."""
    assert library().fmDLLGetStopCommandFlag() == 1
    assert driver._active_stream() is None


class Boom(Exception):
    pass


def test_body_that_raises_leaves_the_library_shut_down():
    with pytest.raises(Boom):
        with torva.Driver() as driver:
            stream = driver.stream()
            first_block(stream)
            raise Boom()
    assert library().fmIsDLLShutDown() == 1
    assert stream.closed
    # The next Driver opens and streams from a fresh start.
    with torva.Driver() as driver, driver.stream() as stream:
        assert first_block(stream).counters[0] == 1


def test_second_driver_is_refused_while_one_is_open():
    with torva.Driver() as first:
        with pytest.raises(torva.DriverInUseError):
            with torva.Driver():
                pass  # pragma: no cover - never entered
        with pytest.raises(torva.DriverInUseError):
            torva.Driver().open()
        # The refused attempts touched nothing: the first Driver still works.
        assert len(first.amplifiers) == PLATES
        assert library().fmIsDLLShutDown() == 0
    with torva.Driver() as again:
        assert again.device_count == PLATES


def test_same_driver_cannot_open_twice(driver):
    with pytest.raises(torva.DriverError):
        driver.open()


def test_leaving_the_for_loop_stops_acquisition(driver):
    for block in driver.stream():
        assert block.samples > 0
        break
    # The stream is no longer held anywhere: dropping it stopped the amplifiers.
    assert_stopped(driver)
    with driver.stream() as stream:
        first_block(stream)


def test_exception_in_a_stream_loop_stops_acquisition(driver):
    with pytest.raises(Boom):
        with driver.stream() as stream:
            for _ in stream:
                raise Boom()
    assert stream.closed
    assert_stopped(driver)


def test_one_stream_at_a_time(driver):
    with driver.stream() as stream:
        with pytest.raises(torva.DriverError):
            driver.stream()
        with pytest.raises(torva.DriverError):
            driver.rate = 500
        first_block(stream)
    with pytest.raises(StopIteration):
        next(stream)


def test_blocks_follow_on_without_loss_or_repeat(driver):
    counters = []
    with driver.stream() as stream:
        for block in stream:
            assert block.channels.shape == (block.samples, PLATES, 6)
            assert block.aux.shape == (block.samples, PLATES)
            assert block.channels.dtype == np.float64 and block.counters.dtype == np.int64
            counters.append(block.counters)
            if sum(len(c) for c in counters) >= 800:
                break
    counters = np.concatenate(counters)
    assert np.all(np.diff(counters) == 1)
    assert stream.drops == stream.overruns == stream.missing == 0
    assert stream.samples == len(counters)


def test_rate_is_set_on_every_amplifier_and_used_by_the_stream(driver):
    before = driver.rate
    try:
        driver.rate = 500
        assert driver.rate == 500
        assert {a.rate for a in driver.amplifiers} == {500}
        recording = driver.record(0.5)
        assert recording.rate == 500 and recording.samples == 250
        assert np.all(np.diff(recording.counters) == 1)
    finally:
        driver.rate = before
    assert driver.rate == before


def test_maintenance_settings_read_back(driver):
    gains, excitations = driver.gains(0), driver.excitations(1)
    try:
        assert driver.set_gains(0, (3, 2, 1, 0, 1, 2)) == (3, 2, 1, 0, 1, 2)
        assert driver.gains(0) == (3, 2, 1, 0, 1, 2)
        assert driver.set_excitations(1, [0, 1, 2, 2, 1, 0]) == (0, 1, 2, 2, 1, 0)
        assert driver.set_rotation(1, 90) == 90.0
        assert driver.amplifiers[1].rotation_deg == 90.0
    finally:
        driver.set_gains(0, gains)
        driver.set_excitations(1, excitations)
        driver.set_rotation(1, 0.0)
    driver.blink(1)
    driver.zero()
    try:
        tare = driver.tare()
    finally:
        # The emulated amplifiers keep a tare for the rest of the process: later recordings
        # are compared with torvactl's, whose amplifiers have none.
        driver.clear_tare()
    assert len(tare) == PLATES and all(len(values) == 6 for values in tare)
    assert driver.info(0)["gains"] == gains


def test_download_refused_for_a_plate_without_calibration_memory(driver):
    assert not driver.amplifiers[0].smart_plate
    with pytest.raises(torva.DriverError) as refused:
        driver.download_calibration(0)
    assert refused.value.code == 2


def test_setup_saved_and_then_matched(driver, emulator):
    check = driver.setup_check()
    if check.code == 211:
        assert check.meaning == "Helix configuration file not found"
    driver.save_setup()
    assert (emulator.setup / "TorvaUsbSetup.cfg").is_file()
    driver.close()
    with torva.Driver() as again:
        assert again.setup_check() == (1, "The amplifiers match the saved setup")


def test_ordering_finds_a_permutation_and_times_out(driver):
    order_before = tuple(a.slot for a in driver.amplifiers)
    # The emulated plates are first loaded 0.8 s after the start: a 0.1 s wait cannot finish.
    with pytest.raises(torva.DriverError):
        driver.order(threshold_n=200, timeout=0.1)
    assert tuple(a.slot for a in driver.amplifiers) == order_before
    assert_stopped(driver)
    order = driver.order(threshold_n=200, timeout=LIMIT)
    assert sorted(order) == list(range(PLATES))
    assert tuple(a.slot for a in driver.amplifiers) == order
    assert_stopped(driver)
