"""A finished recording: the samples of every plate, the centre of pressure and CSV output."""

import numpy as np

from . import _checks

_CHANNEL_NAMES = ("Fx", "Fy", "Fz", "Mx", "My", "Mz")
_CHANNEL_UNITS = ("N", "N", "N", "N.m", "N.m", "N.m")
# Rows written to a CSV file at a time, to keep the text of a long recording out of memory.
_CSV_CHUNK_ROWS = 4096


def _csv_field(text):
    """A CSV field: quoted, with quotes doubled, when it holds a comma, a quote or a line end."""
    if not any(c in text for c in ',"\r\n'):
        return text
    return '"' + text.replace('"', '""') + '"'


def _float_texts(values):
    """The shortest text that reads back as the same 32-bit float, for every value.

    Whole numbers are written without a trailing ".0", as the library's tools write them.
    """
    texts = values.astype(np.float32).astype(str)
    whole = np.char.endswith(texts, ".0")
    return np.where(whole, np.char.rpartition(texts, ".0")[..., 0], texts)


def csv_header(plate_serials):
    """The header ``torvactl stream`` writes in data format 1 for plates of these serials."""
    fields = ["counter"]
    for serial in plate_serials:
        fields += [f"{serial} {name} [{unit}]" for name, unit in zip(_CHANNEL_NAMES, _CHANNEL_UNITS)]
        fields.append(f"{serial} aux")
    return ",".join(_csv_field(field) for field in fields)


def centre_of_pressure(channels, origins, threshold_n=20.0):
    """The centre of pressure of each plate in its own axes, in metres.

    ``channels``: (samples, plates, 6) Fx, Fy, Fz (N), Mx, My, Mz (N·m) about each plate's sensor
    origin; ``origins``: (plates, 3) the origin offsets (ox, oy, oz) in metres. Returns
    (samples, plates, 2): x and y, NaN where |Fz| is below ``threshold_n`` (or zero).

    The force acts at the point (x, y) on the top surface, which is (x - ox, y - oy, oz) from the
    sensor origin, so the moments about the origin are M = r × F:

        Mx = (y - oy)·Fz - oz·Fy        My = oz·Fx - (x - ox)·Fz

    and therefore

        x = ox + (oz·Fx - My) / Fz      y = oy + (Mx + oz·Fy) / Fz.
    """
    channels = np.asarray(channels, dtype=np.float64)
    origins = np.asarray(origins, dtype=np.float64).reshape(-1, 3)
    fx, fy, fz = channels[..., 0], channels[..., 1], channels[..., 2]
    mx, my = channels[..., 3], channels[..., 4]
    ox, oy, oz = origins[:, 0], origins[:, 1], origins[:, 2]
    loaded = (np.abs(fz) >= threshold_n) & (fz != 0.0)
    safe_fz = np.where(loaded, fz, 1.0)
    x = ox + (oz * fx - my) / safe_fz
    y = oy + (mx + oz * fy) / safe_fz
    cop = np.stack([x, y], axis=-1)
    cop[~loaded] = np.nan
    return cop


class Recording:
    """Samples of every plate recorded by ``Driver.record()``.

    Attributes:
        counters: int64 (samples,), the sample counter of each row.
        channels: float64 (samples, plates, 6): Fx, Fy, Fz in N and Mx, My, Mz in N·m, each plate
            in its own axes.
        aux: int64 (samples, plates): each plate's auxiliary word.
        rate: samples per second.
        amplifiers: the Amplifier records of the plates, by position.
        drops: samples the amplifiers lost during the recording.
        overruns: frames the library dropped because they were not taken in time.
        missing: samples missing from the counters (overruns included).
    """

    def __init__(self, counters, channels, aux, rate, amplifiers, drops=0, overruns=0, missing=0):
        self.counters = np.asarray(counters, dtype=np.int64)
        self.channels = np.asarray(channels, dtype=np.float64)
        self.aux = np.asarray(aux, dtype=np.int64)
        self.rate = int(rate)
        self.amplifiers = tuple(amplifiers)
        self.drops = int(drops)
        self.overruns = int(overruns)
        self.missing = int(missing)

    def __repr__(self):
        return (f"<torva.Recording {self.samples} samples of {len(self.amplifiers)} plates at "
                f"{self.rate} samples/s, {self.drops} dropped, {self.overruns} overruns>")

    @property
    def samples(self):
        """Sample rows recorded."""
        return int(self.counters.shape[0])

    @property
    def duration(self):
        """Seconds the samples span (samples / rate)."""
        return self.samples / self.rate

    @property
    def time(self):
        """Seconds of each sample since the first, from the counters (float64 (samples,))."""
        if self.samples == 0:
            return np.zeros(0)
        return (self.counters - self.counters[0]) / float(self.rate)

    @property
    def forces(self):
        """Fx, Fy, Fz in N: (samples, plates, 3)."""
        return self.channels[..., 0:3]

    @property
    def moments(self):
        """Mx, My, Mz in N·m: (samples, plates, 3)."""
        return self.channels[..., 3:6]

    def cop(self, threshold_n=20.0):
        """Centre of pressure of each plate in its own axes, in metres: (samples, plates, 2).

        x and y from the forces, the moments and the plate's origin offsets (see
        ``torva.centre_of_pressure`` for the formula); NaN where |Fz| < ``threshold_n`` newtons.
        """
        threshold_n = _checks.real("threshold_n", threshold_n, 0.0)
        origins = [amplifier.origin_m for amplifier in self.amplifiers]
        return centre_of_pressure(self.channels, origins, threshold_n)

    def to_csv(self, path):
        """Writes the samples as ``torvactl stream`` does (data format 1): a header of
        ``counter`` and, per plate, ``<plate serial> Fx [N]`` .. ``<plate serial> Mz [N.m]`` and
        ``<plate serial> aux``, then one row per sample. Values are written in the shortest
        form that reads back as the same 32-bit float the library delivered."""
        serials = [amplifier.platform_serial for amplifier in self.amplifiers]
        plates = len(serials)
        with open(path, "w", encoding="utf-8", newline="") as out:
            out.write(csv_header(serials) + "\n")
            for begin in range(0, self.samples, _CSV_CHUNK_ROWS):
                end = min(begin + _CSV_CHUNK_ROWS, self.samples)
                values = _float_texts(self.channels[begin:end])
                aux = self.aux[begin:end].astype(str)
                columns = [self.counters[begin:end].astype(str)]
                for plate in range(plates):
                    columns += [values[:, plate, c] for c in range(6)]
                    columns.append(aux[:, plate])
                out.writelines(",".join(row) + "\n" for row in zip(*columns))
