// The web panel of `vorn-host serve`, in Debian's Chromium driven by playwright-core.
// Environment: VORN_HOST and VORN_RUN (the command that serves and the one that replays, words
// split on '|': a Linux vorn-host, or wine and vorn-host.exe), VORN_PLUGIN, VORN_CRASH_PLUGIN,
// VORN_HANG_PLUGIN, VORN_LAMP_PLUGIN (a component other than the contact tile),
// SCREENSHOT (where the README's picture is written, if anywhere), CHROMIUM.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { request } from 'node:http';
import { connect } from 'node:net';
import { writeFileSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve, stopServers, hostCommand as host } from './serve.mjs';
import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
const plugin = process.env.VORN_PLUGIN;
const config = join(here, 'panel.ini');
let browser;

// Starts vorn-host serve; resolves with its address once it says where it serves.

async function openPanel(server) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
  await page.goto(server.url);
  await page.locator('#tile-one').waitFor();
  return page;
}

const transcript = (page) => page.getByRole('region', { name: 'transcript' });

async function pause(page) {
  if ((await page.locator('#clock-toggle').textContent()) === 'Pause clock') await page.locator('#clock-toggle').click();
  await page.locator('#clock-toggle', { hasText: 'Run clock' }).waitFor();
}

let panel; // the server most tests share

before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  panel = await serve(['--plugin', plugin, '--config', config]);
});

after(async () => {
  if (browser) await browser.close();
  stopServers();
});

test('each tile is drawn with its label, its looks and what it stands for', async () => {
  const page = await openPanel(panel);
  const one = page.locator('#tile-one');
  assert.equal(await one.getAttribute('aria-label'), 'Studio A');
  assert.equal(await page.getByRole('button', { name: 'Studio B' }).count(), 1);
  // offState over the style sheet: grey, with the rounded corners of QPushButton { ... }.
  const look = await one.evaluate((e) => [getComputedStyle(e).backgroundColor, getComputedStyle(e).borderTopLeftRadius]);
  assert.deepEqual(look, ['rgb(128, 128, 128)', '6px']);
  const card = page.locator('.card[data-tile="one"]');
  await assert.doesNotReject(card.getByText('A (device 12 contact 3)').waitFor());
  await assert.doesNotReject(card.getByText('12/3 off', { exact: true }).waitFor());
  if (process.env.SCREENSHOT) await page.screenshot({ path: process.env.SCREENSHOT, fullPage: true });
  await page.close();
});

test('a click or a key presses a tile; both tiles on the contact follow; the transcript shows it', async () => {
  const page = await openPanel(panel);
  await pause(page);
  await page.locator('#tile-one').click();
  await transcript(page).getByText('-> GS 12 3 1 1').first().waitFor();
  await page.waitForFunction(() => getComputedStyle(document.getElementById('tile-one')).backgroundColor === 'rgb(255, 0, 0)');
  await page.locator('.card[data-tile="two"]').getByText('12/3 on', { exact: true }).waitFor();
  await page.locator('#tile-one').focus();
  await page.keyboard.press('Enter');
  await transcript(page).getByText('-> GS 12 3 0 1').first().waitFor();
  await page.waitForFunction(() => getComputedStyle(document.getElementById('tile-one')).backgroundColor === 'rgb(128, 128, 128)');
  await page.close();
  // A tap, on a touch screen.
  const touch = await browser.newContext({ hasTouch: true, viewport: { width: 800, height: 900 } });
  const tapped = await touch.newPage();
  await tapped.goto(panel.url);
  await tapped.locator('#tile-two').tap();
  await transcript(tapped).getByText('@two press 1 MyContact_Tile').waitFor();
  await tapped.locator('.card[data-tile="one"]').getByText('12/3 on', { exact: true }).waitFor();
  await touch.close();
});

test('a press the tile ignores says why', async () => {
  const page = await openPanel(panel);
  await pause(page);
  await page.locator('#tile-other').click();
  await page.locator('.card[data-tile="other"]').getByText('ignored: the component did not act on the press').waitFor();
  await page.getByLabel('new tile name').fill('fresh');
  await page.getByRole('button', { name: 'Create tile' }).click();
  await page.locator('#tile-fresh').waitFor();
  await page.locator('#tile-fresh').click();
  await page.locator('.card[data-tile="fresh"]').getByText('ignored: not bound').waitFor();
  await page.locator('.card[data-tile="fresh"]').getByRole('button', { name: 'Delete' }).click();
  await page.locator('.card[data-tile="fresh"]').getByText('deleted').waitFor();
  await page.close();
});

test('a contact flipped at the facility, a parent command answered, a tile rebound', async () => {
  const page = await openPanel(panel);
  await pause(page);
  const contact = page.getByRole('switch', { name: 'device 12 contact 3' });
  const was = await contact.getAttribute('aria-checked');
  await contact.click();
  await page.getByRole('switch', { name: 'device 12 contact 3', checked: was !== 'true' }).waitFor();
  await transcript(page).getByText(`switch 12 3 ${was === 'true' ? 0 : 1}`).waitFor();
  await page.getByLabel('parent command to one').fill('return=useText');
  await page.locator('.card[data-tile="one"]').getByRole('button', { name: 'Send' }).click();
  await page.locator('.card[data-tile="one"]').getByText('answer: "useText=false"').waitFor();
  await page.getByLabel('rebind two').selectOption('B');
  await page.getByRole('button', { name: 'Studio B' }).nth(1).waitFor();
  await page.getByLabel('rebind two').selectOption('A');
  await page.getByRole('button', { name: 'Studio A' }).nth(1).waitFor();
  await page.close();
});

test('the clock pauses, and advances on request: the tiles poll', async () => {
  const page = await openPanel(panel);
  await pause(page);
  await page.getByRole('button', { name: 'Advance 10 s' }).click();
  await transcript(page).getByText('advance 10s').last().waitFor();
  await transcript(page).getByText('-> GP 20 7 7').last().waitFor();
  await page.close();
});

test('two tabs see the same panel live', async () => {
  const a = await openPanel(panel), b = await openPanel(panel);
  await pause(a);
  await a.getByLabel('parent command to two').fill('return=buttonText');
  await a.locator('.card[data-tile="two"]').getByRole('button', { name: 'Send' }).click();
  await transcript(b).getByText('@two parent return=buttonText').waitFor();
  await a.close();
  await b.close();
});

test('the recording replays and passes under vorn-host run', async () => {
  const page = await openPanel(panel);
  const text = await (await page.request.get(`${panel.url}api/recording`)).text();
  await page.close();
  assert.match(text, /@one press 1 MyContact_Tile\n@one expect GS 12 3 1 1/);
  const file = join(mkdtempSync(join(tmpdir(), 'vorn-panel-')), 'panel.vorn');
  writeFileSync(file, text);
  const runner = process.env.VORN_RUN.split('|');
  const run = spawnSync(runner[0], [...runner.slice(1), 'run', '--quiet', '--plugin', plugin, file], { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stdout + run.stderr);
  assert.match(run.stdout, /1 passed, 0 failed/);
});

test('a scenario opened on the page is replayed there, in a session of its own', async () => {
  const own = await serve(['--plugin', plugin, '--config', config]);
  const page = await openPanel(own);
  const file = join(mkdtempSync(join(tmpdir(), 'vorn-open-')), 'open.vorn');
  writeFileSync(file, '@opened create\n@opened parent useText=true\n@opened parent buttonText=From a file\n@opened parent instance=B\n@opened expect ...\n');
  await page.locator('#open').setInputFiles(file);
  await page.getByRole('button', { name: 'From a file' }).waitFor();
  await page.close();
});

// A request with exactly these headers (fetch would set some of its own).
function raw(port, method, path, body, headers) {
  return new Promise((resolve, reject) => {
    const req = request({ host: '127.0.0.1', port, method, path, headers: { 'Content-Length': Buffer.byteLength(body), ...headers } },
      (res) => {
        let text = '';
        res.on('data', (d) => { text += d; });
        res.on('end', () => resolve({ status: res.statusCode, text }));
      });
    req.on('error', reject);
    req.end(body);
  });
}

test('requests from elsewhere are refused; malformed ones get a 4xx with a reason', async () => {
  const p = panel.port;
  const own = { Host: `127.0.0.1:${p}`, Origin: `http://127.0.0.1:${p}` };
  let r = await raw(p, 'POST', '/api/step', 'create', { ...own, Origin: 'http://evil.example' });
  assert.equal(r.status, 403);
  assert.match(r.text, /refused: a change comes only from the panel's own page/);
  r = await raw(p, 'POST', '/api/step', 'create', { Host: own.Host });
  assert.equal(r.status, 403);
  r = await raw(p, 'GET', '/api/state', '', { Host: `rebound.example:${p}` });
  assert.equal(r.status, 403);
  r = await raw(p, 'POST', '/api/step', 'press 1', own);
  assert.equal(r.status, 400);
  assert.match(r.text, /expected 'press PANEL CONTROL'/);
  r = await raw(p, 'POST', '/api/clock', 'sideways', own);
  assert.equal(r.status, 400);
  r = await raw(p, 'GET', '/nothing-here', '', { Host: own.Host });
  assert.equal(r.status, 404);
  // A POST without a body and without its length is answered at once, not read until a timeout.
  const started = Date.now();
  r = await new Promise((resolve, reject) => {
    const socket = connect(p, '127.0.0.1', () => {
      socket.write(`POST /api/restart HTTP/1.1\r\nHost: ${own.Host}\r\nOrigin: ${own.Origin}\r\n\r\n`);
    });
    let text = '';
    socket.on('data', (d) => {
      text += d;
      const m = /^HTTP\/1\.1 (\d+)/.exec(text);
      if (m) {
        socket.destroy();
        resolve({ status: Number(m[1]) });
      }
    });
    socket.on('error', reject);
  });
  assert.equal(r.status, 411);
  assert.ok(Date.now() - started < 2000);
});

test('a second server on the same port fails with a message', async () => {
  const second = spawnSync(host[0], [...host.slice(1), 'serve', '--port', String(panel.port), '--plugin', plugin], { encoding: 'utf8' });
  assert.equal(second.status, 2);
  assert.match(second.stderr, /cannot listen on 127\.0\.0\.1:\d+/);
});

test('a plug-in that crashes does not take the server down: the page shows it and restarts', async () => {
  const crashing = await serve(['--plugin', process.env.VORN_CRASH_PLUGIN, '--config', config]);
  const page = await openPanel(crashing);
  await pause(page);
  await page.getByLabel('parent command to one').fill('crash');
  await page.locator('.card[data-tile="one"]').getByRole('button', { name: 'Send' }).click();
  const alert = page.getByRole('alert');
  await alert.getByText(/the plug-in crashed \((signal 11|exception 0xc0000005)\) in the step '@one parent crash'/).waitFor();
  await alert.getByRole('button', { name: 'Restart' }).click();
  await alert.waitFor({ state: 'hidden' });
  await transcript(page).getByText(/restarted: \d+ steps run again/).waitFor();
  await page.close();
});

// Qt style sheets as the page shows them: each sheet, applied to a tile, against the CSS the
// browser computed from the translation; and what cannot be shown is named.
test('a plug-in that hangs is ended after --timeout, and the page says so', async () => {
  const hanging = await serve(['--plugin', process.env.VORN_HANG_PLUGIN, '--config', config, '--timeout', '2']);
  const page = await openPanel(hanging);
  await pause(page);
  await page.getByLabel('parent command to one').fill('hang');
  await page.locator('.card[data-tile="one"]').getByRole('button', { name: 'Send' }).click();
  await page.getByRole('alert').getByText("the plug-in did not return within 2 s in the step '@one parent hang'").waitFor();
  await page.close();
});

test('listening beyond this machine is warned of', async () => {
  const open = await serve(['--plugin', plugin, '--listen', '0.0.0.0']);
  await new Promise((resolve) => setTimeout(resolve, 200));
  assert.match(open.output(), /warning: listening on 0\.0\.0\.0: other machines can reach this panel/);
});

test('Qt style sheets become CSS, and what has no CSS form is listed', async () => {
  const page = await openPanel(panel);
  const rows = [
    ['background: red', 'backgroundColor', 'rgb(255, 0, 0)'],
    ['QPushButton { border-radius: 6px }', 'borderTopLeftRadius', '6px'],
    ['QPushButton { color: rgba(0, 0, 255, 51) }', 'color', 'rgba(0, 0, 255, 0.2)'],
    ['background-color: rgba(10, 20, 30, 50%)', 'backgroundColor', 'rgba(10, 20, 30, 0.5)'],
    ['color: hsv(120, 255, 255)', 'color', 'rgb(0, 255, 0)'],
    ['color: hsva(240, 255, 255, 255)', 'color', 'rgb(0, 0, 255)'],
    ['opacity: 51', 'opacity', '0.2'],
    ['background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 white, stop:1 black)', 'backgroundImage',
     'linear-gradient(rgb(255, 255, 255) 0%, rgb(0, 0, 0) 100%)'],
    ['background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 red, stop:0.5 rgba(0, 0, 255, 255), stop:1 lime)',
     'backgroundImage', 'linear-gradient(90deg, rgb(255, 0, 0) 0%, rgb(0, 0, 255) 50%, rgb(0, 255, 0) 100%)'],
  ];
  const seen = await page.evaluate((rows) => rows.map(([sheet, property]) => {
    const el = document.createElement('button');
    el.id = 'sheet-probe';
    document.body.append(el);
    const style = document.createElement('style');
    style.textContent = qtSheetToCss(sheet, el.id).css;
    document.head.append(style);
    const value = getComputedStyle(el)[property];
    style.remove();
    el.remove();
    return value;
  }), rows);
  assert.deepEqual(seen, rows.map((r) => r[2]));
  const pressed = await page.evaluate(() => qtSheetToCss('QPushButton:pressed { background: blue }', 't').css);
  assert.equal(pressed, '#t:active { background: blue }');
  const unshown = await page.evaluate(() => qtSheetToCss(
    'QPushButton::menu-indicator { image: none } QPushButton { color: palette(dark); qproperty-flat: true; image: url(a.png); border: 1px solid red }',
    't'));
  assert.deepEqual(unshown.unshown, ['QPushButton::menu-indicator (a sub-control)', 'color: palette(dark)',
                                     'qproperty-flat: true', 'image: url(a.png)']);
  assert.equal(unshown.css, '#t { border: 1px solid red }');
  await page.close();
});

test('the transcript shows all tiles, or one', async () => {
  const page = await openPanel(panel);
  await pause(page);
  await page.getByLabel('show the transcript of').selectOption('other');
  const lines = transcript(page).locator('.line:visible');
  const tiles = await lines.evaluateAll((ls) => [...new Set(ls.map((l) => l.dataset.tile))]);
  assert.ok(tiles.every((t) => t === 'other' || t === ''), tiles.join(','));
  await page.getByLabel('show the transcript of').selectOption('*');
  await page.close();
});

test('any component is drawn from what it does: its notifications, every contact it registered', async () => {
  const lamp = await serve(['--plugin', process.env.VORN_LAMP_PLUGIN, '--config', join(here, 'lamp.ini')]);
  const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
  await page.goto(lamp.url);
  await pause(page);
  const card = page.locator('.card[data-tile="cam"]');
  await card.getByText('CamA (device 12 contacts 3-4)').waitFor();
  await card.getByText('12/3 off, 12/4 off').waitFor();
  await card.getByText('last TALLY').waitFor();
  await card.getByText('idle', { exact: true }).waitFor();
  // The second contact of the range is named by no instance of its own, and flips too.
  const preview = page.getByRole('switch', { name: 'device 12 contact 4' });
  await preview.click();
  await card.getByText('12/3 off, 12/4 on').waitFor();
  await card.getByText('preview', { exact: true }).waitFor();
  // A press it does not act on is said without any component's setting names.
  await page.locator('#tile-cam').click();
  await card.getByText('ignored: the component did not act on the press').waitFor();
  await page.close();
});
