// The line's board: reads /api/board every few seconds and shows it. Every value
// from the record is put in as text, never as markup.
'use strict';

const REFRESH_MS = 3000;
let chosen = null; // the conflict the decision form is about

function $(id) { return document.getElementById(id); }

function cell(row, text, cls) {
  const td = document.createElement('td');
  td.textContent = text === undefined || text === null ? '' : String(text);
  if (cls) td.className = cls;
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

function showStations(stations) {
  fill($('stations').tBodies[0], stations, (tr, s) => {
    tr.dataset.station = s.name;
    cell(tr, s.name, 'name');
    cell(tr, s.boxes, 'boxes number');
    cell(tr, s.packs, 'packs number');
    cell(tr, s.lastBox, 'lastBox');
    cell(tr, s.lastBoxAt, 'lastBoxAt');
    cell(tr, s.backlog === '' ? '—' : s.backlog, 'backlog number');
    cell(tr, s.clock === '' ? s.stateText : s.stateText + '，' + s.clock, 'state ' + s.state + (s.clock === '' ? '' : ' clock'));
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

function showConflicts(data) {
  const open = data.openConflicts;
  $('conflictNote').textContent = open === 0 ? '没有待决定的重复包。'
    : '待决定的重复包：' + open + ' 个。' + (data.canDecide ? '' : '看板未以令牌启动，只能查看，不能记录决定。');
  fill($('conflicts').tBodies[0], data.conflicts, (tr, c) => {
    tr.dataset.barcode = c.barcode;
    tr.className = c.settled ? 'settled' : 'open';
    cell(tr, c.barcode, 'barcode');
    cell(tr, boxText(c.firstStation, c.firstBox, c.firstWritten), 'first');
    cell(tr, boxText(c.secondStation, c.secondBox, c.secondWritten), 'second');
    cell(tr, c.settled ? '已决定：保留在 ' + (c.keptInFirst ? 'A ' : 'B ') + c.keptIn + '（' + c.decidedBy + '，' + c.reason + '，' + c.decidedAt + '）' : '待决定', 'status');
    const action = cell(tr, '');
    if (!c.settled && data.canDecide) {
      const button = document.createElement('button');
      button.type = 'button';
      button.className = 'choose';
      button.textContent = '决定…';
      button.addEventListener('click', () => choose(c));
      action.appendChild(button);
    }
  });
  if (chosen && !data.conflicts.some(c => !c.settled && conflictKey(c) === conflictKey(chosen))) closeDecision();
}

function choose(c) {
  chosen = c;
  $('decideWhat').textContent = '内包 ' + c.barcode + ' 保留在哪一箱？';
  $('keepFirst').textContent = '保留在 A：' + c.firstStation + ' / ' + c.firstBox;
  $('keepSecond').textContent = '保留在 B：' + c.secondStation + ' / ' + c.secondBox;
  $('decideStatus').textContent = '';
  $('decide').hidden = false;
  $('decidedBy').focus();
}

function closeDecision() {
  chosen = null;
  $('decide').hidden = true;
}

async function submitDecision(keepFirst) {
  if (!chosen) return;
  const decidedBy = $('decidedBy').value.trim();
  const reason = $('reason').value.trim();
  if (!decidedBy || !reason) {
    $('decideStatus').textContent = '请填写姓名和原因。';
    return;
  }
  try {
    await getJson('/api/decide', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'X-Zantrel-Board': 'decide' },
      body: JSON.stringify({
        secondBoxId: chosen.secondBoxId, barcode: chosen.barcode, firstBoxId: chosen.firstBoxId,
        keepIn: keepFirst ? chosen.firstBoxId : chosen.secondBoxId, decidedBy: decidedBy, reason: reason,
      }),
    });
    $('reason').value = '';
    closeDecision();
    refresh();
  } catch (e) {
    $('decideStatus').textContent = '决定未记录：' + e.message;
  }
}

async function lookup(event) {
  event.preventDefault();
  const q = $('query').value.trim();
  if (!q) return;
  $('findStatus').textContent = '正在查找…';
  try {
    const data = await getJson('/api/find?q=' + encodeURIComponent(q));
    fill($('found').tBodies[0], data.found, (tr, l) => {
      cell(tr, l.station); cell(tr, l.workbook); cell(tr, l.row, 'number'); cell(tr, l.outerLabel);
      cell(tr, l.middleLabel); cell(tr, l.barcode, 'barcode'); cell(tr, l.writtenAt);
    });
    $('found').hidden = data.found.length === 0;
    $('findStatus').textContent = data.found.length === 0 ? '中央记录中没有“' + data.query + '”。'
      : '“' + data.query + '”：' + data.found.length + ' 行。';
  } catch (e) {
    $('found').hidden = true;
    $('findStatus').textContent = '查找失败：' + e.message;
  }
}

let refreshing = false;
async function refresh() {
  if (refreshing) return;
  refreshing = true;
  try {
    const data = await getJson('/api/board');
    showStations(data.stations);
    showChart(data.chart);
    showConflicts(data);
    $('updated').textContent = '更新于 ' + data.updated;
    $('problem').hidden = true;
  } catch (e) {
    $('problem').textContent = e.message;
    $('problem').hidden = false;
  } finally {
    refreshing = false;
  }
}

document.addEventListener('DOMContentLoaded', () => {
  $('find').addEventListener('submit', lookup);
  $('keepFirst').addEventListener('click', () => submitDecision(true));
  $('keepSecond').addEventListener('click', () => submitDecision(false));
  $('cancelDecide').addEventListener('click', closeDecision);
  // Enter in a field must not send the form away: the buttons say where the pack stays.
  $('decide').addEventListener('submit', event => event.preventDefault());
  refresh();
  setInterval(refresh, REFRESH_MS);
});
