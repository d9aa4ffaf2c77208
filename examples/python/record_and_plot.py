#!/usr/bin/python3
"""Records every force plate for 5 s, prints each plate's mean and peak Fz and plots Fz and the
centre of pressure to a PNG file.

    TORVA_SIMULATE=2 PYTHONPATH=python /usr/bin/python3 examples/python/record_and_plot.py [out.png]

TORVA_SIMULATE=2 makes the driver library emulate two amplifiers; leave it out to record the
amplifiers on the USB bus. The plot goes to the path given (default: record_and_plot.png in the
current folder); it is drawn without a display (matplotlib's Agg backend).
"""

import argparse
import pathlib
import sys

try:
    import torva
except ImportError:  # run from a checkout without PYTHONPATH: use the checkout's package
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "python"))
    import torva

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402 - the backend is chosen first

SECONDS = 5.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", default="record_and_plot.png",
                        help="PNG file to write (default: record_and_plot.png)")
    parser.add_argument("--seconds", type=float, default=SECONDS, help="how long to record")
    arguments = parser.parse_args()

    with torva.Driver() as driver:
        if driver.device_count == 0:
            print("no amplifiers found (set TORVA_SIMULATE=2 to emulate two)", file=sys.stderr)
            return 1
        print(f"recording {driver.device_count} plates at {driver.rate} samples/s "
              f"for {arguments.seconds:g} s ...")
        recording = driver.record(arguments.seconds, zero=True)

    fz = recording.channels[:, :, 2]
    cop = recording.cop(threshold_n=20.0)
    print(f"{recording.samples} samples, {recording.drops} dropped, "
          f"{recording.overruns} frame overruns")
    print(f"{'pos':<4} {'plate':<12} {'mean Fz [N]':>12} {'peak Fz [N]':>12}")
    for plate in recording.amplifiers:
        column = fz[:, plate.position]
        print(f"{plate.position:<4} {plate.platform_serial:<12} {column.mean():12.1f} "
              f"{column.max():12.1f}")

    figure, (force_axes, x_axes, y_axes) = plt.subplots(3, 1, figsize=(10, 9), sharex=True)
    time = recording.time
    for plate in recording.amplifiers:
        label = f"{plate.position}: {plate.platform_serial}"
        force_axes.plot(time, fz[:, plate.position], label=label, linewidth=0.8)
        x_axes.plot(time, cop[:, plate.position, 0] * 1000, label=label, linewidth=0.8)
        y_axes.plot(time, cop[:, plate.position, 1] * 1000, label=label, linewidth=0.8)
    force_axes.set(ylabel="Fz [N]", title="Vertical force")
    x_axes.set(ylabel="x [mm]", title="Centre of pressure in the plate's axes (|Fz| >= 20 N)")
    y_axes.set(xlabel="time [s]", ylabel="y [mm]")
    for axes in (force_axes, x_axes, y_axes):
        axes.grid(linewidth=0.3)
    force_axes.legend(loc="upper right")
    figure.tight_layout()
    figure.savefig(arguments.output, dpi=120)
    print(f"plot written to {arguments.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
