"""Frames to blocks, the centre-of-pressure formula and CSV text, without the library."""

import csv

import numpy as np
import pytest

import torva
from torva import _prototypes as P
from torva._stream import FrameDecoder

ROWS = P.SAMPLES_PER_FRAME


def frame(first_counter, positions=2, seed=0):
    """A format-1 frame: counters first_counter.., channels and aux words that name their place."""
    values = np.zeros((ROWS, positions, P.RECORD_VALUES), dtype=np.float32)
    counters = (first_counter + np.arange(ROWS)) % P.COUNTER_MODULUS
    values[:, :, P.RECORD_COUNTER] = counters[:, None]
    for position in range(positions):
        for channel in range(6):
            values[:, position, 1 + channel] = seed + 100 * position + channel + counters / 1000
        values[:, position, P.RECORD_AUXILIARY] = position + 7
    return values.reshape(-1)


def test_frame_places_follow_the_layout():
    decoder = FrameDecoder(2)
    assert decoder.frame_values == ROWS * 8 * 2 == len(frame(1))
    block = decoder.decode([frame(1), frame(17)], [2, 1], 0, 0.0)
    assert block.samples == 32
    assert np.array_equal(block.counters, np.arange(1, 33))
    assert block.channels.shape == (32, 2, 6) and block.aux.shape == (32, 2)
    assert block.channels[5, 1, 2] == pytest.approx(100 + 2 + 6 / 1000)
    assert np.all(block.aux == [7, 8])
    assert block.missing == block.overruns == 0


def test_a_gap_at_a_full_ring_is_an_overrun():
    decoder = FrameDecoder(1)
    decoder.decode([frame(1, 1)], [1], 0, 0.0)
    # Two frames (32 samples) overwritten: the next one taken came with a full ring.
    block = decoder.decode([frame(49, 1), frame(65, 1)], [P.RING_FRAMES, P.RING_FRAMES - 1], 0, 0.0)
    assert block.missing == 32
    assert block.overruns == 2


def test_a_gap_with_room_in_the_ring_is_no_overrun():
    decoder = FrameDecoder(1)
    decoder.decode([frame(1, 1)], [1], 0, 0.0)
    block = decoder.decode([frame(33, 1)], [3], 5, 0.0)
    assert block.missing == 16 and block.overruns == 0 and block.drops == 5


def test_a_repeated_frame_is_not_hidden():
    decoder = FrameDecoder(1)
    decoder.decode([frame(1, 1)], [1], 0, 0.0)
    block = decoder.decode([frame(1, 1)], [1], 0, 0.0)
    assert np.any(np.diff(np.concatenate([np.arange(1, 17), block.counters])) != 1)


def test_the_24_bit_counter_is_unwrapped():
    decoder = FrameDecoder(1)
    start = P.COUNTER_MODULUS - 24
    block = decoder.decode([frame(start, 1), frame(start + 16, 1), frame(start + 32, 1)],
                           [3, 2, 1], 0, 0.0)
    assert np.all(np.diff(block.counters) == 1)
    assert block.counters[-1] == P.COUNTER_MODULUS + 23
    assert block.missing == 0
    later = decoder.decode([frame(start + 48, 1)], [1], 0, 0.0)
    assert later.counters[0] == block.counters[-1] + 1


def loads(points, forces, origin):
    """Channels of forces applied at points of the top surface, with moments about the sensor
    origin at `origin` (the plate model the formula documents)."""
    channels = []
    for (x, y), (fx, fy, fz) in zip(points, forces):
        r = np.array([x - origin[0], y - origin[1], origin[2]])
        force = np.array([fx, fy, fz])
        channels.append(np.concatenate([force, np.cross(r, force)]))
    return np.array(channels)[:, None, :]


def test_centre_of_pressure_recovers_the_point_of_application():
    origin = (0.002, -0.001, -0.04)
    points = [(0.06, -0.12), (-0.1, 0.2), (0.0, 0.0)]
    forces = [(30.0, -150.0, 700.0), (-5.0, 12.0, 950.0), (80.0, 40.0, -600.0)]
    cop = torva.centre_of_pressure(loads(points, forces, origin), [origin])
    assert cop[:, 0, :] == pytest.approx(np.array(points), abs=1e-12)


def test_centre_of_pressure_is_nan_below_the_threshold():
    origin = (0.0, 0.0, -0.04)
    channels = loads([(0.1, 0.1)] * 3, [(1, 1, 19.9), (1, 1, -19.9), (0, 0, 0)], origin)
    assert np.all(np.isnan(torva.centre_of_pressure(channels, [origin], 20.0)))
    recording = torva.Recording(np.arange(3), channels, np.zeros((3, 1)), 1000, ())
    with pytest.raises(ValueError):
        recording.cop(-1.0)


class _Plate:
    def __init__(self, serial):
        self.platform_serial = serial
        self.origin_m = (0.0, 0.0, -0.04)


def test_csv_round_trips_and_quotes_like_torvactl(tmp_path):
    values = np.array([0.1, 3.0, -0.0, 1.5e-5, 812.3456, -1e-4, 123456.78, 9.0e-8],
                      dtype=np.float32)
    channels = np.resize(values, (4, 2, 6)).astype(np.float64)
    recording = torva.Recording([5, 6, 7, 8], channels, [[0, 1]] * 4, 1000,
                                (_Plate("P1"), _Plate('odd, "name"')))
    path = tmp_path / "r.csv"
    recording.to_csv(path)
    text = path.read_text()
    assert text.splitlines()[0].startswith('counter,P1 Fx [N],')
    assert '"odd, ""name"" aux"' in text.splitlines()[0]
    assert "\n5,0.1,3,-0,1.5e-05," in text
    rows = list(csv.reader(text.splitlines()))
    assert len(rows[0]) == 1 + 2 * 7
    numbers = np.array(rows[1:], dtype=np.float64)
    assert np.array_equal(numbers[:, 0], [5, 6, 7, 8])
    back = numbers[:, 1:].reshape(4, 2, 7)
    assert np.array_equal(back[:, :, :6].astype(np.float32), channels.astype(np.float32))
    assert np.array_equal(back[:, :, 6], [[0, 1]] * 4)


def test_error_record_text_is_read():
    record = torva.parse_error_record(
        "SerialNumber: TA601201 ErrorCode: 4 ErrorMessage: The amplifier was disconnected.")
    assert record.serial == "TA601201" and record.code == 4
    assert record.message == "The amplifier was disconnected."
    record = torva.parse_error_record(" ErrorCode: 211 ErrorMessage: Helix configuration file not found")
    assert record.serial == "" and record.code == 211
    assert torva.parse_error_record("") is None
    assert torva.parse_error_record("garbage ErrorCode: 1 ErrorMessage: x") is None
