"""The live page in headless Chromium against a running `torva-host live`.

    /usr/bin/python3 -m pytest tests/live/test_browser.py

The `live_program` fixture (conftest.py) runs the program on two emulated plates whose load
changes and gives: url, trials_dir, log_text() and plate_names. Every wait is a polled
condition with a 30 s limit. A screenshot of the page goes to $TORVA_ARTEFACTS_DIR/live-page.png
(or the temporary directory).
"""

import csv
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CHECK_CAPTURE_FILES = pathlib.Path(__file__).resolve().parents[1] / 'e2e' / 'check_capture_files.py'
LIMIT_S = 30
FZ_TOLERANCE_N = 1.0
FZ_SAMPLES = 3
CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                  '--no-first-run', '--disable-background-networking',
                  '--disable-component-update', '--disable-sync', '--window-size=1400,1000']

# Frame shown and each card's Fz, read in one script so they belong to the same drawing pass.
READ_DRAWN = """
const cards = {};
for (const card of document.querySelectorAll('[data-plate]')) {
  cards[card.dataset.plate] = {fz: card.dataset.fz, text: card.querySelector('.fz').textContent};
}
return {frame: document.body.dataset.frame, cards};
"""


def wait_for(condition, what, limit=LIMIT_S, interval=0.1):
    """Polls condition() until it returns something true, which is returned; fails after limit s."""
    deadline = time.monotonic() + limit
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            pytest.fail(f'not within {limit} s: {what}')
        time.sleep(interval)


@pytest.fixture(scope='module')
def browser():
    with tempfile.TemporaryDirectory(prefix='live-chromium-') as profile:
        options = webdriver.ChromeOptions()
        options.binary_location = '/usr/bin/chromium'
        for flag in CHROMIUM_FLAGS + [f'--user-data-dir={profile}']:
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        try:
            yield driver
        finally:
            driver.quit()


@pytest.fixture
def page(browser, live_program):
    """The live page, loaded, connected and showing the program's frames."""
    browser.get(live_program.url)
    wait_for(lambda: 'connected' in browser.find_element(By.ID, 'connection').text,
             'the page connects to the program')
    wait_for(lambda: browser.execute_script('return document.body.dataset.frame'),
             'the page draws a state message')
    return browser


def drawn(browser):
    return browser.execute_script(READ_DRAWN)


def test_page_shows_both_plates_connected(page, live_program):
    cards = [card.get_attribute('data-plate')
             for card in page.find_elements(By.CSS_SELECTOR, '[data-plate]')]
    assert set(live_program.plate_names) <= set(cards), \
        f'cards shown {cards}, plates {live_program.plate_names}'
    assert page.find_element(By.ID, 'connection').text == 'connected'
    for name in live_program.plate_names:
        card = page.find_element(By.CSS_SELECTOR, f'[data-plate="{name}"]')
        assert card.find_elements(By.CSS_SELECTOR, 'button.blink')


def test_zero_reaches_the_program(page, live_program):
    before = len(live_program.log_text())
    page.find_element(By.ID, 'zero').click()
    wait_for(lambda: 'zero' in live_program.log_text()[before:].lower(),
             'the program logs the zero request')


def recording_seconds(browser):
    label = browser.find_element(By.ID, 'recording')
    seconds = label.get_attribute('data-seconds')
    return float(seconds) if label.is_displayed() and seconds else 0.0


def csv_fz(path):
    """The trial CSV's Fz per plate and frame: {plate: {frame: Fz}}, and its frames in order."""
    with open(path, newline='') as file:
        rows = list(csv.reader(line for line in file if not line.startswith('#')))
    assert rows and rows[0][0] == 'frame', f'{path}: no heading row starting with "frame"'
    columns = {heading[:-len('.Fz_N')]: index for index, heading in enumerate(rows[0])
               if heading.endswith('.Fz_N')}
    frames = [int(row[0]) for row in rows[1:]]
    return {plate: {int(row[0]): float(row[index]) for row in rows[1:] if row[index]}
            for plate, index in columns.items()}, frames


def test_a_trial_recorded_from_the_page_holds_what_the_page_showed(page, live_program):
    """Record, watch the drawn Fz change for a second, Stop: the trial's files hold contiguous
    frames, its C3D file agrees with its CSV, and every frame the page drew while recording has,
    in the CSV, the Fz the page showed (within 1 N)."""
    record = page.find_element(By.ID, 'record')
    assert record.text == 'Record'
    record.click()
    wait_for(lambda: record.text == 'Stop', 'the record button turns into Stop')
    shown, texts = {}, {name: set() for name in live_program.plate_names}

    def watch():
        drawn_now = drawn(page)
        shown[int(drawn_now['frame'])] = {name: card['fz'] for name, card in drawn_now['cards'].items()}
        for name, card in drawn_now['cards'].items():
            texts.setdefault(name, set()).add(card['text'])
        return (recording_seconds(page) >= 1.0 and len(shown) >= FZ_SAMPLES + 2
                and all(len(seen) > 1 for seen in texts.values()))

    wait_for(watch, f'a recording of 1 s in which every plate\'s Fz text changes (seen {texts})',
             interval=0.2)
    record.click()
    wait_for(lambda: page.find_elements(By.CSS_SELECTOR, 'li[data-trial="trial-001"]'),
             'trial-001 appears in the trials list')
    wait_for(lambda: record.text == 'Record', 'the record button turns back into Record')
    csv_path, c3d_path = (pathlib.Path(live_program.trials_dir) / name
                          for name in ('trial-001.csv', 'trial-001.c3d'))
    assert csv_path.exists() and c3d_path.exists()

    fz, frames = csv_fz(csv_path)
    assert len(frames) >= 2 and frames == list(range(frames[0], frames[0] + len(frames))), \
        f'{csv_path}: frames not contiguous'
    compared = [(frame, values) for frame, values in shown.items() if frame in fz[live_program.plate_names[0]]]
    assert len(compared) >= FZ_SAMPLES, f'drawn frames {sorted(shown)} vs trial {frames[0]}..{frames[-1]}'
    mismatches = [(frame, name, value, fz[name][frame]) for frame, values in compared
                  for name, value in values.items()
                  if abs(float(value) - fz[name][frame]) > FZ_TOLERANCE_N]
    assert not mismatches, f'drawn Fz differs from the trial (frame, plate, drawn, file): {mismatches}'

    check = subprocess.run([sys.executable, str(CHECK_CAPTURE_FILES), str(csv_path), str(c3d_path)],
                           capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr


def test_screenshot(page):
    folder = pathlib.Path(os.environ.get('TORVA_ARTEFACTS_DIR') or tempfile.gettempdir())
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / 'live-page.png'
    wait_for(lambda: int(page.execute_script('return document.body.dataset.draws')) > 30,
             'the page has drawn its charts for a while')
    assert page.save_screenshot(str(path)), f'cannot write {path}'
    print(f'screenshot of the live page: {path}')
