"""A 10 s recording of the two emulated plates, checked against itself and against torvactl.

`torvactl stream` runs in its own process at the same time as the recording (the emulator gives
each process amplifiers of its own, which stream the same deterministic signal from counter 1),
so the comparison costs no extra time. Both zero the amplifiers before the start: the emulated
amplifiers of this process may have been zeroed by an earlier test, and zeroing removes exactly
each channel's unzeroed offset, so both processes see the same values.
"""

import csv
import os
import re
import subprocess
import threading
import time

import numpy as np
import pytest

import torva
from torva_testing import CHECKOUT, PLATES

SECONDS = 10.0
LIMIT = 60.0  # seconds: generous limits for a loaded machine


def torvactl_path():
    path = os.environ.get("TORVACTL") or str(CHECKOUT / "build" / "bin" / "torvactl")
    return path if os.access(path, os.X_OK) else None


@pytest.fixture(scope="module")
def session(tmp_path_factory, emulator):
    """The recording, and `torvactl stream --seconds 10` started just before it (when torvactl
    is there), so that both run at the same time."""
    folder = tmp_path_factory.mktemp("record")
    program = torvactl_path()
    process = None
    if program is not None:
        process = subprocess.Popen(
            [program, "stream", "--zero", "--seconds", str(int(SECONDS)), "--output",
             str(folder / "f.csv")],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=dict(os.environ))
    ticks = []
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.01)

    try:
        with torva.Driver() as driver:
            amplifiers = driver.amplifiers
            thread = threading.Thread(target=ticker)
            thread.start()
            try:
                recording = driver.record(SECONDS, zero=True)
            finally:
                stop.set()
                thread.join(LIMIT)
    except BaseException:
        if process is not None:
            process.kill()
            process.wait()
        raise
    return {"recording": recording, "amplifiers": amplifiers, "ticks": ticks,
            "process": process, "csv": folder / "f.csv"}


@pytest.fixture(scope="module")
def compared(session, torvactl):
    """torvactl's header, its rows as numbers, and the recording."""
    process = session["process"]
    _, errors = process.communicate(timeout=LIMIT)
    assert process.returncode == 0, errors.decode(errors="replace")
    with open(session["csv"], newline="") as file:
        rows = list(csv.reader(file))
    return rows[0], np.array(rows[1:], dtype=np.float64), session["recording"]


def test_shape_and_units(session):
    recording = session["recording"]
    assert recording.channels.shape[1:] == (PLATES, 6)
    assert recording.channels.shape[0] == recording.counters.shape[0] == recording.aux.shape[0]
    assert recording.rate == 1000  # the emulator's default rate


def test_no_sample_lost_or_repeated(session):
    recording = session["recording"]
    assert np.all(np.diff(recording.counters) == 1)
    assert recording.samples >= 0.9 * recording.rate * SECONDS
    assert recording.drops == 0
    assert recording.overruns == 0
    assert recording.missing == 0


def test_other_threads_ran_during_the_recording(session):
    # 10 ms ticks over 10 s: 1000 when nothing holds the GIL; far fewer would mean it was held.
    assert len(session["ticks"]) >= 250


def test_peak_vertical_force_agrees_with_torvactl(compared):
    header, rows, recording = compared
    for plate, amplifier in enumerate(recording.amplifiers):
        column = header.index(f"{amplifier.platform_serial} Fz [N]")
        theirs = np.max(np.abs(rows[:, column]))
        ours = np.max(np.abs(recording.channels[:, plate, 2]))
        assert ours > 100.0  # someone stepped on the plate
        assert abs(ours - theirs) <= 1.0


def test_csv_has_torvactl_columns_and_values(compared, tmp_path):
    header, rows, recording = compared
    path = tmp_path / "ours.csv"
    recording.to_csv(path)
    with open(path, newline="") as file:
        ours = list(csv.reader(file))
    assert ours[0] == header
    assert len(ours) == recording.samples + 1
    # Rows of the same counters hold the same values, to the last bit of the 32-bit floats.
    ours = np.array(ours[1:], dtype=np.float64)
    common = min(len(ours), len(rows), 5000)
    assert np.array_equal(ours[:common, 0], rows[:common, 0])
    assert np.array_equal(ours[:common].astype(np.float32), rows[:common].astype(np.float32))


def test_amplifier_records_in_metres_agree_with_torvactl_info(session, torvactl):
    info = subprocess.run([torvactl, "info"], capture_output=True, text=True, timeout=LIMIT,
                          env=dict(os.environ), check=True).stdout
    sizes = re.findall(r"platform length x width\s+(\S+) x (\S+) in", info)
    offsets = re.findall(r"platform X Y Z offsets \(in\)\s+(\S+)\s+(\S+)\s+(\S+)", info)
    serials = re.findall(r"platform serial\s+(\S+)", info)
    amplifiers = {a.platform_serial: a for a in session["amplifiers"]}
    assert sorted(serials) == sorted(amplifiers)
    for serial, (length, width), origin in zip(serials, sizes, offsets):
        amplifier = amplifiers[serial]
        assert amplifier.length_m == pytest.approx(float(length) * 0.0254, abs=1e-6)
        assert amplifier.width_m == pytest.approx(float(width) * 0.0254, abs=1e-6)
        # torvactl prints four significant digits.
        assert amplifier.origin_m == pytest.approx([float(v) * 0.0254 for v in origin], abs=1e-4)
        assert not amplifier.smart_plate and amplifier.download_status is None


def test_centre_of_pressure_follows_the_emulated_footstep(session):
    # The emulator's walker steps 60 mm off the plate's y axis and rolls from heel to toe along
    # y, from -120 mm to +120 mm; the amplifiers were zeroed, so under a firm load the formula
    # must put the centre of pressure there (a wrong sign of the oz term would move x by 4 mm).
    recording = session["recording"]
    cop = recording.cop(threshold_n=200.0)
    assert cop.shape == (recording.samples, PLATES, 2)
    assert np.array_equal(np.isnan(cop[:, :, 0]), np.abs(recording.channels[:, :, 2]) < 200.0)
    for plate in range(PLATES):
        x, y = cop[:, plate, 0], cop[:, plate, 1]
        loaded = np.isfinite(x)
        assert loaded.sum() > 1000
        assert np.all(np.abs(x[loaded] - 0.060) < 0.001)
        assert np.all(np.abs(y[loaded]) < 0.121)
        assert np.ptp(y[loaded]) > 0.2
