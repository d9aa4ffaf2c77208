"""Rescan over the real libusb path: an amplifier pulled out and another plugged in while the
live view runs show up after a rescan from the page, without restarting the program."""

import asyncio
import json
import signal

from conftest import LiveProgram, USBFS_RUN
from test_protocol import LIMIT_S, connect, next_of, state_until


async def layout_until(ws, condition, what):
    deadline = asyncio.get_running_loop().time() + LIMIT_S
    while not condition(message := await next_of(ws, 'layout')):
        assert asyncio.get_running_loop().time() < deadline, f'not within {LIMIT_S} s: {what}'
    return message


def connected(layout):
    return {plate['name']: plate['connected'] for plate in layout['plates']}


def test_a_rescan_finds_the_plate_plugged_in_and_shows_the_one_pulled_out(tmp_path):
    program = LiveProgram(tmp_path, wrapper=[str(USBFS_RUN), '--amplifiers', '2',
                                             '--unplug', '1@usr1', '--plug', 'usr1', '--'])
    try:
        async def run():
            async with connect(program) as ws:
                layout = await next_of(ws, 'layout')
                assert connected(layout) == {name: True for name in program.plate_names}
                program.process.send_signal(signal.SIGUSR1)  # one plate pulled out, one plugged in
                layout = await layout_until(ws, lambda m: False in connected(m).values(),
                                            'the pulled-out plate shows as disconnected')
                gone = [name for name, state in connected(layout).items() if not state]
                kept = [name for name, state in connected(layout).items() if state]
                assert len(gone) == 1 and len(kept) == 1, layout
                await ws.send(json.dumps({'command': 'rescan'}))
                layout = await layout_until(ws, lambda m: len(m['plates']) == 3, 'a new plate')
                states = connected(layout)
                new = (set(states) - set(program.plate_names)).pop()
                assert states == {kept[0]: True, gone[0]: False, new: True}, states
                # Both connected plates stream again.
                message = await state_until(ws, lambda m: m['frame'] is not None, 'frames')
                later = await state_until(ws, lambda m: (m['frame'] or 0) > message['frame'] + 100,
                                          'frames go on')
                values = {plate['name']: plate['Fz'] for plate in later['plates']}
                assert values[kept[0]] is not None and values[new] is not None, values

        asyncio.run(run())
    finally:
        status = program.stop()
    assert status == 128 + signal.SIGINT, program.log_text()
    assert 'plugged in' in program.log_text()
