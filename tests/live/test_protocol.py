"""The live view's stream and server as a client sees them, against a running `torva-host live`
on two emulated plates (conftest.py). Every wait has a limit that holds on a loaded machine."""

import asyncio
import json
import pathlib
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pytest
import websockets

from conftest import LiveProgram

CHECK_CAPTURE_FILES = pathlib.Path(__file__).resolve().parents[1] / 'e2e' / 'check_capture_files.py'
LIMIT_S = 30
MIN_MESSAGES_PER_S = 20
STALLED_CLIENT_S = 10
MEMORY_GROWTH_LIMIT_KIB = 16 * 1024


def origin(program):
    return f'http://127.0.0.1:{program.port}'


def connect(program, **extra):
    return websockets.connect(f'ws://127.0.0.1:{program.port}/stream', origin=origin(program),
                              **extra)


async def next_of(ws, kind):
    """The next message of that type; fails after LIMIT_S."""
    async def receive():
        while (message := json.loads(await ws.recv()))['type'] != kind:
            pass
        return message

    try:
        return await asyncio.wait_for(receive(), LIMIT_S)
    except asyncio.TimeoutError:
        pytest.fail(f'no {kind} message within {LIMIT_S} s')


async def state_until(ws, condition, what):
    """The first state message for which condition(message) holds; fails after LIMIT_S."""
    deadline = time.monotonic() + LIMIT_S
    while not condition(message := await next_of(ws, 'state')):
        assert time.monotonic() < deadline, f'not within {LIMIT_S} s: {what}'
    return message


async def watch(program, seconds):
    """Every state message one client receives in `seconds` once frames flow, and the first two
    messages (layout and trials)."""
    async with connect(program) as ws:
        first = [json.loads(await ws.recv()), json.loads(await ws.recv())]
        await state_until(ws, lambda m: m['frame'] is not None, 'frames flow')
        states, end = [], time.monotonic() + seconds
        while time.monotonic() < end:
            message = json.loads(await asyncio.wait_for(ws.recv(), LIMIT_S))
            if message['type'] == 'state':
                states.append((time.monotonic(), message))
        return first, states


def http_status(program, request):
    """The status code of the answer to a raw request ('' when the server closes without one)."""
    with socket.create_connection(('127.0.0.1', program.port), timeout=LIMIT_S) as connection:
        connection.sendall(request.encode())
        answer = b''
        while b'\r\n' not in answer:
            chunk = connection.recv(4096)
            if not chunk:
                break
            answer += chunk
    return answer.split(b' ')[1].decode() if answer.startswith(b'HTTP/1.1 ') else ''


def upgrade_request(program, host=None, origin_header=None, target='/stream'):
    host = host or f'127.0.0.1:{program.port}'
    lines = [f'GET {target} HTTP/1.1', f'Host: {host}', 'Upgrade: websocket',
             'Connection: Upgrade', 'Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==',
             'Sec-WebSocket-Version: 13']
    if origin_header is not None:
        lines.append(f'Origin: {origin_header}')
    return '\r\n'.join(lines) + '\r\n\r\n'


def test_the_stream_is_steady_ordered_and_complete(live_program):
    first, states = asyncio.run(watch(live_program, 3))
    assert [message['type'] for message in first] == ['layout', 'trials']
    assert [plate['name'] for plate in first[0]['plates']] == live_program.plate_names
    seconds = states[-1][0] - states[0][0]
    assert len(states) - 1 >= MIN_MESSAGES_PER_S * seconds, f'{len(states)} in {seconds:.1f} s'
    frames = [message['frame'] for _, message in states]
    assert all(b > a for a, b in zip(frames, frames[1:])), f'frames not increasing: {frames}'
    for _, message in states:
        assert message['status']['missing'] == 0 and message['status']['drops'] == 0
        for plate in message['plates']:
            assert plate['Fz_min'] <= plate['Fz'] <= plate['Fz_max'] or plate['Fz'] is None
            assert (plate['Cx'] is None) == (not plate['loaded'])


def test_only_the_pages_own_origin_may_open_the_stream(live_program):
    own = origin(live_program)
    assert http_status(live_program, upgrade_request(live_program, origin_header=own)) == '101'
    for host, origin_header in [(None, 'http://elsewhere.example'),  # a foreign page
                                (None, None),  # no Origin at all
                                (None, own.replace('http:', 'https:')),
                                # a foreign name pointed at 127.0.0.1 (DNS rebinding)
                                (f'elsewhere.example:{live_program.port}',
                                 f'http://elsewhere.example:{live_program.port}')]:
        assert http_status(live_program, upgrade_request(live_program, host, origin_header)) == \
            '403', (host, origin_header)
    assert http_status(live_program, upgrade_request(live_program, origin_header=own,
                                                     target='/elsewhere')) == '404'
    plain = f'Host: 127.0.0.1:{live_program.port}\r\n\r\n'
    assert http_status(live_program, 'GET / HTTP/1.1\r\n' + plain) == '200'
    assert http_status(live_program, 'GET /../etc/passwd HTTP/1.1\r\n' + plain) == '404'
    assert http_status(live_program, 'POST / HTTP/1.1\r\n' + plain) == '405'
    # A request over the size limit gets no page, and the server goes on serving.
    huge = f'GET / HTTP/1.1\r\nHost: 127.0.0.1:{live_program.port}\r\nX-Filler: {"x" * 65536}\r\n\r\n'
    assert http_status(live_program, huge) != '200'
    assert http_status(live_program, 'GET /live.js HTTP/1.1\r\n' + plain) == '200'


def test_a_ninth_client_is_refused_until_a_place_is_free(live_program):
    async def run():
        clients = []
        try:
            for _ in range(8):
                clients.append(await connect(live_program).__aenter__())
                await next_of(clients[-1], 'layout')
            with pytest.raises(websockets.exceptions.InvalidStatusCode) as refused:
                await connect(live_program).__aenter__()
            assert refused.value.status_code == 503
            await clients.pop().close()
            deadline = time.monotonic() + LIMIT_S
            while True:  # the server sees the close once it reads it
                try:
                    clients.append(await connect(live_program).__aenter__())
                    break
                except websockets.exceptions.InvalidStatusCode:
                    assert time.monotonic() < deadline, 'the freed place is not taken again'
                    await asyncio.sleep(0.2)
        finally:
            for client in clients:
                await client.close()

    asyncio.run(run())


def test_a_client_that_never_reads_costs_no_frame(live_program):
    """A page that stops reading (a frozen tab) loses messages, never frames, and the program's
    memory stays bounded."""
    stalled = socket.socket()
    stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stalled.connect(('127.0.0.1', live_program.port))
    stalled.sendall(upgrade_request(live_program, origin_header=origin(live_program)).encode())
    assert stalled.recv(12) == b'HTTP/1.1 101'
    memory_before = live_program.memory_kib()
    try:
        _, states = asyncio.run(watch(live_program, STALLED_CLIENT_S))
    finally:
        memory_after = live_program.memory_kib()
        stalled.close()
    gaps = [b[0] - a[0] for a, b in zip(states, states[1:])]
    assert max(gaps) < 1.0, f'the reading client waited {max(gaps):.2f} s for a message'
    frames = [message['frame'] for _, message in states]
    assert all(b > a for a, b in zip(frames, frames[1:]))
    status = states[-1][1]['status']
    assert status['missing'] == 0 and status['drops'] == 0, status
    assert status['frames'] > states[0][1]['status']['frames']
    assert memory_after - memory_before < MEMORY_GROWTH_LIMIT_KIB, (memory_before, memory_after)


def test_commands_act_and_anything_else_is_ignored_and_logged_once(live_program):
    async def run():
        async with connect(live_program) as ws:
            await ws.send(json.dumps({'command': 'zero'}))
            assert 'zero' in (await next_of(ws, 'notice'))['text']
            for junk in ['{"command": "format-disk"}', 'not json', '[1, 2]',
                         '{"command": "blink"}']:
                await ws.send(junk)
            await ws.send(json.dumps({'command': 'stop'}))  # no trial records
            notice = await next_of(ws, 'notice')
            assert notice['level'] == 'error' and 'no trial' in notice['text']
            await ws.send(json.dumps({'command': 'blink', 'plate': live_program.plate_names[1]}))
            assert live_program.plate_names[1] in (await next_of(ws, 'notice'))['text']
            # The plugin ends acquisition to blink; the program starts it again.
            first = (await state_until(ws, lambda m: m['frame'] is not None, 'frames'))['frame']
            await state_until(ws, lambda m: (m['frame'] or 0) > first, 'acquisition goes on')

    asyncio.run(run())
    log = live_program.log_text()
    assert log.count('no command') == 1, log


def record_trial(program, seconds):
    """Records a trial of about `seconds` from a page; the trials message that lists it."""
    async def run():
        async with connect(program) as ws:
            await ws.send(json.dumps({'command': 'record'}))
            await state_until(ws, lambda m: m['recording'].get('seconds', 0) >= seconds,
                              f'a recording of {seconds} s')
            await ws.send(json.dumps({'command': 'stop'}))
            return await next_of(ws, 'trials')

    return asyncio.run(run())


def csv_frames(path):
    lines = [line for line in path.read_text().splitlines() if not line.startswith('#')]
    return [int(line.split(',')[0]) for line in lines[1:]]


def test_trials_are_numbered_on_hold_every_frame_and_need_no_second_detection(live_program):
    trials = pathlib.Path(live_program.trials_dir)
    (trials / 'trial-007.csv').write_text('an earlier trial, to be left alone\n')
    record_trial(live_program, 0.5)
    listed = record_trial(live_program, 0.5)['trials']
    names = [trial['name'] for trial in listed][-2:]
    assert names == ['trial-008', 'trial-009']
    assert (trials / 'trial-007.csv').read_text() == 'an earlier trial, to be left alone\n'
    spans = []
    for trial in listed[-2:]:
        frames = csv_frames(trials / f'{trial["name"]}.csv')
        assert frames == list(range(trial['first_frame'], trial['last_frame'] + 1))
        assert trial['frames'] == len(frames) and trial['files'] == [
            f'{trial["name"]}.c3d', f'{trial["name"]}.csv']
        check = subprocess.run([sys.executable, str(CHECK_CAPTURE_FILES),
                                str(trials / trial['files'][1]), str(trials / trial['files'][0])],
                               capture_output=True, text=True)
        assert check.returncode == 0, check.stdout + check.stderr
        spans.append((frames[0], frames[-1]))
    assert spans[1][0] > spans[0][1]
    assert live_program.log_text().count('Detected 2') == 1


def test_quit_from_a_page_ends_the_program_cleanly():
    with tempfile.TemporaryDirectory(prefix='torva-live-') as folder:
        program = LiveProgram(folder)

        async def run():
            async with connect(program) as ws:
                await ws.send(json.dumps({'command': 'record'}))
                await state_until(ws, lambda m: m['recording'].get('seconds', 0) >= 0.2,
                                  'a recording of 0.2 s')
                await ws.send(json.dumps({'command': 'quit'}))

        asyncio.run(run())
        assert program.process.wait(LIMIT_S) == 0, program.log_text()
        # The trial recording when Quit came is completed and kept.
        assert (pathlib.Path(program.trials_dir) / 'trial-001.c3d').exists(), program.log_text()


def test_what_cannot_work_ends_the_program_before_detection(tmp_path):
    taken = socket.socket()
    taken.bind(('127.0.0.1', 0))
    taken.listen()
    (tmp_path / 'a-file').write_text('')
    (tmp_path / 'layout.ini').write_text('[P1]\nx_mm = 0\ncolour = red\n')
    for arguments, message in [
            (['--port', str(taken.getsockname()[1])], 'cannot listen'),
            (['--trials', str(tmp_path / 'a-file')], 'trials folder'),
            (['--layout', str(tmp_path / 'layout.ini')], 'layout.ini'),
            (['--listen', 'nowhere'], 'not an IP address')]:
        run = subprocess.run([str(pathlib.Path(LiveProgram.program())), 'live', *arguments],
                             cwd=tmp_path, env=LiveProgram.environment(2), capture_output=True,
                             text=True, timeout=LIMIT_S)
        assert run.returncode == 1 and message in run.stderr, (arguments, run.stderr)
        assert 'Detected' not in run.stderr
    taken.close()
