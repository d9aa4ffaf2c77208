#!/usr/bin/python3
"""Benchmark of the live view of torva-host with emulated plates.

    /usr/bin/python3 bench/live_bench.py [--program PATH] [--plates 25] [--rate 2000]
        [--clients 4] [--seconds 60]

Starts `torva-host live --port 0` with TORVA_SIMULATE=plates, reads the stream with several
WebSocket clients for --seconds while sampling the CPU time of the server thread ("torva-live")
and of the process, measures the page's drawing rate (live_page_bench.py), ends the program with
SIGINT and prints a report. Exits 1 when frames went missing, frame numbers did not strictly
increase or the exit status was not 130; the other figures are reported, not enforced.
"""

import argparse
import asyncio
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import time

import websockets

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import live_page_bench  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[1]
ADDRESS = re.compile(r'live view: (http://127\.0\.0\.1:\d+/)')
PAGE_SECONDS = 10


def start_program(program, plates, rate, scratch):
    """Starts the program in scratch; returns it and its page URL once it is acquiring."""
    out = scratch / 'stdout.txt'
    env = dict(os.environ, TORVA_SIMULATE=str(plates))
    with open(out, 'w') as stdout, open(scratch / 'stderr.txt', 'w') as stderr:
        proc = subprocess.Popen([program, 'live', '--port', '0', '--rate', str(rate),
                                 '--trials', str(scratch / 'trials')],
                                cwd=scratch, env=env, stdout=stdout, stderr=stderr)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and proc.poll() is None:
        found = ADDRESS.search(out.read_text())
        if found:
            return proc, found.group(1)
        time.sleep(0.1)
    proc.kill()
    proc.wait()
    sys.exit(f'{program} printed no address within 120 s (exit {proc.returncode})')


def cpu_ticks(stat_path):
    """utime + stime of a /proc stat file, in clock ticks."""
    fields = pathlib.Path(stat_path).read_text().rsplit(')', 1)[1].split()
    return int(fields[11]) + int(fields[12])


def server_thread(pid):
    for task in pathlib.Path(f'/proc/{pid}/task').iterdir():
        if (task / 'comm').read_text().strip() == 'torva-live':
            return task / 'stat'
    sys.exit(f'no thread named torva-live in process {pid}')


def cpu_sample(pid, thread_stat):
    return time.monotonic(), cpu_ticks(thread_stat), cpu_ticks(f'/proc/{pid}/stat')


def cpu_shares(start, end):
    """Percent of one core used by the server thread and by the whole process."""
    ticks = os.sysconf('SC_CLK_TCK') * (end[0] - start[0])
    return 100 * (end[1] - start[1]) / ticks, 100 * (end[2] - start[2]) / ticks


def stream_address(page_url):
    origin = page_url.rstrip('/')
    return origin.replace('http://', 'ws://') + '/stream', origin


async def first_frame(page_url, limit_s=60):
    """Waits until a state message holds a frame: the program prints its address before the
    plates' first blocks come in, and the window should measure a flowing stream."""
    stream, origin = stream_address(page_url)
    async with websockets.connect(stream, origin=origin, max_size=None) as socket:
        deadline = time.monotonic() + limit_s
        while time.monotonic() < deadline:
            message = json.loads(await asyncio.wait_for(socket.recv(), limit_s))
            if message.get('type') == 'state' and message['frame'] is not None:
                return
    sys.exit(f'no frame on {stream} within {limit_s} s')


async def read_client(page_url, deadline):
    """Reads every message until deadline; returns what one client saw of the state messages."""
    seen = {'states': 0, 'increasing': True, 'delays': [], 'no_delay': 0, 'status': {}}
    last_frame = None
    stream, origin = stream_address(page_url)
    async with websockets.connect(stream, origin=origin, max_size=None) as socket:
        while (left := deadline - time.monotonic()) > 0:
            try:
                message = json.loads(await asyncio.wait_for(socket.recv(), left))
            except asyncio.TimeoutError:
                break
            if message.get('type') != 'state':
                continue
            seen['states'] += 1
            frame, status = message['frame'], message['status']
            if frame is None or (last_frame is not None and frame <= last_frame):
                seen['increasing'] = False
            last_frame, seen['status'] = frame, status
            if status.get('delay_ms') is None:
                seen['no_delay'] += 1
            else:
                seen['delays'].append(status['delay_ms'])
    return seen


async def read_stream(page_url, clients, seconds, pid):
    """Runs the clients over the window; returns their results and CPU samples at both ends."""
    await first_frame(page_url)
    thread_stat = server_thread(pid)
    start = cpu_sample(pid, thread_stat)
    deadline = time.monotonic() + seconds
    results = await asyncio.gather(*(read_client(page_url, deadline) for _ in range(clients)))
    return results, start, cpu_sample(pid, thread_stat)


def page_rate(url, scratch):
    browser = live_page_bench.start_chromium(scratch / 'chromium')
    try:
        browser.get(url)
        plates, draws, _, _ = live_page_bench.measure(browser, PAGE_SECONDS)
    finally:
        browser.quit()
    return plates, draws


def stop_program(proc):
    proc.send_signal(signal.SIGINT)
    try:
        return proc.wait(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
    return f'none within 60 s (killed: {proc.wait()})'


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))] if ordered else float('nan')


def report(args, results, cpu, page, status):
    last = [r['status'] for r in results]
    frames = max(s.get('frames', 0) for s in last)
    missing = max(s.get('missing', 0) for s in last)
    drops = max(s.get('drops', 0) for s in last)
    rates = [r['states'] / args.seconds for r in results]
    lost = [s.get('lost_messages', 0) for s in last]
    delays = [d for r in results for d in r['delays']]
    increasing = all(r['increasing'] for r in results)
    print(f'live bench: {args.plates} plates at {args.rate} samples/s, {args.clients} clients, '
          f'{args.seconds:g} s')
    print(f'frames received: {frames}, missing: {missing}, drops: {drops}')
    print(f'state messages per client: {min(rates):.1f} .. {max(rates):.1f} per second; '
          f'lost messages: {", ".join(map(str, lost))}')
    print('frame numbers strictly increasing: ' + ('yes' if increasing else 'NO'))
    no_delay = sum(r['no_delay'] for r in results)
    print(f'delay from PushFrames to the message on the socket: p50 {percentile(delays, .5):.1f} '
          f'ms, p99 {percentile(delays, .99):.1f} ms, max {max(delays, default=float("nan")):.1f}'
          f' ms (target p99 < 50 ms)' + (f'; {no_delay} messages without one' if no_delay else ''))
    print(f'server thread CPU: {cpu[0]:.2f} % of one core (target < 3 %); '
          f'whole process: {cpu[1]:.1f} %')
    print(f'page drawing rate with {page[0]} plates: {page[1]:.1f} passes/s (target >= 30)')
    print(f'exit status after SIGINT: {status}' + ('' if status == 130 else ' (expected 130)'))
    return missing == 0 and increasing and status == 130


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--program', default=str(ROOT / 'build' / 'bin' / 'torva-host'))
    parser.add_argument('--plates', type=int, default=25)
    parser.add_argument('--rate', type=int, default=2000, help='samples per second')
    parser.add_argument('--clients', type=int, default=4)
    parser.add_argument('--seconds', type=float, default=60)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix='live-bench-') as name:
        scratch = pathlib.Path(name)
        proc, url = start_program(args.program, args.plates, args.rate, scratch)
        try:
            results, start, end = asyncio.run(read_stream(url, args.clients, args.seconds,
                                                          proc.pid))
            page = page_rate(url, scratch)
        finally:
            status = stop_program(proc)
    sys.exit(0 if report(args, results, cpu_shares(start, end), page, status) else 1)


if __name__ == '__main__':
    main()
