#!/usr/bin/python3
"""Drawing rate of the live page in headless Chromium.

    /usr/bin/python3 bench/live_page_bench.py --url http://127.0.0.1:PORT/ [--seconds 10]

Opens the page of a running `torva-host live` (bench/live_bench.py runs it on 25 emulated
plates and calls this). Waits until the page is connected and drawing frames, then counts over --seconds (10) the
page's drawing passes (document.body.dataset.draws, one per animation frame) and the state
messages it received (document.body.dataset.states), against the page's own clock.
"""

import argparse
import pathlib
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                  '--no-first-run', '--disable-background-networking',
                  '--disable-component-update', '--disable-sync', '--window-size=1400,1000']
COUNTERS = """
const data = document.body.dataset;
return {now: performance.now(), draws: Number(data.draws || 0), states: Number(data.states || 0),
        frame: data.frame || null, connection: document.getElementById('connection').textContent,
        plates: document.querySelectorAll('[data-plate]').length};
"""


def start_chromium(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in CHROMIUM_FLAGS + [f'--user-data-dir={profile}']:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def wait_until_drawing(browser, limit_s=30):
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        counters = browser.execute_script(COUNTERS)
        if counters['connection'] == 'connected' and counters['frame'] and counters['draws'] > 10:
            return counters
        time.sleep(0.2)
    sys.exit(f'the page at {browser.current_url} did not connect and draw within {limit_s} s')


def measure(browser, seconds):
    start = wait_until_drawing(browser)
    time.sleep(seconds)
    end = browser.execute_script(COUNTERS)
    elapsed = (end['now'] - start['now']) / 1000
    return end['plates'], (end['draws'] - start['draws']) / elapsed, \
        (end['states'] - start['states']) / elapsed, elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--url', required=True, help='the page of a running torva-host live')
    parser.add_argument('--seconds', type=float, default=10)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix='live-bench-') as scratch:
        url = args.url
        browser = start_chromium(pathlib.Path(scratch) / 'chromium')
        try:
            browser.get(url)
            plates, draws, states, elapsed = measure(browser, args.seconds)
        finally:
            browser.quit()
    print(f'page: {url}  measured over {elapsed:.1f} s')
    print(f'page drawing rate with {plates} plates: {draws:.1f} passes/s')
    print(f'state messages received: {states:.1f} /s')


if __name__ == '__main__':
    main()
