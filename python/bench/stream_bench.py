#!/usr/bin/python3
"""Throughput and delay of ``torva.Driver.stream()`` against the library's emulator.

    PYTHONPATH=python /usr/bin/python3 python/bench/stream_bench.py [--seconds 60]
        [--latency-seconds 20] [--part throughput|latency]

Throughput: 25 emulated amplifiers at 3000 samples/s for --seconds (60): samples received
against what the clock and the counters expect, samples the amplifiers dropped, frames the
library's ring overran, and the CPU share of this Python process (user + system time from
resource.getrusage over the streaming wall time; the library's threads and the emulated
amplifiers run in the same process and are included).

Delay: 4 emulated amplifiers at 1000 samples/s, from a frame's arrival in the library to its
block in Python, p50 and p99. The library exposes no arrival time (its data-ready messages go to
a native thread queue Python cannot read), so the arrival is inferred from the emulator's clock:
it sends each 16-sample packet when its last sample is due, at begin + counter/rate on the
monotonic clock that Python's time.monotonic() also reads. Each frame's delay is the time its
poll took it minus counter/rate, less the smallest such value of the run (begin and the
fastest delivery, which become the zero point). What is measured is therefore the wait beyond
the fastest delivery seen: the polling interval, Python's work and scheduling jitter. The first
half second (start-up) is left out. It runs at the default poll interval and at 1 ms.

The emulator reads TORVA_SIMULATE once per process, so each part runs in a child process of its
own. Without TORVA_SETTINGS a scratch settings file is used, so the machine's saved setup is
neither read nor written.
"""

import argparse
import os
import pathlib
import resource
import subprocess
import sys
import tempfile
import time

try:
    import torva
except ImportError:  # from a checkout without PYTHONPATH
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
    import torva

import numpy as np

SAMPLES_PER_FRAME = 16


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def throughput(seconds, rate, poll_interval=None):
    with torva.Driver() as driver:
        plates = driver.device_count
        driver.rate = rate
        received = 0
        first_counter = last_counter = None
        blocks = 0
        most_waiting = 0
        with driver.stream(poll_interval=poll_interval) as stream:
            cpu_begin, wall_begin = cpu_seconds(), time.monotonic()
            end = wall_begin + seconds
            for block in stream:
                blocks += 1
                received += block.samples
                most_waiting = max(most_waiting, block.waiting)
                if first_counter is None:
                    first_counter = int(block.counters[0])
                    first_block_at = block.time
                last_counter = int(block.counters[-1])
                if block.time >= end:
                    break
            wall = time.monotonic() - wall_begin
            cpu = cpu_seconds() - cpu_begin
            totals = (stream.drops, stream.overruns, stream.missing, stream.poll_interval)
    drops, overruns, missing, poll = totals
    streamed = block.time - first_block_at
    print(f"throughput: {plates} amplifiers at {rate} samples/s for {wall:.1f} s "
          f"(poll interval {poll * 1000:.2f} ms)")
    print(f"  samples received per plate:     {received}")
    print(f"  expected from the counters:     {last_counter - first_counter + 1} "
          f"(counters {first_counter}..{last_counter})")
    print(f"  expected from the clock:        {rate * streamed + SAMPLES_PER_FRAME:.0f} "
          f"(rate x {streamed:.2f} s from the first block to the last, plus its frame)")
    print(f"  samples missing from counters:  {missing}")
    print(f"  samples dropped by amplifiers:  {drops}")
    print(f"  frames overrun in the ring:     {overruns}")
    print(f"  blocks: {blocks} ({received / max(blocks, 1) / SAMPLES_PER_FRAME:.2f} frames each), "
          f"most frames waiting at a poll: {most_waiting} of 625")
    print(f"  CPU of the process: {cpu:.2f} s in {wall:.1f} s = {100 * cpu / wall:.1f} % of one "
          f"core (library, emulator and Python)")


def delay(seconds, rate, poll_interval):
    delays, gaps = [], []
    with torva.Driver() as driver:
        plates = driver.device_count
        driver.rate = rate
        with driver.stream(poll_interval=poll_interval) as stream:
            cpu_begin, wall_begin = cpu_seconds(), time.monotonic()
            end = wall_begin + seconds
            previous = None
            for block in stream:
                # Each frame of the block: the counter of its last sample, and the take time.
                last = block.counters[SAMPLES_PER_FRAME - 1::SAMPLES_PER_FRAME]
                delays.append(np.stack([last, block.time - last / rate]))
                if previous is not None:
                    gaps.append(block.time - previous)
                previous = block.time
                if block.time >= end:
                    break
            wall = time.monotonic() - wall_begin
            cpu = cpu_seconds() - cpu_begin
            poll = stream.poll_interval
    counters, relative = np.concatenate(delays, axis=1)
    relative = relative[counters >= 0.5 * rate]  # leave the start-up out
    relative = (relative - relative.min()) * 1000.0
    gaps = np.array(gaps) * 1000.0
    period = SAMPLES_PER_FRAME / rate * 1000.0
    print(f"delay: {plates} amplifiers at {rate} samples/s for {wall:.1f} s, poll interval "
          f"{poll * 1000:.2f} ms, {len(relative)} frames (frame period {period:.1f} ms)")
    print(f"  frame due -> block in Python, beyond the fastest seen: p50 "
          f"{np.percentile(relative, 50):.2f} ms, p99 {np.percentile(relative, 99):.2f} ms, "
          f"max {relative.max():.2f} ms")
    print(f"  time between non-empty polls: p50 {np.percentile(gaps, 50):.2f} ms, p99 "
          f"{np.percentile(gaps, 99):.2f} ms (frame period {period:.1f} ms)")
    print(f"  CPU of the process: {100 * cpu / wall:.1f} % of one core")


def run_child(part, amplifiers, arguments, settings):
    environment = dict(os.environ, TORVA_SIMULATE=str(amplifiers))
    environment.setdefault("TORVA_SETTINGS", settings)
    command = [sys.executable, __file__, "--part", part, "--seconds", str(arguments.seconds),
               "--latency-seconds", str(arguments.latency_seconds)]
    if arguments.poll_ms is not None:
        command += ["--poll-ms", str(arguments.poll_ms)]
    return subprocess.run(command, env=environment, check=False).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=60.0,
                        help="length of the throughput run (default 60)")
    parser.add_argument("--latency-seconds", type=float, default=20.0,
                        help="length of each delay run (default 20)")
    parser.add_argument("--poll-ms", type=float, default=None,
                        help="poll interval of the throughput run in ms (default: the stream's)")
    parser.add_argument("--part", choices=("throughput", "latency"),
                        help="run one part in this process (TORVA_SIMULATE must be set)")
    arguments = parser.parse_args()
    if arguments.part == "throughput":
        poll = None if arguments.poll_ms is None else arguments.poll_ms / 1000.0
        throughput(arguments.seconds, 3000, poll)
        return 0
    if arguments.part == "latency":
        delay(arguments.latency_seconds, 1000, None)
        delay(arguments.latency_seconds, 1000, 0.001)
        return 0
    with tempfile.TemporaryDirectory() as scratch:
        settings = pathlib.Path(scratch) / "settings.conf"
        (pathlib.Path(scratch) / "cfg").mkdir()
        settings.write_text(f"[SOFTWARE\\Torva\\CFG]\nPath={scratch}/cfg/\n")
        status = run_child("throughput", 25, arguments, str(settings))
        status = run_child("latency", 4, arguments, str(settings)) or status
    return status


if __name__ == "__main__":
    sys.exit(main())
