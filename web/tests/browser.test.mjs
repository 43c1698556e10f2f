// The page in a real browser: Debian's chromium, headless, driven by
// playwright-core against traxctl serve and the simulated controller.
//   TRAXCTL=build/linux/tools/traxctl OUT=build/linux/web node --test web/tests/
// Screenshots of each panel and the measured figures go to OUT.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const TRAXCTL = path.resolve(process.env.TRAXCTL || 'build/linux/tools/traxctl');
const OUT = path.resolve(process.env.OUT || 'build/linux/web');
const work = mkdtempSync(path.join(tmpdir(), 'trax-browser-'));
mkdirSync(OUT, { recursive: true });
const measured = {};

function cleanEnv(extra) {
  const env = {};
  for (const [k, v] of Object.entries(process.env)) if (!k.startsWith('TRAX_SIM_') && !k.startsWith('TRAX_LOG')) env[k] = v;
  return { ...env, ...extra };
}

// traxctl serve on a free loopback port; resolves with its address.
function startServer(name, args = [], env = {}) {
  const environment = cleanEnv({ TRAX_SIM_STATE: path.join(work, name + '.state'), ...env });
  const child = spawn(TRAXCTL, ['serve', '--port', '0', ...args], { env: environment, stdio: ['ignore', 'pipe', 'pipe'] });
  return new Promise((resolve, reject) => {
    let text = '';
    child.stdout.on('data', (d) => {
      text += d;
      const m = /http:\/\/[^\s]+/.exec(text);
      if (m) resolve({ child, url: m[0], env: environment });
    });
    child.on('exit', (code) => reject(new Error(`traxctl serve ended with ${code}: ${text}`)));
  });
}

async function stopServer(server) {
  const ended = new Promise((resolve) => server.child.on('exit', (code) => resolve(code)));
  server.child.kill('SIGINT');
  return ended;
}

let server, faulty, context, page;

before(async () => {
  server = await startServer('main', ['--rate', '50']);
  faulty = await startServer('faulty', [], { TRAX_SIM_ERROR_REPLY: '3', TRAX_SIM_ERROR_COMMAND: '24' });
  context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1280, height: 860 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  page = await context.newPage();
  page.on('dialog', (d) => d.accept());
});

after(async () => {
  writeFileSync(path.join(OUT, 'browser-metrics.json'), JSON.stringify(measured, null, 2) + '\n');
  console.log('measured:', JSON.stringify(measured));
  if (context) await context.close();
  if (server) assert.equal(await stopServer(server), 130);
  if (faulty) await stopServer(faulty);
  rmSync(work, { recursive: true, force: true });
});

async function tab(name) {
  await page.click(`#tabs button[data-panel="${name}"]`);
}
async function shot(name) {
  await page.screenshot({ path: path.join(OUT, `panel-${name}.png`), fullPage: true });
}
async function apiGet(p) {
  // The page's mark: reading settings needs a proof of where the request comes from.
  const r = await fetch(new URL(p, server.url), { headers: { 'X-Trax-Request': 'page' } });
  return r.json();
}

test('the page loads and its live values change', async () => {
  await page.goto(server.url);
  const paint = await page.evaluate(() => {
    const e = performance.getEntriesByName('first-contentful-paint')[0] || performance.getEntriesByName('first-paint')[0];
    return e ? e.startTime : null;
  });
  measured.firstPaintColdMs = paint;
  // Again with the browser warm: what a person sees opening the page a second time.
  await page.reload();
  measured.firstPaintMs = await page.evaluate(() => {
    const e = performance.getEntriesByName('first-contentful-paint')[0] || performance.getEntriesByName('first-paint')[0];
    return e ? e.startTime : null;
  });
  await page.waitForFunction(() => /\d/.test(document.querySelector('#live-A .value').textContent));
  const first = await page.textContent('#live-A .value');
  await page.waitForFunction((f) => document.querySelector('#live-A .value').textContent !== f, first);
  assert.match(await page.textContent('#live-A .status'), /valid/);
  // The stream at the server's full rate, as the page receives it.
  await page.selectOption('#live-rate', '50');
  await page.waitForTimeout(4000);
  measured.liveRateHz = await page.evaluate(() => window.traxMetrics.liveRate);
  const points = await page.evaluate(() => document.querySelectorAll('#live-chart canvas').length);
  assert.ok(points > 0);
  await shot('live');
});

test('the light profile is drawn', async () => {
  await tab('light');
  await page.waitForFunction(() => document.querySelectorAll('#light-figures tr').length > 0);
  await page.selectOption('#light-selector', '1');
  await page.waitForFunction(() => document.querySelector('#light-figures').textContent.includes('/ 1'));
  const inked = await page.evaluate(() => {
    const canvas = document.querySelector('#light-chart canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let n = 0;
    for (let i = 3; i < data.length; i += 4) if (data[i] !== 0) ++n;
    return n;
  });
  assert.ok(inked > 1000, `only ${inked} pixels drawn`);
  await shot('light');
});

test('figure data of both heads', async () => {
  await tab('figure');
  await page.waitForFunction(() => document.querySelectorAll('#figure-B tr').length === 11);
  await shot('figure');
});

test('a storage run of 65536 values is drawn and its CSV is the one traxctl writes', async () => {
  await tab('storage');
  await page.fill('#storage-count', '65536');
  await page.click('#storage-form button[type=submit]');
  await page.waitForFunction(() => document.querySelector('#storage-state').textContent.includes('not storing'));
  await page.click('#storage-start');
  await page.click('#storage-stop');
  await page.waitForFunction(() => document.querySelector('#storage-state').textContent.includes('A 65536'));
  await page.click('#storage-read');
  await page.waitForFunction(() => window.traxMetrics.storagePoints === 65536, null, { timeout: 60000 });
  measured.storageDrawMs = await page.evaluate(() => window.traxMetrics.storageDrawMs);
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#storage-csv-A')]);
  const fromPage = path.join(work, 'page-A.csv');
  await download.saveAs(fromPage);
  const fromCli = path.join(work, 'cli-A.csv');
  execFileSync(TRAXCTL, ['storage', 'read', 'A', '--csv', fromCli], { env: server.env, stdio: 'pipe' });
  // The server saw the run start and stop; traxctl, in a process of its own, did not.
  const times = /^# (start|stop): .*$/gm;
  const a = readFileSync(fromPage, 'utf8');
  assert.match(a, /^# start: \d{4}-/m);
  assert.ok(a.includes('\n65535,valid,'));
  assert.equal(a.replace(times, ''), readFileSync(fromCli, 'utf8').replace(times, ''));
  await shot('storage');
});

test('a setting changed on the page reads back through the API', async () => {
  await tab('settings');
  await page.click('#settings-read');
  await page.waitForFunction(() => document.querySelector('#settings-state').textContent.startsWith('read '));
  await page.fill('#setting-offset-B input[data-field=offset]', '777');
  await page.click('#setting-offset-B button');
  await page.waitForFunction(() => document.querySelector('#setting-offset-B .readback').textContent === '777');
  const r = await apiGet('/api/settings?setting=offset&head=B');
  assert.deepEqual(r.settings[0].values, { offset: 777 });
  await shot('settings');
});

test('a settings file is saved and loaded back', async () => {
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#file-save')]);
  const saved = path.join(work, 'settings.json');
  await download.saveAs(saved);
  const file = JSON.parse(readFileSync(saved, 'utf8'));
  assert.equal(file.heads.B.offset, 777);
  file.heads.A.offset = -555;
  const changed = path.join(work, 'changed.json');
  writeFileSync(changed, JSON.stringify(file));
  await page.setInputFiles('#file-load', changed);
  await page.waitForFunction(() => document.querySelector('#file-diff').textContent.includes('offset A'));
  await shot('settings-file-diff');
  await page.click('#file-apply');
  await page.waitForFunction(() => document.querySelector('#file-diff').textContent.startsWith('written'));
  const r = await apiGet('/api/settings?setting=offset&head=A');
  assert.deepEqual(r.settings[0].values, { offset: -555 });
});

test('Apply writes only the file shown as accepted, and names it', async () => {
  const fresh = await context.newPage();
  await fresh.goto(server.url);
  await fresh.click('#tabs button[data-panel="settings"]');
  // Before any file: no Apply, whatever the stylesheet says of buttons.
  assert.equal(await fresh.isVisible('#file-apply'), false);
  const current = (await apiGet('/api/settings?setting=offset&head=B')).settings[0].values.offset;
  const a = path.join(work, 'a.json');
  writeFileSync(a, JSON.stringify({ format: 'trax-settings', version: 1, heads: { B: { offset: current + 1 } } }));
  const b = path.join(work, 'b.json');
  writeFileSync(b, JSON.stringify({ format: 'trax-settings', version: 1, heads: { B: { ofset: 1 } } }));
  await fresh.setInputFiles('#file-load', a);
  await fresh.waitForFunction(() => document.querySelector('#file-diff').textContent.startsWith('a.json: 1 of 1'));
  assert.equal(await fresh.isVisible('#file-apply'), true);
  // A refused file forgets the accepted one: no Apply, and a click made anyway writes nothing.
  await fresh.setInputFiles('#file-load', b);
  await fresh.waitForFunction(() => document.querySelector('#file-diff').textContent.includes('heads.B.ofset'));
  assert.equal(await fresh.isVisible('#file-apply'), false);
  const dialogs = [];
  fresh.on('dialog', (d) => { dialogs.push(d.message()); d.accept(); });
  await fresh.evaluate(() => document.getElementById('file-apply').click());
  assert.deepEqual(dialogs, []);
  assert.equal((await apiGet('/api/settings?setting=offset&head=B')).settings[0].values.offset, current);
  // Accepted again: the confirmation names the file and how many settings change.
  await fresh.setInputFiles('#file-load', a);
  await fresh.waitForFunction(() => document.querySelector('#file-diff').textContent.startsWith('a.json: 1 of 1'));
  await fresh.click('#file-apply');
  await fresh.waitForFunction(() => document.querySelector('#file-diff').textContent.startsWith('written'));
  assert.equal(dialogs.length, 1);
  assert.match(dialogs[0], /a\.json/);
  assert.match(dialogs[0], /1 setting will change/);
  assert.equal((await apiGet('/api/settings?setting=offset&head=B')).settings[0].values.offset, current + 1);
  await fresh.screenshot({ path: path.join(OUT, 'panel-settings-file-apply.png'), fullPage: true });
  await fresh.close();
});

test('control and log panels', async () => {
  await tab('control');
  await page.click('#control-read');
  await page.waitForFunction(() => document.querySelector('#control-program').textContent !== '—');
  await page.selectOption('#program-number', '4');
  await page.click('button[data-action=program]');
  await page.click('#control-read');
  await page.waitForFunction(() => document.querySelector('#control-program').textContent === '4');
  await shot('control');
  await tab('log');
  await page.waitForFunction(() => document.querySelectorAll('#log-table tbody tr').length > 5);
  await shot('log');
});

test("a failed call's reason is shown", async () => {
  const p = await context.newPage();
  await p.goto(faulty.url);
  await p.click('#tabs button[data-panel="light"]');
  await p.waitForSelector('#failure:not([hidden])');
  assert.equal(await p.textContent('#failure-function'), 'TRAX_GetLight');
  assert.ok((await p.textContent('#failure-reason')).length > 10);
  await p.screenshot({ path: path.join(OUT, 'panel-failure.png'), fullPage: true });
  await p.close();
});
