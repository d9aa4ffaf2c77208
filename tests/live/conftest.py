"""Runs `torva-host live` for the tests of this folder.

The program is build/bin/torva-host of this checkout, or $TORVA_HOST_PROGRAM. It runs on emulated
plates (TORVA_SIMULATE), on a free port, with its trials in a temporary folder.
"""

import os
import pathlib
import re
import signal
import subprocess
import tempfile
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PROGRAM = os.environ.get('TORVA_HOST_PROGRAM', str(ROOT / 'build' / 'bin' / 'torva-host'))
# Emulated amplifiers on an emulated USB bus reached through the real libusb (tests/e2e).
USBFS_RUN = pathlib.Path(PROGRAM).parent / 'torva-usbfs-run'
START_LIMIT_S = 60
END_LIMIT_S = 30
ADDRESS = re.compile(r'live view: (http://127\.0\.0\.1:(\d+)/)')
PLATE_LINE = re.compile(r'^plate (\S+): .*"$', re.MULTILINE)


class LiveProgram:
    """A running `torva-host live` (under `wrapper`, a command that runs it, when given); `stop()`
    ends it as Ctrl-C does and returns its exit status."""

    def __init__(self, folder, plates=2, arguments=(), wrapper=()):
        self.folder = pathlib.Path(folder)
        self.trials_dir = self.folder / 'trials'
        self.log_path = self.folder / 'stderr.txt'
        self.out_path = self.folder / 'stdout.txt'
        with open(self.log_path, 'w') as log, open(self.out_path, 'w') as out:
            self.process = subprocess.Popen(
                [*wrapper, self.program(), 'live', '--port', '0', '--trials', str(self.trials_dir), *arguments],
                cwd=self.folder, env=self.environment(plates), stdout=out, stderr=log)
        deadline = time.monotonic() + START_LIMIT_S
        while not (match := ADDRESS.search(self.out_path.read_text())):
            if self.process.poll() is not None:
                raise RuntimeError(f'torva-host live ended with {self.process.returncode}:\n'
                                   + self.log_text())
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError('torva-host live printed no address:\n' + self.log_text())
            time.sleep(0.1)
        self.url = match.group(1)
        self.port = int(match.group(2))
        self.plate_names = PLATE_LINE.findall(self.log_text())

    @staticmethod
    def program():
        return PROGRAM

    @staticmethod
    def environment(plates):
        environment = dict(os.environ, TORVA_SIMULATE=str(plates))
        environment.pop('LD_PRELOAD', None)
        return environment

    def log_text(self):
        return self.log_path.read_text(errors='replace')

    def memory_kib(self):
        """The program's resident memory."""
        status = pathlib.Path(f'/proc/{self.process.pid}/status').read_text()
        return int(re.search(r'VmRSS:\s+(\d+) kB', status).group(1))

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(END_LIMIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode


@pytest.fixture(scope='module')
def live_program():
    with tempfile.TemporaryDirectory(prefix='torva-live-') as folder:
        program = LiveProgram(folder)
        try:
            yield program
        finally:
            status = program.stop()
            assert status == 128 + signal.SIGINT, \
                f'torva-host live ended with {status} after SIGINT:\n' + program.log_text()
