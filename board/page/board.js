// The line's board: reads /api/board every few seconds and shows it, problems first.
// Every value from the record is put in as text, never as markup.
'use strict';

const REFRESH_MS = 3000;
const TITLE = '生产线看板';
let chosen = null;      // the conflict the decision form is about
let keepFirstChosen = null; // the box picked, awaiting confirmation
let me = { operators: false, loggedIn: false, id: '', name: '' }; // who is logged in, where the record has operators

function $(id) { return document.getElementById(id); }

// A cell whose text may be long: cut with an ellipsis, whole on hover (title) or tap.
function cell(row, text, cls) {
  const td = document.createElement('td');
  const value = text === undefined || text === null ? '' : String(text);
  td.textContent = value;
  if (cls) td.className = cls;
  if (value.length > 12) td.title = value;
  row.appendChild(td);
  return td;
}

function fill(tbody, items, makeRow) {
  const rows = items.map(item => {
    const tr = document.createElement('tr');
    makeRow(tr, item);
    return tr;
  });
  tbody.replaceChildren(...rows);
}

function conflictKey(c) { return c.secondBoxId + '\n' + c.barcode + '\n' + c.firstBoxId; }

async function getJson(url, options) {
  const response = await fetch(url, Object.assign({ credentials: 'same-origin', cache: 'no-store' }, options || {}));
  let body = null;
  try { body = await response.json(); } catch (e) { body = null; } // a 401 page is text
  if (!response.ok) {
    const why = body && body.error ? body.error : (response.status === 401 ? '需要令牌：请用带令牌的链接打开看板' : '看板无法回答（' + response.status + '）');
    throw new Error(why);
  }
  return body;
}

function showStations(data) {
  fill($('stations').tBodies[0], data.stations, (tr, s) => {
    tr.dataset.station = s.name;
    tr.className = s.state;
    cell(tr, s.name, 'name cut');
    cell(tr, s.clock === '' ? s.stateText : s.stateText + '，' + s.clock, 'state ' + s.state + (s.clock === '' ? '' : ' clock'));
    cell(tr, s.boxes, 'boxes number');
    cell(tr, s.packs, 'packs number');
    cell(tr, s.lastBox, 'lastBox cut wide');
    cell(tr, s.lastBoxAt, 'lastBoxAt wide');
    cell(tr, s.backlog === '' ? '—' : s.backlog, 'backlog number wide');
    cell(tr, s.open, 'open cut wide');
    cell(tr, s.lots, 'lots cut wide');
  });
  const total = $('total');
  total.querySelector('.boxes').textContent = data.total.boxes;
  total.querySelector('.packs').textContent = data.total.packs;
  const empty = data.stations.length === 0;
  $('noStations').hidden = !empty || !data.asOf;
  $('stations').hidden = empty;
}

// A company's board: its plants first, a problem counted in red.
function showPlants(data) {
  const company = data.plants.length > 0;
  $('plantSection').hidden = !company;
  document.querySelector('header h1').textContent = company ? '公司看板' : '生产线看板';
  $('total').querySelector('th').textContent = company ? '全公司' : '全线';
  fill($('plants').tBodies[0], data.plants, (tr, p) => {
    tr.dataset.plant = p.name;
    tr.className = p.notHeard > 0 ? 'silent' : '';
    cell(tr, p.name, 'name cut');
    cell(tr, p.stations, 'number');
    cell(tr, p.notHeard, 'number notHeard' + (p.notHeard > 0 ? ' state silent' : ''));
    cell(tr, p.idle, 'number idle');
    cell(tr, p.writing, 'number writing');
    cell(tr, p.boxes, 'number boxes');
    cell(tr, p.packs, 'number packs');
  });
}

function showChart(svgText) {
  const parsed = new DOMParser().parseFromString(svgText, 'image/svg+xml');
  const svg = parsed.documentElement;
  if (parsed.getElementsByTagName('parsererror').length > 0 || svg.localName !== 'svg') {
    $('chart').textContent = '图表无法显示';
    return;
  }
  $('chart').replaceChildren(document.importNode(svg, true));
}

function boxText(station, box, written) { return station + ' / ' + box + '（' + written + '）'; }

function decisionText(c) {
  return '已决定：保留在 ' + (c.keptInFirst ? 'A ' : 'B ') + c.keptIn + '（' + c.decidedBy + '，' + c.reason + '，' + c.decidedAt + '）';
}

function showConflicts(data) {
  const open = data.openConflicts;
  $('conflictNote').textContent = open === 0 ? '没有待决定的重复包。' : '待决定的重复包：' + open + ' 个。';
  $('readOnly').textContent = data.readOnly;
  $('readOnly').hidden = data.readOnly === '';
  // The form is open: the list stays as it is until the supervisor is done with it.
  if (chosen) return;
  fill($('conflicts').tBodies[0], data.conflicts, (tr, c) => {
    tr.dataset.barcode = c.barcode;
    tr.className = c.settled ? 'settled' : 'open';
    cell(tr, c.barcode, 'barcode cut');
    cell(tr, boxText(c.firstStation, c.firstBox, c.firstWritten), 'first cut');
    cell(tr, boxText(c.secondStation, c.secondBox, c.secondWritten), 'second cut');
    cell(tr, c.settled ? decisionText(c) : '待决定', 'status cut');
    const action = cell(tr, '', 'action');
    if (data.canDecide) {
      const button = document.createElement('button');
      button.type = 'button';
      button.className = c.settled ? 'correct' : 'choose';
      button.textContent = c.settled ? '更正…' : '决定…';
      button.addEventListener('click', () => choose(c, tr));
      action.appendChild(button);
    }
  });
}

function choose(c, tr) {
  chosen = c;
  keepFirstChosen = null;
  $('decideWhat').textContent = (c.settled ? '更正：内包 ' : '内包 ') + c.barcode + ' 保留在哪一箱？'
    + (c.settled ? '（现在：' + decisionText(c) + '）' : '');
  const boxes = [['A', c.firstStation, c.firstBox, c.firstWritten], ['B', c.secondStation, c.secondBox, c.secondWritten]]
    .map(([which, station, box, written]) => {
      const li = document.createElement('li');
      li.textContent = which + '：工位 ' + station + '，外箱 ' + box + '，写入 ' + written;
      return li;
    });
  $('decideBoxes').replaceChildren(...boxes);
  $('keepFirst').textContent = '保留在 A：' + c.firstBox;
  $('keepSecond').textContent = '保留在 B：' + c.secondBox;
  $('decideStatus').textContent = '';
  $('choice').hidden = false;
  $('confirm').hidden = true;
  // The form opens at the conflict's row.
  const formRow = document.createElement('tr');
  formRow.id = 'decideRow';
  const td = document.createElement('td');
  td.colSpan = 5;
  formRow.appendChild(td);
  tr.after(formRow);
  td.appendChild($('decide'));
  $('decide').hidden = false;
  $('decidedBy').focus();
}

function closeDecision() {
  chosen = null;
  $('decide').hidden = true;
  $('conflictSection').appendChild($('decide'));
  const row = $('decideRow');
  if (row) row.remove();
  refresh();
}

// Where the record has operators a decision is signed: by who logged in, his password asked again.
async function refreshMe() {
  try {
    me = await getJson('/api/me');
  } catch (e) {
    return; // asked again at the next login or decision
  }
  $('login').hidden = !me.operators || me.loggedIn;
  $('signedIn').hidden = !me.loggedIn;
  $('signedInName').textContent = me.loggedIn ? me.name + '（' + me.id + '）' : '';
  $('decidePasswordLabel').hidden = !me.loggedIn;
  $('reworkPasswordLabel').hidden = !me.loggedIn;
  if (me.loggedIn) {
    $('decidedBy').value = me.name;
    $('reworkBy').value = me.name;
  }
  $('decidedBy').readOnly = me.loggedIn;
  $('reworkBy').readOnly = me.loggedIn;
}

async function logIn(event) {
  event.preventDefault();
  $('loginStatus').textContent = '';
  try {
    await getJson('/api/login', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'X-Zantrel-Board': 'decide' },
      body: JSON.stringify({ id: $('loginId').value.trim(), password: $('loginPassword').value }),
    });
  } catch (e) {
    $('loginStatus').textContent = e.message;
  }
  $('loginPassword').value = '';
  await refreshMe();
}

async function logOut() {
  try {
    await getJson('/api/logout', { method: 'POST', headers: { 'X-Zantrel-Board': 'decide' } });
  } catch (e) {
    // the session ends by itself
  }
  await refreshMe();
}

function askConfirmation(keepFirst) {
  if (!chosen) return;
  if (me.operators && !me.loggedIn) {
    $('decideStatus').textContent = '请先用工号登录看板。';
    return;
  }
  if (me.loggedIn && !$('decidePassword').value) {
    $('decideStatus').textContent = '请输入密码：决定由你签名。';
    return;
  }
  if (!$('decidedBy').value.trim() || !$('reason').value.trim()) {
    $('decideStatus').textContent = '请填写姓名和原因。';
    return;
  }
  keepFirstChosen = keepFirst;
  $('confirmWhat').textContent = '确认把内包 ' + chosen.barcode + ' 保留在 ' + (keepFirst ? 'A：' + chosen.firstStation + ' / ' + chosen.firstBox
    : 'B：' + chosen.secondStation + ' / ' + chosen.secondBox) + '？';
  $('decideStatus').textContent = '';
  $('choice').hidden = true;
  $('confirm').hidden = false;
}

async function submitDecision() {
  if (!chosen || keepFirstChosen === null) return;
  try {
    await getJson('/api/decide', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'X-Zantrel-Board': 'decide' },
      body: JSON.stringify({
        secondBoxId: chosen.secondBoxId, barcode: chosen.barcode, firstBoxId: chosen.firstBoxId,
        keepIn: keepFirstChosen ? chosen.firstBoxId : chosen.secondBoxId,
        decidedBy: $('decidedBy').value.trim(), reason: $('reason').value.trim(),
        corrects: chosen.settled ? chosen.decisionId : '',
        password: $('decidePassword').value,
      }),
    });
    $('decidePassword').value = '';
    $('reason').value = '';
    closeDecision();
  } catch (e) {
    $('decidePassword').value = '';
    $('decideStatus').textContent = '决定未记录：' + e.message;
    $('choice').hidden = false;
    $('confirm').hidden = true;
  }
}

let canRework = false; // from the last page data: the board's login may change boxes

async function lookup(event) {
  if (event) event.preventDefault();
  const q = $('query').value.trim();
  if (!q) return;
  $('findStatus').textContent = '正在查找…';
  try {
    const data = await getJson('/api/find?q=' + encodeURIComponent(q));
    fill($('found').tBodies[0], data.found, (tr, l) => {
      cell(tr, l.station, 'cut'); cell(tr, l.workbook); cell(tr, l.row === 0 ? '—' : l.row, 'number'); cell(tr, l.outerLabel, 'cut');
      cell(tr, l.middleLabel, 'cut'); cell(tr, l.lotPacks > 0 ? l.barcode + ' × ' + l.lotPacks : l.barcode, 'barcode cut');
      cell(tr, l.writtenAt);
      const action = cell(tr, '', 'action');
      if (canRework && l.lotPacks === 0) { // a lot's row names no pack to take out
        const button = document.createElement('button');
        button.type = 'button';
        button.className = 'takeOut';
        button.textContent = '取出…';
        button.addEventListener('click', () => prepareRework('take-out', l.outerLabel, l.station, l.barcode));
        action.appendChild(button);
      }
    });
    fill($('history').tBodies[0], data.history, (tr, h) => {
      cell(tr, h.at); cell(tr, h.event, 'event'); cell(tr, h.station, 'cut'); cell(tr, h.outerLabel, 'cut');
      cell(tr, h.middleLabel, 'cut'); cell(tr, h.barcode, 'barcode cut'); cell(tr, h.person, 'cut'); cell(tr, h.reason, 'cut');
    });
    $('found').hidden = data.found.length === 0;
    $('history').hidden = data.history.length === 0;
    $('rework').hidden = !canRework;
    $('findStatus').textContent = data.found.length === 0
      ? (data.history.length === 0 ? '中央记录中没有“' + data.query + '”。' : '“' + data.query + '”现在不在任何箱中。')
      : '“' + data.query + '”：现在 ' + data.found.length + ' 行。';
  } catch (e) {
    $('found').hidden = true;
    $('history').hidden = true;
    $('findStatus').textContent = '查找失败：' + e.message;
  }
}

function prepareRework(kind, box, station, barcode) {
  $('reworkKind').value = kind;
  $('reworkBox').value = box;
  $('reworkStation').value = station;
  $('reworkBarcode').value = barcode;
  $('reworkStatus').textContent = '';
  $('reworkConfirm').hidden = true;
  $('rework').hidden = false;
  $('reworkBy').focus();
}

function reworkRequest() {
  const kind = $('reworkKind').value;
  const pack = kind === 'take-out' || kind === 'put-in';
  return {
    kind: kind, box: $('reworkBox').value.trim(), station: $('reworkStation').value.trim(),
    barcode: pack ? $('reworkBarcode').value.trim() : '', person: $('reworkBy').value.trim(),
    reason: $('reworkReason').value, note: $('reworkNote').value.trim(), password: $('reworkPassword').value,
  };
}

function askRework() {
  const r = reworkRequest();
  if (!r.box || !r.person || ((r.kind === 'take-out' || r.kind === 'put-in') && !r.barcode)) {
    $('reworkStatus').textContent = '请填写外箱、内包条码（取出、放入时）和姓名。';
    return;
  }
  const what = $('reworkKind').selectedOptions[0].textContent;
  $('reworkWhat').textContent = '确认' + what + '：外箱 ' + r.box + (r.station ? '（' + r.station + '）' : '')
    + (r.barcode ? '，内包 ' + r.barcode : '') + '；' + r.person + '，' + r.reason + '？';
  $('reworkConfirm').hidden = false;
}

async function submitRework() {
  try {
    const done = await getJson('/api/rework', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'X-Zantrel-Board': 'decide' },
      body: JSON.stringify(reworkRequest()),
    });
    $('reworkPassword').value = '';
    $('reworkStatus').textContent = '已记录修改 #' + done.changeId + '。';
    $('reworkConfirm').hidden = true;
    lookup();
  } catch (e) {
    $('reworkPassword').value = '';
    $('reworkStatus').textContent = '修改未记录：' + e.message;
    $('reworkConfirm').hidden = true;
  }
}

// The batches not ended, and those changed today; a batch's boxes on asking.
function showBatches(data) {
  const list = data.batches || [];
  $('batchSection').hidden = list.length === 0;
  fill($('batches').tBodies[0], list, (tr, b) => {
    tr.dataset.batch = b.batch;
    tr.className = b.state;
    cell(tr, b.plant === '' ? b.batch : b.plant + ' / ' + b.batch, 'batch cut');
    cell(tr, b.line, 'line');
    cell(tr, b.stateText, 'state ' + b.state);
    cell(tr, b.planned, 'planned number');
    cell(tr, b.packed, 'packed number' + (b.overPlan ? ' over' : ''));
    cell(tr, b.product, 'product wide');
    cell(tr, b.lot, 'lot cut');
    cell(tr, b.expiry, 'expiry wide');
    cell(tr, b.stations, 'stations cut');
    const td = document.createElement('td');
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'boxes';
    button.textContent = '外箱…';
    button.addEventListener('click', () => showBatchBoxes(b.batch));
    td.appendChild(button);
    tr.appendChild(td);
  });
}

async function showBatchBoxes(batch) {
  $('batchStatus').textContent = '正在读取…';
  try {
    const data = await getJson('/api/batch?b=' + encodeURIComponent(batch));
    $('batchBoxesCaption').textContent = '批次 ' + data.batch + ' 的外箱：' + data.boxes.length + ' 箱';
    fill($('batchBoxes').tBodies[0], data.boxes, (tr, x) => {
      cell(tr, x.box, 'box cut');
      cell(tr, x.station, 'station cut');
      cell(tr, x.written, 'written');
      cell(tr, x.packs, 'packs number');
      cell(tr, x.afterEnd ? '批次结束后收到' : '', 'flag');
    });
    $('batchBoxes').hidden = false;
    $('batchStatus').textContent = data.boxes.length === 0 ? '该批次还没有外箱。' : '';
  } catch (e) {
    $('batchStatus').textContent = '读取失败：' + e.message;
  }
}

function showFreshness(data) {
  const stale = !data.fresh;
  document.body.classList.toggle('stale', stale);
  $('updated').textContent = data.asOf === '' ? '' : (stale ? '数据截至 ' : '更新于 ') + data.asOf;
  $('zone').textContent = '时区：' + data.zone;
  $('problem').textContent = stale ? (data.asOf === '' ? '尚无数据：' : '数据已过时：') + data.problem : '';
  $('problem').hidden = !stale;
}

let refreshing = false;
async function refresh() {
  if (refreshing) return;
  refreshing = true;
  try {
    const data = await getJson('/api/board');
    $('summary').textContent = data.summary;
    document.title = data.summary + ' — ' + (data.plants.length > 0 ? '公司看板' : TITLE);
    showFreshness(data);
    showPlants(data);
    showStations(data);
    showChart(data.chart);
    showConflicts(data);
    showBatches(data);
    canRework = data.canRework === true;
  } catch (e) {
    document.body.classList.add('stale');
    $('problem').textContent = e.message;
    $('problem').hidden = false;
  } finally {
    refreshing = false;
  }
}

document.addEventListener('DOMContentLoaded', () => {
  $('find').addEventListener('submit', lookup);
  $('login').addEventListener('submit', logIn);
  $('logout').addEventListener('click', logOut);
  refreshMe();
  $('keepFirst').addEventListener('click', () => askConfirmation(true));
  $('keepSecond').addEventListener('click', () => askConfirmation(false));
  $('confirmDecision').addEventListener('click', submitDecision);
  $('backDecide').addEventListener('click', () => { $('choice').hidden = false; $('confirm').hidden = true; });
  $('cancelDecide').addEventListener('click', closeDecision);
  $('reworkAsk').addEventListener('click', askRework);
  $('reworkGo').addEventListener('click', submitRework);
  $('reworkBack').addEventListener('click', () => { $('reworkConfirm').hidden = true; });
  $('rework').addEventListener('submit', event => event.preventDefault());
  // Enter in a field must not send the form away: the buttons say where the pack stays.
  $('decide').addEventListener('submit', event => event.preventDefault());
  // A tap shows a cut text whole.
  document.addEventListener('click', event => {
    const td = event.target.closest && event.target.closest('td.cut');
    if (td) td.classList.toggle('whole');
  });
  refresh();
  setInterval(refresh, REFRESH_MS);
});
