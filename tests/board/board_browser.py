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
import signal
import socket
import time
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


def deliver(station, at, outer, *barcodes):
    """A box written at a station and handed to its sender; the conflicts it found."""
    folder = os.path.join(work, station)
    os.makedirs(folder, exist_ok=True)
    out = run(os.path.join(build, 'tests', 'board_station'), url + ' user=line3', station, folder,
              at.strftime('%Y-%m-%dT%H:%M:%S'), outer, *barcodes)
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


def start_board(login, token_file):
    """A board as a supervisor starts it on the line's network; its process and base address."""
    process = subprocess.Popen([os.path.join(build, 'station', 'zantrel-board'), '--db', url + ' user=' + login,
                                '--listen', '0.0.0.0:0', '--token-file', token_file],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    listening = process.stdout.readline().strip()
    if not listening.startswith('http://0.0.0.0:'):
        fail('the board did not start: ' + listening + process.stderr.read())
    return process, 'http://127.0.0.1:' + listening.rsplit(':', 1)[1].rstrip('/')


def peak_kib(process):
    with open('/proc/%d/status' % process.pid) as f:
        for line in f:
            if line.startswith('VmHWM:'):
                return int(line.split()[1])
    fail('no VmHWM for the board')


def huge_body_without_token(base):
    """A 200 MB POST without the token: the answer to its head, and whether the board took the body."""
    host, port = base[len('http://'):].split(':')
    s = socket.create_connection((host, int(port)))
    s.sendall(b'POST /api/decide HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n'
              b'Content-Length: 209715200\r\n\r\n')
    s.settimeout(10)
    answer = s.recv(4096)
    chunk = b' ' * (1 << 20)
    sent = 0
    try:
        for _ in range(200):
            s.sendall(chunk)
            sent += len(chunk)
    except OSError:
        pass  # the board closed the connection: the body was refused
    s.close()
    return answer.decode('latin-1'), sent


def postgres_processes(data_dir):
    with open(os.path.join(data_dir, 'postmaster.pid')) as f:
        postmaster = int(f.readline())
    children = subprocess.run(['pgrep', '-P', str(postmaster)], capture_output=True, text=True).stdout.split()
    return [postmaster] + [int(c) for c in children]


def visible(selector):
    """Whether the element is inside the window without scrolling, either way."""
    return driver.execute_script(
        'const e = document.querySelector(arguments[0]); if (!e) return false;'
        'const r = e.getBoundingClientRect();'
        'return r.width > 0 && r.top >= 0 && r.left >= 0 && r.bottom <= window.innerHeight && r.right <= window.innerWidth;',
        selector)


def station_cell(name, cls):
    found = cells('#stations tr[data-station="%s"] td.%s' % (name, cls))
    return found[0] if found else None


try:
    url = run('bash', os.path.join(source, 'scripts', 'plant-server.sh'), 'start', os.path.join(work, 'db'),
              os.path.join(build, 'station', 'zantrel-db')).strip()

    now = datetime.datetime.now().replace(microsecond=0)
    midnight = now.replace(hour=0, minute=0, second=0)
    earlier = max(now - datetime.timedelta(hours=2), midnight + datetime.timedelta(seconds=30))
    deliver('line3-a', earlier, 'W001', 'A0000001', 'A0000002', SCRIPT_BARCODE)
    deliver('line3-a', now, 'W002', 'A0000003', 'A0000004')
    deliver('line3-b', now, 'V001', 'B0000001')
    found = deliver('line3-b', now, SCRIPT_LABEL, 'B0000002', SCRIPT_BARCODE)
    if found != [SCRIPT_BARCODE]:
        fail('station b should have found the pack of station a: %r' % found)

    # The board's login may also change boxes (rework), as a supervisor's board may.
    psql('GRANT zantrel_rework TO board')
    token = 'tok-' + secrets.token_hex(16)
    token_file = os.path.join(work, 'token')
    with open(token_file, 'w') as f:
        f.write(token + '\n')
    os.chmod(token_file, 0o600)
    board, base = start_board('board', token_file)
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

    # A stranger's 200 MB body is refused on its head: the board's memory hardly moves.
    before = peak_kib(board)
    answer, sent = huge_body_without_token(base)
    after = peak_kib(board)
    if not answer.startswith('HTTP/1.1 401'):
        fail('a huge body without the token was answered with %r' % answer[:100])
    if after - before >= 8 * 1024:
        fail('the board took %d KiB more memory for a body it refused (%d bytes sent)' % (after - before, sent))
    print('200 MB body without the token: 401, peak memory %d KiB -> %d KiB, %d MB taken before the board closed the connection'
          % (before, after, sent >> 20))

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

    # GS1 packs: the open box's product and lot as the station reports them, and today's lots.
    # One product and one lot to a box, as a station that reads GS1 packs them.
    deliver('line3-b', now, 'G001', '(01)09501101530003(21)S1(10)L24', '(01)09501101530003(21)S2(10)L24')
    deliver('line3-b', now, 'G002', '(01)09501101530003(21)S3(10)L25')
    psql("UPDATE zantrel.station_state SET packing = 'G003', product = '09501101530003', lot = 'L25' WHERE station = 'line3-b'")
    wait('the open box and its lot', lambda: station_cell('line3-b', 'open') == 'G003 (01)09501101530003 (10)L25')
    if station_cell('line3-b', 'lots') != '(01)09501101530003 (10)L24：2 包；(01)09501101530003 (10)L25：1 包':
        fail('station b\'s lots today: %r' % station_cell('line3-b', 'lots'))
    # A lot looked up: its boxes, each with the lot's packs in it, no pack to take out.
    driver.find_element(By.ID, 'query').send_keys('(10)L24(01)09501101530003')
    driver.find_element(By.CSS_SELECTOR, '#find button').click()
    wait('the lot\'s boxes', lambda: cells('#found td.barcode') == ['(10)L24(01)09501101530003 × 2'])
    if cells('#found tbody tr')[0].find('G001') < 0 or driver.find_elements(By.CSS_SELECTOR, '#found button.takeOut'):
        fail('the lot\'s box shows as %r' % cells('#found tbody tr'))
    driver.find_element(By.ID, 'query').clear()

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

    # A pack taken out of the box through the page, confirmed; the lookup and the pack's
    # story follow, and the record holds the change with the name typed.
    driver.execute_script('Array.from(document.querySelectorAll("#found tbody tr"))'
                          '.find(tr => tr.cells[5].textContent === "A0000003").querySelector("button.takeOut").click();')
    driver.find_element(By.ID, 'reworkBy').send_keys('质检 张工')
    driver.find_element(By.ID, 'reworkAsk').click()
    wait('the rework confirmation', lambda: driver.find_element(By.ID, 'reworkGo').is_displayed())
    if 'A0000003' not in driver.find_element(By.ID, 'reworkWhat').text:
        fail('the confirmation does not name the pack: ' + driver.find_element(By.ID, 'reworkWhat').text)
    driver.find_element(By.ID, 'reworkGo').click()
    wait('the pack taken out', lambda: cells('#found td.barcode') == ['A0000004'])
    wait('the box\'s story', lambda: '取出' in cells('#history td.event'))
    if psql("SELECT kind || '|' || barcode || '|' || person || '|' || changed_login FROM zantrel.box_changes") != \
            'take-out|A0000003|质检 张工|board':
        fail('the record holds the change as %r' % psql('SELECT * FROM zantrel.box_changes'))

    # New boxes arrive without a reload.
    driver.execute_script('window.sameLoad = true;')
    deliver('line3-a', datetime.datetime.now().replace(microsecond=0), 'W003', 'A0000005')
    wait('the new box', lambda: station_cell('line3-a', 'boxes') == '3' and station_cell('line3-a', 'lastBox') == 'W003')
    if driver.execute_script('return window.sameLoad === true;') is not True:
        fail('the page was loaded again')

    # A batch released by a planner: its first box starts it; the board lists it with its
    # packs against plan (past it, in red) and the station on it, and its boxes on asking,
    # every value as text.
    batch = 'B<b>1'
    run(os.path.join(build, 'station', 'zantrel-db'), 'batch', 'add', url + ' user=postgres', batch, '--line', 'L1',
        '--planned', '3', '--by', '计划员')
    run(os.path.join(build, 'tests', 'board_station'), '--batch', batch, url + ' user=line3', 'line3-a',
        os.path.join(work, 'line3-a'), (midnight - datetime.timedelta(hours=1)).strftime('%Y-%m-%dT%H:%M:%S'),
        'WB01', 'BA01', 'BA02', 'BA03', 'BA04')  # yesterday's: today's counts stay as they are
    psql("UPDATE zantrel.station_state SET batch = 'B<b>1' WHERE station = 'line3-a'")
    wait('the batch', lambda: cells('#batches td.batch') == [batch] and cells('#batches td.state') == ['生产中']
         and cells('#batches td.packed') == ['4'] and cells('#batches td.stations') == ['line3-a'])
    if cells('#batches td.packed.over') != ['4']:
        fail('a batch past its plan is not shown as such: %r' % attributes('#batches td.packed', 'class'))
    driver.execute_script('document.querySelector("#batches button.boxes").click();')
    wait('the batch\'s boxes', lambda: cells('#batchBoxes td.box') == ['WB01'] and cells('#batchBoxes td.packs') == ['4'])
    if driver.find_elements(By.CSS_SELECTOR, '#batches b'):
        fail('a batch number was put in as markup')
    run(os.path.join(build, 'station', 'zantrel-db'), 'batch', 'hold', url + ' user=postgres', batch, '--by', '计划员')
    wait('the batch held', lambda: cells('#batches td.state') == ['已暂停'])

    # The conflict, settled through the page.
    wait('the conflict', lambda: cells('#conflicts tr.open td.barcode') == [SCRIPT_BARCODE])
    driver.execute_script('document.querySelector("#conflicts tr.open button.choose").click();')
    driver.find_element(By.ID, 'decidedBy').send_keys('王主管')
    driver.find_element(By.ID, 'reason').send_keys('A 箱已封箱发货')
    driver.find_element(By.ID, 'keepFirst').click()
    wait('the confirmation', lambda: driver.find_element(By.ID, 'confirmDecision').is_displayed())
    if 'W001' not in driver.find_element(By.ID, 'confirmWhat').text:
        fail('the confirmation does not name the box: ' + driver.find_element(By.ID, 'confirmWhat').text)
    form_row = driver.execute_script('const r = document.getElementById("decideRow");'
                                     'return r && r.previousElementSibling ? r.previousElementSibling.dataset.barcode : null;')
    if form_row != SCRIPT_BARCODE:
        fail('the decision form did not open at the conflict\'s row: %r' % form_row)
    driver.find_element(By.ID, 'confirmDecision').click()
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
    if psql('SELECT count(*) FROM zantrel.pack_conflicts') != '1' or psql('SELECT count(*) FROM zantrel.boxes') != '8':  # the batch's WB01 among them
        fail('a recorded box or conflict changed')

    # A correction through the page: a new decision record, the first one kept.
    driver.execute_script('document.querySelector("#conflicts tr.settled button.correct").click();')
    driver.find_element(By.ID, 'decidedBy').clear()
    driver.find_element(By.ID, 'decidedBy').send_keys('李经理')
    driver.find_element(By.ID, 'reason').send_keys('A 箱未发货，改留 B')
    driver.find_element(By.ID, 'keepSecond').click()
    driver.find_element(By.ID, 'confirmDecision').click()
    wait('the correction', lambda: any('李经理' in t for t in cells('#conflicts tr.settled td.status')))
    decisions = psql("SELECT string_agg(decided_by || '|' || (d.keep_in = b.box_id)::text, ',' ORDER BY decision_id)"
                     " FROM zantrel.conflict_decisions d JOIN zantrel.boxes b ON b.outer_label = 'W001'")
    if decisions != '王主管|true,李经理|false':
        fail('the record holds the decisions as %r' % decisions)

    try:
        text = driver.switch_to.alert.text
        fail('a barcode ran script: alert ' + text)
    except NoAlertPresentException:
        pass
    # The record hangs (its server stopped): the page's files still come at once, the
    # data shows as old with the reason, and it is fresh again without a reload.
    stopped = postgres_processes(os.path.join(work, 'db', 'data'))
    for pid in stopped:
        os.kill(pid, signal.SIGSTOP)
    try:
        for path in ('/board.css', '/'):
            began = time.monotonic()
            status, _, _ = http(path, {'Authorization': 'Bearer ' + token})
            took = time.monotonic() - began
            if status != 200 or took > 2:
                fail('%s with the record hung: %d after %.3f s' % (path, status, took))
            print('%s with the record hung: %.1f ms' % (path, took * 1000))
        wait('the stale marker', lambda: 'stale' in driver.find_element(By.TAG_NAME, 'body').get_attribute('class')
             and '数据截至' in driver.find_element(By.ID, 'updated').text
             and '中央记录无响应' in driver.find_element(By.ID, 'problem').text, 60)
        if station_cell('line3-a', 'boxes') != '3':
            fail('the last data is gone from the page while the record hangs')
    finally:
        for pid in stopped:
            os.kill(pid, signal.SIGCONT)
    wait('fresh data again', lambda: 'stale' not in driver.find_element(By.TAG_NAME, 'body').get_attribute('class')
         and '更新于' in driver.find_element(By.ID, 'updated').text, 60)
    if driver.execute_script('return window.sameLoad === true;') is not True:
        fail('the page was loaded again')

    # A board whose login only reads shows no decision controls, and says why once.
    psql("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'looker') THEN CREATE ROLE looker LOGIN; END IF; END $$;"
         " GRANT zantrel_reader TO looker;")
    reader, reader_base = start_board('looker', token_file)
    try:
        driver.get(reader_base + '/?token=' + token)
        wait('the reader\'s board', lambda: cells('#conflicts tr.settled td.barcode') == [SCRIPT_BARCODE])
        if driver.find_elements(By.CSS_SELECTOR, '#conflicts button'):
            fail('a reader-only board offers decisions')
        if 'zantrel_supervisor' not in driver.find_element(By.ID, 'readOnly').text:
            fail('the reader-only board does not say why: %r' % driver.find_element(By.ID, 'readOnly').text)
    finally:
        reader.kill()

    # Once the record has operators a decision is signed: a supervisor logs in with his 工号
    # and password (a wrong one told), is kept in an HttpOnly, SameSite=Strict cookie, and
    # decides with his password again; the record keeps his name, 工号 and what it means.
    db_tool = os.path.join(build, 'station', 'zantrel-db')
    owner = url + ' user=postgres'
    run(db_tool, 'operator', 'add', owner, 'A001', '--name', '张管理', '--role', 'admin', input='Admin-pass-1\n')
    run(db_tool, 'operator', 'add', owner, 'S001', '--name', '周班长', '--role', 'supervisor', '--by', 'A001',
        input='Super-pass-1\nAdmin-pass-1\n')
    signing_at = datetime.datetime.now().replace(microsecond=0)
    deliver('line3-a', signing_at, 'W-SIGN-A', 'SIGNED-1')
    deliver('line3-b', signing_at, 'W-SIGN-B', 'SIGNED-1')
    driver.get(base + '/')
    wait('the login form', lambda: driver.find_element(By.ID, 'login').is_displayed())
    driver.find_element(By.ID, 'loginId').send_keys('S001')
    driver.find_element(By.ID, 'loginPassword').send_keys('wrong-pass')
    driver.find_element(By.CSS_SELECTOR, '#login button').click()
    wait('the refused login', lambda: '工号或密码不正确' in driver.find_element(By.ID, 'loginStatus').text)
    driver.find_element(By.ID, 'loginPassword').send_keys('Super-pass-1')
    driver.find_element(By.CSS_SELECTOR, '#login button').click()
    wait('the supervisor logged in', lambda: driver.find_element(By.ID, 'signedIn').is_displayed()
         and '周班长（S001）' in driver.find_element(By.ID, 'signedInName').text)
    session = driver.get_cookie('zantrel_session_' + base.rsplit(':', 1)[1])
    if not session or not session.get('httpOnly') or session.get('sameSite') != 'Strict':
        fail('the session cookie is %r' % session)
    wait('the conflict to sign', lambda: cells('#conflicts tr.open td.barcode') == ['SIGNED-1'])
    driver.execute_script('document.querySelector("#conflicts tr.open button.choose").click();')
    wait('the decision form', lambda: driver.find_element(By.ID, 'decide').is_displayed())
    driver.find_element(By.ID, 'reason').send_keys('A 箱先封')
    driver.find_element(By.ID, 'keepFirst').click()
    wait('the password asked', lambda: '请输入密码' in driver.find_element(By.ID, 'decideStatus').text)
    driver.find_element(By.ID, 'decidePassword').send_keys('Super-pass-1')
    driver.find_element(By.ID, 'keepFirst').click()
    driver.find_element(By.ID, 'confirmDecision').click()
    wait('the signed decision', lambda: 'SIGNED-1' in cells('#conflicts tr.settled td.barcode'))
    signed = psql("SELECT decided_by || '|' || signed_by || '|' || meaning FROM zantrel.conflict_decisions WHERE barcode = 'SIGNED-1'")
    if signed != '周班长|S001|裁定':
        fail('the record holds the signed decision as %r' % signed)
    if psql("SELECT count(*) FROM zantrel.operator_events WHERE operator_id = 'S001' AND kind = 'login-failed' AND station = 'board'") != '1':
        fail('the failed login is not on record')
    # A change through the page is signed the same way: by who logged in, his password again.
    query = driver.find_element(By.ID, 'query')
    query.clear()
    query.send_keys('W-SIGN-A\n')
    wait('the box to change', lambda: cells('#found td.barcode') == ['SIGNED-1'])
    driver.execute_script('document.querySelector("#found tbody tr button.takeOut").click();')
    if driver.find_element(By.ID, 'reworkBy').get_attribute('value') != '周班长':
        fail('the change is not in the name of who logged in')
    driver.find_element(By.ID, 'reworkPassword').send_keys('Super-pass-1')
    driver.find_element(By.ID, 'reworkAsk').click()
    wait('the signed change\'s confirmation', lambda: driver.find_element(By.ID, 'reworkGo').is_displayed())
    driver.find_element(By.ID, 'reworkGo').click()
    wait('the signed change', lambda: '已记录修改' in driver.find_element(By.ID, 'reworkStatus').text)
    changed = psql("SELECT person || '|' || signed_by FROM zantrel.box_changes WHERE barcode = 'SIGNED-1' AND decision_id IS NULL")
    if changed != '周班长|S001':
        fail('the record holds the signed change as %r' % changed)

    # Sixty stations, some not heard from for a while: the summary and the first of
    # those are in sight without scrolling, on a desk and on a phone.
    psql("INSERT INTO zantrel.station_state (station, heard_at, backlog, packing)"
         " SELECT 'line3-' || lpad(n::text, 2, '0'), now() - CASE WHEN n % 7 = 0 THEN interval '1 hour' ELSE interval '0' END, 0, ''"
         " FROM generate_series(10, 67) n")
    driver.get(base + '/')
    wait('sixty stations', lambda: len(cells('#stations tbody tr')) == 60)
    summary = driver.find_element(By.ID, 'summary').text
    silent = len(cells('#stations tbody tr.silent'))
    if silent < 8 or not summary.startswith('未联系 %d · ' % silent) or '待决定 0' not in summary or summary not in driver.title:
        fail('the summary reads %r, the title %r' % (summary, driver.title))
    for width, height, name in ((1366, 768, 'board-desk.png'), (390, 844, 'board-phone.png')):
        driver.set_window_size(width, height)
        inner = driver.execute_script('return [window.innerWidth, window.innerHeight];')
        driver.set_window_size(width + (width - inner[0]), height + (height - inner[1]))
        driver.execute_script('window.scrollTo(0, 0);')
        first_silent = '#stations tbody tr.silent:first-child'
        for what in ('#summary', first_silent + ' td.name', first_silent + ' td.state'):
            if not visible(what):
                fail('%s is not in sight at %dx%d' % (what, width, height))
        if os.environ.get('SCREENSHOT_DIR'):
            os.makedirs(os.environ['SCREENSHOT_DIR'], exist_ok=True)
            driver.save_screenshot(os.path.join(os.environ['SCREENSHOT_DIR'], name))
    if os.environ.get('SCREENSHOT_DIR'):
        driver.set_window_size(1366, 900)
        driver.execute_script('document.getElementById("conflictSection").scrollIntoView();')
        driver.save_screenshot(os.path.join(os.environ['SCREENSHOT_DIR'], 'board-conflicts-and-hours.png'))
    print('board in the browser: stations, chart, lookup, update, decision and its correction, stale data, a reader\'s '
          'board, sixty stations on a desk and a phone, script-like text and token all as expected')
finally:
    if driver:
        driver.quit()
    if board:
        board.kill()
    subprocess.run(['bash', os.path.join(source, 'scripts', 'plant-server.sh'), 'stop', os.path.join(work, 'db')])
    shutil.rmtree(work, ignore_errors=True)
