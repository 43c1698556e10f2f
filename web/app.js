// The page of traxctl serve. Everything goes through the JSON API under /api/;
// the server owns the library calls, this page only shows and asks.
'use strict';

const $ = (id) => document.getElementById(id);
const metrics = (window.traxMetrics = { storageDrawMs: null, storagePoints: 0, liveRate: 0 });
let info = { readOnly: false, rate: 20, unit: null, settings: [] };

// --- talking to the server -------------------------------------------------

class CallError extends Error {
  constructor(status, body) {
    super(body.function ? `${body.function}: ${body.reason}` : body.error || `HTTP ${status}`);
    this.status = status;
    this.body = body;
  }
}

// Every request carries the page's mark: reads that switch the controller to
// setting mode need a proof of where they come from, and another site's page
// cannot send this header.
const pageMark = { 'X-Trax-Request': 'page' };
async function api(path, body) {
  const init = body === undefined ? { headers: pageMark } : {
    method: 'POST', headers: { 'Content-Type': 'application/json', ...pageMark }, body: JSON.stringify(body),
  };
  let response;
  try {
    response = await fetch(path, init);
  } catch (e) {
    showFailure('server', 'traxctl serve does not answer: ' + e.message);
    throw e;
  }
  const type = response.headers.get('Content-Type') || '';
  const data = type.startsWith('application/json') ? await response.json() : await response.text();
  if (!response.ok) {
    const err = new CallError(response.status, typeof data === 'object' ? data : { error: String(data) });
    showFailure(err.body.function || `HTTP ${response.status}`, err.body.reason || err.body.error);
    throw err;
  }
  return data;
}

function showFailure(what, reason) {
  $('failure-function').textContent = what;
  $('failure-reason').textContent = reason;
  $('failure').hidden = false;
}
$('failure-close').onclick = () => { $('failure').hidden = true; };

function confirmChange(text) {
  return window.confirm(text + '\n\nThis changes the controller.');
}

// --- tabs ------------------------------------------------------------------

const panelHooks = {};
let activePanel = 'live';
for (const button of document.querySelectorAll('#tabs button')) {
  button.onclick = () => showPanel(button.dataset.panel);
}
function showPanel(name) {
  activePanel = name;
  for (const b of document.querySelectorAll('#tabs button')) b.classList.toggle('active', b.dataset.panel === name);
  for (const p of document.querySelectorAll('.panel')) p.classList.toggle('active', p.id === 'panel-' + name);
  if (panelHooks[name]) panelHooks[name]();
  resizeCharts();
}

// --- values ----------------------------------------------------------------

function statusClass(status) {
  return status === 'valid' ? 'valid' : status.startsWith('over') ? 'over' : 'invalid';
}
function valueText(v) {
  // over+, over- and invalid are shown as such, never as a number.
  return v.status === 'valid' ? String(v.value) : v.status;
}
function unitSuffix() { return info.unit ? ' ' + info.unit : ''; }

function chartSize(el, height) {
  return { width: Math.max(300, el.clientWidth - 16), height };
}
const charts = [];
function resizeCharts() {
  for (const c of charts) {
    const el = c.root.parentElement;
    if (el && el.offsetParent !== null) c.setSize(chartSize(el, c.height));
  }
}
window.addEventListener('resize', resizeCharts);

// --- live ------------------------------------------------------------------

const live = { t: [], a: [], b: [], paused: false, source: null, chart: null, received: [], dirty: false };

function makeLiveChart() {
  const el = $('live-chart');
  live.chart = new uPlot({
    ...chartSize(el, 320),
    scales: { x: { time: false } },
    axes: [{ label: 's' }, {}],
    series: [{ label: 't (s)' },
      { label: 'A', stroke: '#1f6feb', width: 1.5, spanGaps: false },
      { label: 'B', stroke: '#d9480f', width: 1.5, spanGaps: false }],
  }, [[], [], []], el);
  charts.push(live.chart);
}

function showLive(head, v) {
  const card = $('live-' + head);
  card.querySelector('.value').textContent = valueText(v) + (v.status === 'valid' ? unitSuffix() : '');
  const s = card.querySelector('.status');
  s.textContent = v.status;
  s.className = 'status ' + statusClass(v.status);
}

function startLive() {
  if (live.source) live.source.close();
  const rate = $('live-rate').value || info.rate;
  live.source = new EventSource('/api/live?rate=' + rate);
  live.source.addEventListener('values', (e) => {
    const s = JSON.parse(e.data);
    const now = performance.now();
    live.received.push(now);
    while (live.received.length && now - live.received[0] > 2000) live.received.shift();
    showLive('A', s.A);
    showLive('B', s.B);
    if (live.paused) return;
    live.t.push(s.t);
    live.a.push(s.A.status === 'valid' ? s.A.value : null);
    live.b.push(s.B.status === 'valid' ? s.B.value : null);
    const keep = Number($('live-window').value);
    while (live.t.length && s.t - live.t[0] > keep) { live.t.shift(); live.a.shift(); live.b.shift(); }
    live.dirty = true;
  });
  live.source.addEventListener('failure', (e) => {
    const f = JSON.parse(e.data);
    showFailure(f.function, f.reason);
    for (const h of ['A', 'B']) {
      const s = $('live-' + h).querySelector('.status');
      s.textContent = 'failed';
      s.className = 'status failed';
    }
  });
  live.source.onopen = () => setServerState('connected', 'ok');
  live.source.onerror = () => setServerState('stream lost, retrying…', 'bad');
}

// Redraw at most once a frame, however fast the samples come.
function liveFrame() {
  if (live.dirty && activePanel === 'live') {
    live.dirty = false;
    live.chart.setData([live.t, live.a, live.b]);
  }
  requestAnimationFrame(liveFrame);
}
setInterval(() => {
  const n = live.received.length;
  metrics.liveRate = n > 1 ? (n - 1) / ((live.received[n - 1] - live.received[0]) / 1000) : 0;
  $('live-achieved').textContent = metrics.liveRate.toFixed(1) + ' Hz';
}, 1000);

$('live-pause').onclick = () => {
  live.paused = !live.paused;
  $('live-pause').textContent = live.paused ? 'Resume' : 'Pause';
};
$('live-rate').onchange = startLive;

function setServerState(text, kind) {
  const b = $('server-state');
  b.textContent = text + (info.readOnly ? ' · read-only' : '');
  b.className = 'badge ' + (info.readOnly && kind === 'ok' ? 'ro' : kind);
}

// --- light profile ---------------------------------------------------------

let lightChart = null;
let lightTimer = null;
async function refreshLight() {
  const head = $('light-head').value, selector = $('light-selector').value;
  const d = await api(`/api/light?head=${head}&selector=${selector}`);
  const x = d.profile.map((_, i) => i);
  if (!lightChart) {
    const el = $('light-chart');
    lightChart = new uPlot({
      ...chartSize(el, 320),
      scales: { x: { time: false }, y: { range: [0, 255] } },
      axes: [{ label: 'pixel' }, { label: 'intensity' }],
      series: [{ label: 'pixel' }, { label: 'intensity', stroke: '#2b8a3e', fill: 'rgba(43,138,62,.12)', width: 1 }],
    }, [x, d.profile], el);
    charts.push(lightChart);
  } else {
    lightChart.setData([x, d.profile]);
  }
  const rows = d.light.map((v, i) => `<tr><th>light figure ${i}</th><td>${v}</td></tr>`).join('') +
    `<tr><th>extra</th><td>${d.extra}</td></tr><tr><th>head / selector</th><td>${d.head} / ${d.selector}</td></tr>`;
  $('light-figures').querySelector('tbody').innerHTML = rows;
}
$('light-refresh').onclick = () => refreshLight().catch(() => {});
$('light-head').onchange = $('light-selector').onchange = () => refreshLight().catch(() => {});
$('light-auto').onchange = () => {
  clearInterval(lightTimer);
  if ($('light-auto').checked) lightTimer = setInterval(() => refreshLight().catch(() => {}), 1000);
};
panelHooks.light = () => { if (!lightChart) refreshLight().catch(() => {}); };

// --- figure ----------------------------------------------------------------

async function refreshFigure() {
  for (const head of ['A', 'B']) {
    const d = await api('/api/figure?head=' + head);
    const rows = d.values.map((v, i) =>
      `<tr><th>value ${i}</th><td class="${v.status === 'valid' ? '' : 'bad'}">${valueText(v)}${v.status === 'valid' ? unitSuffix() : ''}</td></tr>`)
      .concat(d.integers.map((n, i) => `<tr><th>integer ${i}</th><td>${n}</td></tr>`));
    $('figure-' + head).querySelector('tbody').innerHTML = rows.join('');
  }
}
$('figure-refresh').onclick = () => refreshFigure().catch(() => {});
$('figure-clear').onclick = async () => {
  if (!confirmChange('Clear the figure data of both heads?')) return;
  await api('/api/figure/clear', {}).catch(() => {});
  refreshFigure().catch(() => {});
};
panelHooks.figure = () => refreshFigure().catch(() => {});

// --- storage ---------------------------------------------------------------

let storageChart = null;
let storageTimer = null;
let storageCount = 1;

async function refreshStorage() {
  const s = await api('/api/storage/status');
  $('storage-state').textContent = `${s.storing ? 'storing' : 'not storing'} · A ${s.A} · B ${s.B} values`;
  $('storage-progress').max = storageCount;
  $('storage-progress').value = Math.max(s.A, s.B);
  clearTimeout(storageTimer);
  if (s.storing) storageTimer = setTimeout(() => refreshStorage().catch(() => {}), 250);
  return s;
}
$('storage-form').onsubmit = async (e) => {
  e.preventDefault();
  const body = {
    target: Number($('storage-target').value), count: Number($('storage-count').value),
    cycle: Number($('storage-cycle').value),
  };
  if (!confirmChange(`Set up the storage (target ${body.target}, count ${body.count}, cycle ${body.cycle}) and empty it?`)) return;
  const r = await api('/api/storage/setup', body).catch(() => null);
  if (r) storageCount = r.count;
  refreshStorage().catch(() => {});
};
$('storage-start').onclick = async () => {
  if (!confirmChange('Start storing?')) return;
  await api('/api/storage/start', {}).catch(() => {});
  refreshStorage().catch(() => {});
};
$('storage-stop').onclick = async () => {
  if (!confirmChange('Stop storing?')) return;
  await api('/api/storage/stop', {}).catch(() => {});
  refreshStorage().catch(() => {});
};

function drawStorage(a, b) {
  const n = Math.max(a.length, b.length);
  const x = new Float64Array(n);
  for (let i = 0; i < n; ++i) x[i] = i;
  const ya = a.map((v) => (v.status === 'valid' ? v.value : null));
  const yb = b.map((v) => (v.status === 'valid' ? v.value : null));
  const t0 = performance.now();
  let drawn = false;
  const el = $('storage-chart');
  if (storageChart) { storageChart.destroy(); charts.splice(charts.indexOf(storageChart), 1); }
  storageChart = new uPlot({
    ...chartSize(el, 360),
    scales: { x: { time: false } },
    cursor: { drag: { x: true, y: false } },
    axes: [{ label: 'index' }, {}],
    series: [{ label: 'index' },
      { label: 'A', stroke: '#1f6feb', width: 1 },
      { label: 'B', stroke: '#d9480f', width: 1 }],
    // uPlot draws after the constructor returns: the time is taken when the
    // first drawing has ended.
    hooks: {
      draw: [() => {
        if (drawn) return;
        drawn = true;
        metrics.storageDrawMs = performance.now() - t0;
        metrics.storagePoints = n;
        $('storage-drawn').textContent = `${n} values per head, drawn in ${metrics.storageDrawMs.toFixed(0)} ms`;
      }],
    },
  }, [x, ya, yb], el);
  charts.push(storageChart);
}
$('storage-read').onclick = async () => {
  const [a, b] = await Promise.all([api('/api/storage/data?head=A'), api('/api/storage/data?head=B')]).catch(() => [null, null]);
  if (a && b) drawStorage(a.values, b.values);
};
function pan(direction) {
  if (!storageChart) return;
  const { min, max } = storageChart.scales.x;
  const step = (max - min) / 2 * direction;
  storageChart.setScale('x', { min: min + step, max: max + step });
}
$('storage-left').onclick = () => pan(-1);
$('storage-right').onclick = () => pan(1);
panelHooks.storage = () => refreshStorage().catch(() => {});

// --- settings --------------------------------------------------------------

function rowId(name, head) { return `setting-${name}-${head || 'C'}`; }
function settingNamed(name) { return info.settings.find((s) => s.name === name); }
// Values in the setting table's order, named when there are several.
function settingText(s, values) {
  return s.fields.map((f) => (s.fields.length > 1 ? `${f.name}=` : '') + values[f.name]).join(' ');
}

// One row a setting, the heads side by side; each cell edits and applies
// one head's values and shows what reads back.
function buildSettingsTable() {
  const body = $('settings-table').querySelector('tbody');
  body.innerHTML = '';
  for (const s of info.settings) {
    const tr = document.createElement('tr');
    tr.title = s.about;
    const range = s.fields.map((f) => `${s.fields.length > 1 ? f.name + ' ' : ''}${f.low}..${f.high}`).join(', ');
    tr.innerHTML = `<td><strong>${s.name}</strong><div class="note">${s.about}</div></td>`;
    for (const head of s.scope === 'head' ? ['A', 'B'] : [null]) {
      const td = document.createElement('td');
      td.id = rowId(s.name, head);
      if (!head) td.colSpan = 2;
      td.innerHTML = s.fields.map((f) =>
        `<label>${s.fields.length > 1 ? f.name + ' ' : ''}<input type="number" data-field="${f.name}" min="${f.low}" max="${f.high}"></label>`).join(' ') +
        ` <button class="change" ${info.readOnly ? 'disabled' : ''}>Apply</button>` +
        ` <span class="readback note">${s.readable ? '' : 'write-only'}</span>`;
      td.querySelector('button').onclick = () => applySetting(s, head, td);
      tr.appendChild(td);
    }
    const rangeCell = document.createElement('td');
    rangeCell.className = 'range';
    rangeCell.textContent = range;
    tr.appendChild(rangeCell);
    body.appendChild(tr);
  }
}

function showSetting(entry) {
  const cell = $(rowId(entry.setting, entry.head));
  if (!cell) return;
  for (const input of cell.querySelectorAll('input')) input.value = entry.values[input.dataset.field];
  const readBack = cell.querySelector('.readback');
  readBack.textContent = settingText(settingNamed(entry.setting), entry.values);
  readBack.className = 'readback ok';
}

async function readAllSettings() {
  $('settings-state').textContent = 'reading…';
  try {
    const d = await api('/api/settings');
    for (const e of d.settings) showSetting(e);
    $('settings-state').textContent = `read ${d.settings.length} settings at ${new Date().toLocaleTimeString()}`;
  } catch (e) {
    $('settings-state').textContent = 'reading failed';
  }
}

// The setting's ranges, as the server's table gives them, checked before the
// confirmation; a setting of one value is named once ("offset: ...").
function valuesProblem(s, values) {
  const label = (f) => (s.fields.length === 1 ? s.name : `${s.name} ${f.name}`);
  for (const f of s.fields) {
    const v = values[f.name];
    if (!Number.isInteger(v)) return `${label(f)}: a whole number is needed`;
    if (v < f.low || v > f.high) return `${label(f)}: ${v} is out of range ${f.low}..${f.high}`;
  }
  if (s.ordered && values[s.fields[0].name] > values[s.fields[1].name])
    return `${s.name}: ${s.fields[0].name} ${values[s.fields[0].name]} is above ${s.fields[1].name} ${values[s.fields[1].name]}`;
  return '';
}

async function applySetting(s, head, td) {
  const values = {};
  for (const input of td.querySelectorAll('input')) {
    values[input.dataset.field] = input.value.trim() === '' ? NaN : Number(input.value);
  }
  const problem = valuesProblem(s, values);
  if (problem) {
    const cell = td.querySelector('.readback');
    cell.textContent = problem;
    cell.className = 'readback bad';
    return;
  }
  if (!confirmChange(`Write ${s.name}${head ? ' of head ' + head : ''}: ${settingText(s, values)}?`)) return;
  const cell = td.querySelector('.readback');
  try {
    const body = { setting: s.name, values };
    if (head) body.head = head;
    const r = await api('/api/settings', body);
    if (r.readBack) showSetting(r); else { cell.textContent = 'written'; cell.className = 'readback ok'; }
  } catch (e) {
    cell.textContent = e.message;
    cell.className = 'readback bad';
  }
}
$('settings-read').onclick = readAllSettings;

// Settings file: upload, the difference to the controller shown, then apply.
// Apply exists only for the file last shown as accepted: any new upload
// forgets the previous one first, whether it is accepted or not.
let loadedFile = null;
function differenceText(d, left, right) {
  const text = (x, v) => (v ? settingText(settingNamed(x.setting), v) : '(none)');
  return d.map((x) => `${x.setting}${x.head ? ' ' + x.head : ''}: ${text(x, x[left])}  →  ${text(x, x[right])}`).join('\n');
}
// Saved through fetch, not a plain link: the read needs the page's mark.
$('file-save').onclick = async (event) => {
  event.preventDefault();
  let response;
  try {
    response = await fetch('/api/settings-file', { headers: pageMark });
  } catch (e) {
    showFailure('server', 'traxctl serve does not answer: ' + e.message);
    return;
  }
  if (!response.ok) {
    const b = await response.json().catch(() => ({}));
    showFailure(b.function || `HTTP ${response.status}`, b.reason || b.error || '');
    return;
  }
  const url = URL.createObjectURL(await response.blob());
  const a = document.createElement('a');
  a.href = url;
  a.download = 'settings.json';
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
};
$('file-load').onchange = async () => {
  const file = $('file-load').files[0];
  $('file-load').value = '';
  loadedFile = null;
  $('file-apply').hidden = true;
  if (!file) return;
  let document_;
  try {
    document_ = JSON.parse(await file.text());
  } catch (e) {
    $('file-diff').textContent = `${file.name} is not JSON: ${e.message}`;
    return;
  }
  try {
    const r = await api('/api/settings-file?dry_run=1', document_);
    loadedFile = { name: file.name, document: document_, changes: r.differences.length };
    $('file-diff').textContent = r.differences.length
      ? `${file.name}: ${r.differences.length} of ${r.settings} settings differ (controller → file)\n` +
        differenceText(r.differences, 'controller', 'file')
      : `${file.name}: the controller already holds all ${r.settings} settings of the file`;
    $('file-apply').hidden = r.differences.length === 0 || info.readOnly;
  } catch (e) {
    $('file-diff').textContent = `${file.name}: ${e.message}`;
  }
};
$('file-apply').onclick = async () => {
  const chosen = loadedFile;
  if (!chosen) return;
  const n = chosen.changes;
  if (!confirmChange(`Write ${chosen.name} to the controller? ${n} setting${n === 1 ? '' : 's'} will change.`)) return;
  loadedFile = null;
  $('file-apply').hidden = true;
  try {
    const r = await api('/api/settings-file', chosen.document);
    $('file-diff').textContent = `written: ${r.written.length} settings, every one read back equal`;
    readAllSettings();
  } catch (e) {
    const b = e.body || {};
    $('file-diff').textContent = `${e.message}` + (b.notWritten ? `\nnot written: ${b.notWritten.length}` : '') +
      (b.differences && b.differences.length ? '\n' + differenceText(b.differences, 'file', 'readBack') : '');
  }
};

// --- control ---------------------------------------------------------------

const controlHead = { zero: 'zero-head', timing: 'timing-head', reset: 'reset-head', panel: 'panel-head', 'able-start': 'able-head' };
for (const button of document.querySelectorAll('#panel-control button[data-action]')) {
  button.onclick = async () => {
    const action = button.dataset.action;
    const body = { action };
    if (controlHead[action]) body.head = $(controlHead[action]).value;
    if (button.dataset.on) body.on = button.dataset.on === 'true';
    if (action === 'program') body.number = Number($('program-number').value);
    const words = [button.closest('fieldset').querySelector('legend').textContent, button.textContent,
      body.head ? 'head ' + body.head : '', action === 'program' ? String(body.number) : ''].join(' ');
    if (!confirmChange(words.trim() + '?')) return;
    $('control-done').textContent = '';
    const done = await api('/api/control', body).catch(() => null);
    if (done) $('control-done').textContent = `done at ${new Date().toLocaleTimeString()}: ${words.trim()}`;
  };
}
async function readControl() {
  const d = await api('/api/control');
  $('control-panel').textContent = d.panel;
  $('control-program').textContent = d.program;
}
$('control-read').onclick = () => readControl().catch(() => {});

// --- log -------------------------------------------------------------------

let logAfter = 0;
async function refreshLog() {
  const d = await api('/api/log?after=' + logAfter);
  const body = $('log-table').querySelector('tbody');
  for (const c of d.calls) {
    logAfter = Math.max(logAfter, c.seq);
    const tr = document.createElement('tr');
    if (!c.ok) tr.className = 'bad';
    tr.innerHTML = `<td>${c.seq}</td><td>${c.t.toFixed(3)}</td><td>${c.function}</td><td></td>`;
    tr.lastChild.textContent = c.ok ? 'ok' : c.reason;
    body.insertBefore(tr, body.firstChild);
  }
  while (body.children.length > 200) body.removeChild(body.lastChild);
}
setInterval(() => { if (activePanel === 'log') refreshLog().catch(() => {}); }, 1000);
panelHooks.log = () => refreshLog().catch(() => {});

// --- start -----------------------------------------------------------------

async function start() {
  makeLiveChart();
  requestAnimationFrame(liveFrame);
  try {
    info = await api('/api/info');
  } catch (e) {
    setServerState('no server', 'bad');
    return;
  }
  const rates = [1, 2, 5, 10, 20, 50, 100].filter((r) => r <= info.rate);
  if (!rates.includes(info.rate)) rates.push(info.rate);
  $('live-rate').innerHTML = rates.map((r) => `<option ${r === Math.min(20, info.rate) ? 'selected' : ''}>${r}</option>`).join('');
  for (const b of document.querySelectorAll('button.change')) if (info.readOnly) b.disabled = true;
  // Started as traxctl serve --record FILE: say so, it is the controller's every byte.
  $('recording-state').hidden = !info.recording;
  buildSettingsTable();
  setServerState('connected', 'ok');
  startLive();
}
start();
