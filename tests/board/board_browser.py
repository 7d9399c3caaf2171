#!/usr/bin/python3
"""The line's board in a real browser: chromium driven by Selenium, a throwaway
PostgreSQL server, two stations delivering boxes through their own sender, and the
board started as a supervisor starts it on the line's network, with a token.

    board_browser.py BUILD_DIR SOURCE_DIR

Waits are for what the page shows (WebDriverWait polls), never for a fixed time.
With SCREENSHOT_DIR set, the page's picture is saved there at the end.
"""
import datetime
import os
import secrets
import shutil
import subprocess
import sys
import tempfile
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

build, source = (os.path.abspath(p) for p in sys.argv[1:3])
work = tempfile.mkdtemp()
os.chmod(work, 0o755)
board = None
driver = None
SCRIPT_BARCODE = '<img src=x onerror=alert(1)>'
SCRIPT_LABEL = 'W<script>alert(2)</script>'


def fail(message):
    raise AssertionError(message)


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw).stdout


def deliver(station, at, plant_check, outer, *barcodes):
    """A box written at a station and handed to its sender; the conflicts it found."""
    folder = os.path.join(work, station)
    os.makedirs(folder, exist_ok=True)
    out = run(os.path.join(build, 'tests', 'board_station'), url + ' user=line3', station, folder,
              at.strftime('%Y-%m-%dT%H:%M:%S'), '1' if plant_check else '0', outer, *barcodes)
    return out.splitlines()


def psql(sql):
    return run('psql', '-X', '-tA', '-v', 'ON_ERROR_STOP=1', url + ' user=postgres', '-c', sql).strip()


def http(path, headers=None):
    request = urllib.request.Request(base + path, headers=headers or {})
    try:
        with urllib.request.urlopen(request) as r:
            return r.status, dict(r.headers), r.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, dict(e.headers), e.read().decode()


def wait(what, condition, seconds=30):
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.1).until(lambda d: condition())
    except Exception:
        fail('the page never showed ' + what + '\n' + driver.find_element(By.TAG_NAME, 'body').text)


# The page redraws its tables every few seconds: what is read of them is read in one
# script, so that no element goes stale between finding it and reading it.
def attributes(selector, attribute):
    return driver.execute_script('return Array.from(document.querySelectorAll(arguments[0]))'
                                 '.map(e => arguments[1] === "" ? e.textContent : e.getAttribute(arguments[1]));',
                                 selector, attribute)


def cells(selector):
    return attributes(selector, '')


def station_cell(name, cls):
    found = cells('#stations tr[data-station="%s"] td.%s' % (name, cls))
    return found[0] if found else None


try:
    url = run('bash', os.path.join(source, 'scripts', 'plant-server.sh'), 'start', os.path.join(work, 'db'),
              os.path.join(build, 'station', 'zantrel-db')).strip()

    now = datetime.datetime.now().replace(microsecond=0)
    midnight = now.replace(hour=0, minute=0, second=0)
    earlier = max(now - datetime.timedelta(hours=2), midnight + datetime.timedelta(seconds=30))
    deliver('line3-a', earlier, False, 'W001', 'A0000001', 'A0000002', SCRIPT_BARCODE)
    deliver('line3-a', now, False, 'W002', 'A0000003', 'A0000004')
    deliver('line3-b', now, True, 'V001', 'B0000001')
    found = deliver('line3-b', now, True, SCRIPT_LABEL, 'B0000002', SCRIPT_BARCODE)
    if found != [SCRIPT_BARCODE]:
        fail('station b should have found the pack of station a: %r' % found)

    token = 'tok-' + secrets.token_hex(16)
    token_file = os.path.join(work, 'token')
    with open(token_file, 'w') as f:
        f.write(token + '\n')
    os.chmod(token_file, 0o600)
    board = subprocess.Popen([os.path.join(build, 'station', 'zantrel-board'), '--db', url + ' user=board',
                              '--listen', '0.0.0.0:0', '--token-file', token_file],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    listening = board.stdout.readline().strip()
    if not listening.startswith('http://0.0.0.0:'):
        fail('the board did not start: ' + listening + board.stderr.read())
    base = 'http://127.0.0.1:' + listening.rsplit(':', 1)[1].rstrip('/')

    # Beyond 127.0.0.1 every request needs the token: no data without it.
    for path in ('/', '/api/board', '/api/find?q=A0000001', '/board.js'):
        status, headers, body = http(path)
        if status != 401 or 'line3' in body or 'A0000001' in body:
            fail('%s without the token: %d %s' % (path, status, body[:200]))
        if "script-src 'self'" not in headers.get('Content-Security-Policy', ''):
            fail('no content security policy on the refusal')
    status, _, body = http('/api/board', {'Authorization': 'Bearer ' + token[:-1] + 'x'})
    if status != 401:
        fail('a wrong token was let in: %d' % status)
    status, headers, body = http('/api/board', {'Authorization': 'Bearer ' + token})
    if status != 200 or 'line3-a' not in body:
        fail('the token was refused: %d %s' % (status, body[:200]))
    csp = headers.get('Content-Security-Policy', '')
    if "script-src 'self'" not in csp or 'unsafe-inline' in csp:
        fail('the data may run inline script: ' + csp)

    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--window-size=1280,1500',
              '--lang=zh-CN'):
        options.add_argument(a)
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)

    driver.get(base + '/')
    if 'line3' in driver.page_source or '需要令牌' not in driver.find_element(By.TAG_NAME, 'body').text:
        fail('the page was shown without the token')

    # The link a supervisor is given: the token once, then a cookie.
    driver.get(base + '/?token=' + token)
    wait('both stations', lambda: cells('#stations td.name') == ['line3-a', 'line3-b'])
    if station_cell('line3-a', 'boxes') != '2' or station_cell('line3-a', 'packs') != '5':
        fail('station a today: %s boxes, %s packs' % (station_cell('line3-a', 'boxes'), station_cell('line3-a', 'packs')))
    if station_cell('line3-b', 'lastBox') != SCRIPT_LABEL:
        fail('the last box of station b shows as %r' % station_cell('line3-b', 'lastBox'))
    if station_cell('line3-a', 'state') != '在写' or station_cell('line3-a', 'backlog') != '0':
        fail('station a: %s, backlog %s' % (station_cell('line3-a', 'state'), station_cell('line3-a', 'backlog')))

    def bar(station, hour):
        return attributes('#chart svg g[data-station="%s"] rect[data-hour="%d"]' % (station, hour), 'data-packs')
    wait('the chart', lambda: bar('line3-b', now.hour))
    if earlier.hour != now.hour:
        if bar('line3-a', earlier.hour) != ['3']:
            fail('station a had 3 packs at %d o\'clock' % earlier.hour)
        if bar('line3-a', now.hour) != ['2']:
            fail('station a had 2 packs at %d o\'clock' % now.hour)
    elif bar('line3-a', now.hour) != ['5']:
        fail('station a had 5 packs at %d o\'clock' % now.hour)
    if bar('line3-b', now.hour) != ['3']:
        fail('station b had 3 packs at %d o\'clock' % now.hour)
    if len(cells('#chart svg rect.bar')) != (3 if earlier.hour != now.hour else 2):
        fail('the chart has bars of hours without boxes')

    # The lookup: a script-like barcode is found in both boxes, and shows as text.
    driver.find_element(By.ID, 'query').send_keys(SCRIPT_BARCODE)
    driver.find_element(By.CSS_SELECTOR, '#find button').click()
    wait('the lookup', lambda: len(cells('#found tbody tr')) == 2)
    rows = driver.execute_script('return Array.from(document.querySelectorAll("#found tbody tr"))'
                                 '.map(tr => Array.from(tr.cells).map(td => td.textContent));')
    expected = [['line3-a', earlier.strftime('%Y%m%d') + '.xls', '6', 'W001', 'Z-W001', SCRIPT_BARCODE],
                ['line3-b', now.strftime('%Y%m%d') + '.xls', '8', SCRIPT_LABEL, 'Z-' + SCRIPT_LABEL, SCRIPT_BARCODE]]
    if [r[:6] for r in rows] != expected:
        fail('the lookup found %r' % rows)
    find_out = run(os.path.join(build, 'station', 'zantrel-find'), '--db', url + ' user=board', SCRIPT_BARCODE)
    if [line.split('\t')[:5] for line in find_out.splitlines()] != [[r[1], r[2], r[3], r[4], r[5]] for r in expected]:
        fail('zantrel-find --db answers otherwise: %r' % find_out)
    driver.find_element(By.ID, 'query').clear()
    driver.find_element(By.ID, 'query').send_keys('W002')
    driver.find_element(By.CSS_SELECTOR, '#find button').click()
    wait('the box W002', lambda: cells('#found td.barcode') == ['A0000003', 'A0000004'])
    if driver.find_elements(By.CSS_SELECTOR, 'img, script:not([src])'):
        fail('a barcode or label became markup')

    # New boxes arrive without a reload.
    driver.execute_script('window.sameLoad = true;')
    deliver('line3-a', datetime.datetime.now().replace(microsecond=0), False, 'W003', 'A0000005')
    wait('the new box', lambda: station_cell('line3-a', 'boxes') == '3' and station_cell('line3-a', 'lastBox') == 'W003')
    if driver.execute_script('return window.sameLoad === true;') is not True:
        fail('the page was loaded again')

    # The conflict, settled through the page.
    wait('the conflict', lambda: cells('#conflicts tr.open td.barcode') == [SCRIPT_BARCODE])
    driver.execute_script('document.querySelector("#conflicts tr.open button.choose").click();')
    driver.find_element(By.ID, 'decidedBy').send_keys('王主管')
    driver.find_element(By.ID, 'reason').send_keys('A 箱已封箱发货')
    driver.find_element(By.ID, 'keepFirst').click()
    wait('the conflict settled', lambda: cells('#conflicts tr.settled td.barcode') == [SCRIPT_BARCODE])
    status_text = cells('#conflicts tr.settled td.status')[0]
    if 'W001' not in status_text or '王主管' not in status_text or 'A 箱已封箱发货' not in status_text:
        fail('the settled conflict shows as %r' % status_text)
    if cells('#conflicts tr.open'):
        fail('the conflict is still open on the page')
    decided = psql("SELECT d.decided_by || '|' || d.reason || '|' || (d.keep_in = b.box_id)::text"
                   " FROM zantrel.conflict_decisions d JOIN zantrel.boxes b ON b.outer_label = 'W001'")
    if decided != '王主管|A 箱已封箱发货|true':
        fail('the record holds the decision as %r' % decided)
    if psql('SELECT count(*) FROM zantrel.pack_conflicts') != '1' or psql('SELECT count(*) FROM zantrel.boxes') != '5':
        fail('a recorded box or conflict changed')

    try:
        text = driver.switch_to.alert.text
        fail('a barcode ran script: alert ' + text)
    except NoAlertPresentException:
        pass
    if os.environ.get('SCREENSHOT_DIR'):
        os.makedirs(os.environ['SCREENSHOT_DIR'], exist_ok=True)
        driver.save_screenshot(os.path.join(os.environ['SCREENSHOT_DIR'], 'board.png'))
    print('board in the browser: stations, chart, lookup, update, decision, script-like text and token all as expected')
finally:
    if driver:
        driver.quit()
    if board:
        board.kill()
    subprocess.run(['bash', os.path.join(source, 'scripts', 'plant-server.sh'), 'stop', os.path.join(work, 'db')])
    shutil.rmtree(work, ignore_errors=True)
