#!/usr/bin/python3
"""A stand-in for `torva-host live`, for developing and benching the live page without plates.

    /usr/bin/python3 tests/live/fake_live_server.py [--plates 2] [--port 0] [--trials-dir DIR]
        [--disconnected K]

Serves host/live/page/ and the /stream WebSocket with the program's messages (layout, state 30
times a second, trials, notices) for N plates whose load sways, leaves the plate for a while in each
cycle and has a one-frame spike every 3 s. Answers zero, blink, record, stop, rescan and quit;
a stopped recording leaves trial-NNN.csv (frame column and each plate's Fz) and an empty
trial-NNN.c3d placeholder. Prints the page's URL as its first line.

Also importable: FakeLiveServer(plates).start() runs it on a thread; fz_at(name, frame) returns
the Fz the server sent for that frame (None when it sent no state for it).
"""

import argparse
import asyncio
import http
import json
import math
import pathlib
import sys
import tempfile
import threading
import time

import websockets

PAGE_DIR = pathlib.Path(__file__).resolve().parents[2] / 'host' / 'live' / 'page'
PAGE_FILES = {'/': 'index.html', '/live.js': 'live.js', '/live.css': 'live.css'}
CONTENT_TYPES = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css'}
RATE = 1000
STATE_INTERVAL_S = 1 / 30
REMEMBERED_STATES = 3000


def plate_fz(index, frame):
    """Fz of plate `index` at `frame` in N (negative under load), or None when unloaded."""
    phase = 2 * math.pi * frame / RATE / 4 + index
    if math.sin(phase) < -0.7:
        return None
    spike = -600.0 if frame % (3 * RATE) == (97 * index) % (3 * RATE) else 0.0
    return -(450 + 300 * math.sin(phase)) + spike + 2 * math.sin(frame * 0.7)


def plate_layout(index, count, connected):
    columns = math.ceil(math.sqrt(count))
    return {'name': f'FAKE{index + 1:04d}', 'connected': connected, 'length_m': 0.6,
            'width_m': 0.4, 'x_mm': (index % columns) * 800, 'y_mm': -(index // columns) * 700,
            'z_mm': 0, 'rotation_deg': [0, 90, 0, 30][index % 4]}


class FakeLiveServer:
    def __init__(self, plates=2, port=0, trials_dir=None, disconnected=0):
        self.layout = [plate_layout(i, plates, i < plates - disconnected) for i in range(plates)]
        self.plate_names = [p['name'] for p in self.layout]
        self.port = port
        self.trials_dir = pathlib.Path(trials_dir or tempfile.mkdtemp(prefix='fake-live-'))
        self.trials = []
        self.recording = None           # (trial name, first frame) while recording
        self.sent = {}                  # frame -> {name: Fz} of the states sent
        self.clients = set()
        self._log = []
        self._ready = threading.Event()
        self._thread = threading.Thread(target=lambda: asyncio.run(self._main()), daemon=True)

    @property
    def url(self):
        return f'http://127.0.0.1:{self.port}/'

    def start(self):
        self._thread.start()
        self._ready.wait(10)
        return self

    def stop(self):
        if self._thread.is_alive():
            self._loop.call_soon_threadsafe(self._stopping.set)
            self._thread.join(10)

    def join(self):
        self._thread.join()

    def log_text(self):
        return '\n'.join(self._log)

    def fz_at(self, name, frame):
        return self.sent.get(frame, {}).get(name)

    def log(self, text):
        self._log.append(text)
        print(text, file=sys.stderr, flush=True)

    async def _main(self):
        self._loop = asyncio.get_running_loop()
        self._stopping = asyncio.Event()
        async with websockets.serve(self._client, '127.0.0.1', self.port,
                                    process_request=self._http) as server:
            self.port = server.sockets[0].getsockname()[1]
            self._start = time.monotonic()
            ticker = asyncio.create_task(self._tick())
            self._ready.set()
            await self._stopping.wait()
            ticker.cancel()

    async def _http(self, path, headers):
        path = path.split('?')[0]
        if path == '/stream':
            origin = headers.get('Origin')
            if origin is not None and origin != f'http://{headers.get("Host")}':
                return http.HTTPStatus.FORBIDDEN, [], b'origin refused\n'
            return None
        if path not in PAGE_FILES:
            return http.HTTPStatus.NOT_FOUND, [], b'not found\n'
        file = PAGE_DIR / PAGE_FILES[path]
        headers = [('Content-Type', CONTENT_TYPES[file.suffix] + '; charset=utf-8'),
                   ('Cache-Control', 'no-store')]
        return http.HTTPStatus.OK, headers, file.read_bytes()

    def frame_now(self):
        return int((time.monotonic() - self._start) * RATE)

    def broadcast(self, message):
        websockets.broadcast(self.clients, json.dumps(message))

    def notice(self, text, level='info'):
        self.log(text)
        self.broadcast({'type': 'notice', 'level': level, 'text': text})

    async def _client(self, socket, path=None):
        self.clients.add(socket)
        try:
            await socket.send(json.dumps({'type': 'layout', 'rate': RATE, 'listen': '127.0.0.1:%d'
                                          % self.port, 'plates': self.layout}))
            await socket.send(json.dumps(self._trials_message()))
            async for text in socket:
                try:
                    self._command(json.loads(text))
                except (ValueError, AttributeError):
                    pass
        finally:
            self.clients.discard(socket)

    def _command(self, message):
        command = message.get('command')
        if command == 'zero':
            self.notice('Zero sent')
        elif command == 'blink':
            self.notice(f'Blink {message.get("plate")}')
        elif command == 'record' and not self.recording:
            self.recording = (f'trial-{len(self.trials) + 1:03d}', self.frame_now() + 1)
            self.log(f'recording {self.recording[0]}')
        elif command == 'stop':
            self._save_trial() if self.recording else self.notice('not recording', 'error')
        elif command == 'rescan':
            self.broadcast({'type': 'layout', 'rate': RATE, 'plates': self.layout})
            self.notice('Rescan done')
        elif command == 'quit':
            self.log('quit')
            self._stopping.set()

    def _save_trial(self):
        (name, first), last = self.recording, self.frame_now()
        self.recording = None
        frames = range(first, last + 1)
        columns = {p['name']: [plate_fz(i, f) or 0.0 for f in frames] for i, p in enumerate(self.layout)}
        with open(self.trials_dir / f'{name}.csv', 'w') as csv:
            csv.write(f'# trial: {name}\n# rate: {RATE}\n')
            csv.write('frame,' + ','.join(f'{n} Fz' for n in columns) + '\n')
            for row, frame in enumerate(frames):
                csv.write(f'{frame},' + ','.join(f'{v[row]:.3f}' for v in columns.values()) + '\n')
        (self.trials_dir / f'{name}.c3d').write_bytes(b'')
        self.trials.append({'name': name, 'seconds': len(frames) / RATE, 'frames': len(frames),
                            'first_frame': first, 'last_frame': last,
                            'peak_Fz': [{'name': n, 'value': min(v)} for n, v in columns.items()],
                            'files': [f'{name}.c3d', f'{name}.csv']})
        self.broadcast(self._trials_message())
        self.notice(f'Saved {name}')

    def _trials_message(self):
        return {'type': 'trials', 'folder': str(self.trials_dir), 'trials': self.trials}

    async def _tick(self):
        last = self.frame_now()
        while True:
            await asyncio.sleep(STATE_INTERVAL_S)
            frame = self.frame_now()
            if frame > last:
                self.broadcast(self._state(last + 1, frame))
                last = frame

    def _state(self, first, frame):
        t = frame / RATE
        plates = [self._plate_state(i, p, first, frame, t) for i, p in enumerate(self.layout)]
        self.sent[frame] = {p['name']: p['Fz'] for p in plates}
        while len(self.sent) > REMEMBERED_STATES:
            del self.sent[next(iter(self.sent))]
        recording = {'active': False}
        if self.recording:
            recording = {'active': True, 'trial': self.recording[0],
                         'seconds': (frame - self.recording[1] + 1) / RATE}
        status = {'rate': RATE, 'frames': frame, 'missing': 0, 'drops': 0, 'lost_messages': 0,
                  'clients': len(self.clients)}
        return {'type': 'state', 'frame': frame, 'time_s': t, 'plates': plates,
                'status': status, 'recording': recording}

    @staticmethod
    def _plate_state(i, p, first, frame, t):
        if not p['connected']:
            return {'name': p['name'], 'connected': False, 'Fx': None, 'Fy': None, 'Fz': None,
                    'Fz_min': None, 'Fz_max': None, 'Fx_lab': None, 'Fy_lab': None,
                    'Cx': None, 'Cy': None, 'loaded': False}
        window = [plate_fz(i, f) or 0.0 for f in range(first, frame + 1)]
        fz = plate_fz(i, frame)
        loaded = fz is not None
        fx, fy = 60 * math.cos(t + i), 40 * math.sin(1.3 * t + i)
        return {'name': p['name'], 'connected': True, 'Fx': round(fx if loaded else 0.0, 3),
                'Fy': round(fy if loaded else 0.0, 3), 'Fz': round(fz or 0.0, 3),
                'Fz_min': round(min(window), 3), 'Fz_max': round(max(window), 3),
                'Fx_lab': round(fx, 3) if loaded else 0.0, 'Fy_lab': round(fy, 3) if loaded else 0.0,
                'Cx': (p['x_mm'] + 150 * math.cos(t * 0.9 + i)) / 1000 if loaded else None,
                'Cy': (p['y_mm'] + 100 * math.sin(t * 1.1 + i)) / 1000 if loaded else None,
                'loaded': loaded}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--plates', type=int, default=2)
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--trials-dir')
    parser.add_argument('--disconnected', type=int, default=0, help='last K plates not connected')
    args = parser.parse_args()
    server = FakeLiveServer(args.plates, args.port, args.trials_dir, args.disconnected).start()
    print(server.url, flush=True)
    try:
        server.join()
    except KeyboardInterrupt:
        server.stop()


if __name__ == '__main__':
    main()
