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
import { writeFileSync, mkdtempSync, copyFileSync, renameSync } from 'node:fs';
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

// Selects a tile by the name under it: the inspector then shows its facts and actions.
async function inspect(page, name) {
  await page.getByRole('button', { name: `inspect ${name}`, exact: true }).click();
  const box = page.locator(`#inspector[data-tile="${name}"]`);
  await box.waitFor();
  return box;
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
  const card = (await inspect(page, 'one'));
  await assert.doesNotReject(card.getByText('A (device 12 contact 3)').waitFor());
  await assert.doesNotReject(card.getByText('12/3 off', { exact: true }).waitFor());
  if (process.env.SCREENSHOT) {
    await page.setViewportSize({ width: 1000, height: 640 });
    await page.screenshot({ path: process.env.SCREENSHOT });
  }
  await page.close();
});

test('a click or a key presses a tile; both tiles on the contact follow; the transcript shows it', async () => {
  const page = await openPanel(panel);
  await pause(page);
  await page.locator('#tile-one').click();
  await transcript(page).getByText('-> GS 12 3 1 1').first().waitFor();
  await page.waitForFunction(() => getComputedStyle(document.getElementById('tile-one')).backgroundColor === 'rgb(255, 0, 0)');
  await (await inspect(page, 'two')).getByText('12/3 on', { exact: true }).waitFor();
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
  await (await inspect(tapped, 'one')).getByText('12/3 on', { exact: true }).waitFor();
  await touch.close();
});

test('a press the tile ignores says why', async () => {
  const page = await openPanel(panel);
  await pause(page);
  await page.locator('#tile-other').click();
  await (await inspect(page, 'other')).getByText('ignored: the component did not act on the press').waitFor();
  await page.getByLabel('new tile name').fill('fresh');
  await page.getByRole('button', { name: 'Create tile' }).click();
  await page.locator('#tile-fresh').waitFor();
  await page.locator('#tile-fresh').click();
  await (await inspect(page, 'fresh')).getByText('ignored: not bound').waitFor();
  await (await inspect(page, 'fresh')).getByRole('button', { name: 'Delete' }).click();
  await (await inspect(page, 'fresh')).getByText('deleted').waitFor();
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
  await inspect(page, 'one');
  await page.getByLabel('parent command to one').fill('return=useText');
  await (await inspect(page, 'one')).getByRole('button', { name: 'Send' }).click();
  await (await inspect(page, 'one')).getByText('answer: "useText=false"').waitFor();
  await inspect(page, 'two');
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
  await inspect(a, 'two');
  await a.getByLabel('parent command to two').fill('return=buttonText');
  await (await inspect(a, 'two')).getByRole('button', { name: 'Send' }).click();
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
  // A script's request (no Origin: not a browser's) is answered, as the README's curl examples.
  r = await raw(p, 'POST', '/api/step', '@scripted create', { Host: own.Host });
  assert.equal(r.status, 200, r.text);
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
  await inspect(page, 'one');
  await page.getByLabel('parent command to one').fill('crash');
  await (await inspect(page, 'one')).getByRole('button', { name: 'Send' }).click();
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
  await inspect(page, 'one');
  await page.getByLabel('parent command to one').fill('hang');
  await (await inspect(page, 'one')).getByRole('button', { name: 'Send' }).click();
  await page.getByRole('alert').getByText("the plug-in did not return within 2 s in the step '@one parent hang'").waitFor();
  await page.close();
});

test('listening beyond this machine is warned of', async () => {
  const open = await serve(['--plugin', plugin, '--listen', '0.0.0.0']);
  await new Promise((resolve) => setTimeout(resolve, 200));
  assert.match(open.output(), /warning: listening on 0\.0\.0\.0: other machines can reach this panel/);
});

// Qt style sheets as the page draws them: each sheet, applied to a tile of its widget type,
// against what the browser computed from the translation (null: as if there were no sheet);
// and what is not drawn is named with its reason.
test('Qt style sheets are drawn as the client draws them, by widget type, and what is not drawn is listed', async () => {
  const page = await openPanel(panel);
  const B = 'QPushButton', L = 'QLabel';
  const rows = [
    ['background: red', B, 'backgroundColor', 'rgb(255, 0, 0)'],
    ['QPushButton { border-radius: 6px }', B, 'borderTopLeftRadius', '6px'],
    ['QPushButton { color: rgba(0, 0, 255, 51) }', B, 'color', 'rgba(0, 0, 255, 0.2)'],
    ['background-color: rgba(10, 20, 30, 50%)', B, 'backgroundColor', 'rgba(10, 20, 30, 0.5)'],
    ['color: hsv(120, 255, 255)', B, 'color', 'rgb(0, 255, 0)'],
    ['color: hsva(240, 255, 255, 255)', B, 'color', 'rgb(0, 0, 255)'],
    ['color: hsl(0, 255, 127.5)', B, 'color', 'rgb(255, 0, 0)'],
    ['color: hsla(240, 100%, 50%, 51)', B, 'color', 'rgba(0, 0, 255, 0.2)'],
    ['color: #0f0', B, 'color', 'rgb(0, 255, 0)'],
    ['color: #330000ff', B, 'color', 'rgba(0, 0, 255, 0.2)'],
    ['color: darkred', B, 'color', 'rgb(139, 0, 0)'],
    ['opacity: 51', B, 'opacity', '0.2'],
    ['background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 white, stop:1 black)', B, 'backgroundImage',
     'linear-gradient(rgb(255, 255, 255) 0%, rgb(0, 0, 0) 100%)'],
    ['background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 red, stop:0.5 rgba(0, 0, 255, 255), stop:1 lime)', B,
     'backgroundImage', 'linear-gradient(90deg, rgb(255, 0, 0) 0%, rgb(0, 0, 255) 50%, rgb(0, 255, 0) 100%)'],
    ['background: qradialgradient(cx:0.25, cy:0.5, radius:0.5, fx:0.25, fy:0.5, stop:0 white, stop:1 black)', B,
     'backgroundImage', 'radial-gradient(50% 50% at 25% 50%, rgb(255, 255, 255) 0%, rgb(0, 0, 0) 100%)'],
    ['background: qconicalgradient(cx:0.5, cy:0.25, angle:0, stop:0 red, stop:1 blue)', B, 'backgroundImage',
     'conic-gradient(from 90deg at 50% 25%, rgb(0, 0, 255) 0%, rgb(255, 0, 0) 100%)'],
    // The font shorthand as Qt reads it: a family may be left out.
    ['font: bold 16px', B, 'fontWeight', '700'],
    ['font: bold 16px', B, 'fontSize', '16px'],
    ['QLabel { font: italic 600 12pt "DejaVu Sans" }', L, 'fontStyle', 'italic'],
    ['QLabel { font: italic 600 12pt "DejaVu Sans" }', L, 'fontFamily', '"DejaVu Sans"'],
    // A type selector holds for its widget and those it derives from, and for no other.
    ['QLabel { background: yellow }', B, 'backgroundColor', null],
    ['QLabel { background: yellow }', L, 'backgroundColor', 'rgb(255, 255, 0)'],
    ['QPushButton { background: yellow }', L, 'backgroundColor', null],
    ['QAbstractButton { background: yellow }', B, 'backgroundColor', 'rgb(255, 255, 0)'],
    ['QFrame { color: red }', L, 'color', 'rgb(255, 0, 0)'],
    ['QFrame { color: red }', B, 'color', null],
    ['QWidget { color: red }', L, 'color', 'rgb(255, 0, 0)'],
    ['* { color: red }', B, 'color', 'rgb(255, 0, 0)'],
    ['QPushButton:enabled { color: red }', B, 'color', 'rgb(255, 0, 0)'],
    ['QPushButton:!checked { color: red }', B, 'color', 'rgb(255, 0, 0)'],
    ['QPushButton:checked { color: red }', B, 'color', null],
    // A file of the panel's folder (the configuration's), served beside the page.
    ['image: url(red.png)', B, 'backgroundImage', `url("${panel.url}files/red.png")`],
    ['QLabel { border-image: url(red.png) 2 2 2 2 }', L, 'borderImageSource', `url("${panel.url}files/red.png")`],
    ['QLabel { border-image: url(red.png) 2 2 2 2 }', L, 'borderTopWidth', '2px'],
  ];
  await page.waitForFunction(() => (state.files || []).includes('red.png'));
  const seen = await page.evaluate((rows) => rows.map(([sheet, widget, property]) => {
    const probe = () => {
      const el = document.createElement(widget === 'QLabel' ? 'span' : 'button');
      el.id = 'sheet-probe';
      document.body.append(el);
      return el;
    };
    let el = probe();
    const plain = getComputedStyle(el)[property];
    el.remove();
    el = probe();
    const style = document.createElement('style');
    style.textContent = qtSheetToCss(sheet, el.id, widget, state.files).css;
    document.head.append(style);
    const value = getComputedStyle(el)[property];
    style.remove();
    el.remove();
    return value === plain ? null : value;
  }), rows);
  assert.deepEqual(seen.map((v, i) => [rows[i][0], rows[i][1], rows[i][2], v]), rows);
  const css = (sheet, widget) => page.evaluate(([s, w]) => qtSheetToCss(s, 't', w).css, [sheet, widget]);
  assert.equal(await css('QPushButton:pressed { background: blue }', B), '#t:active { background: blue }');
  assert.equal(await css('QPushButton:!pressed:hover { background: blue }', B), '#t:not(:active):hover { background: blue }');
  assert.equal(await css('QLabel:hover { color: red }', L), '#t:hover { color: red }');
  // What is not drawn, each with why.
  const unshown = await page.evaluate(() => qtSheetToCss(
    'QPushButton::menu-indicator { image: none } QLabel:pressed { color: red } QPushButton:checked { color: red } ' +
    'QWidget QLabel { color: red } QPushButton#go { color: red } QLabel { color: red } ' +
    'QPushButton { color: palette(dark); qproperty-flat: true; image: url(a.png); border-image: url(:/b.png) 1 1 1 1; ' +
    'subcontrol-origin: margin; selection-color: red; colour: red; ' +
    'background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.2, fy:0.2, spread:reflect, stop:0 red, stop:1 blue); border: 1px solid red }',
    't', 'QPushButton', ['red.png']));
  assert.deepEqual(unshown.unshown, [
    'QPushButton::menu-indicator (a sub-control)',
    'QLabel:pressed (for QLabel; this tile is a QPushButton)',
    'QPushButton:checked (:checked never holds for a QPushButton: a tile is not checkable)',
    'QWidget QLabel (a selector of widgets inside; a tile has none)',
    "QPushButton#go (an object name: the client's names are not known here)",
    'QLabel (for QLabel; this tile is a QPushButton)',
    "color: palette(dark) (a colour of the client's palette)",
    'qproperty-flat: true (a property of the widget, not a look)',
    "url(a.png) (no such file in the panel's folder)",
    'url(:/b.png) (a file compiled into the client, not on disk)',
    'subcontrol-origin: margin (for sub-controls)',
    'selection-color: red (a tile has no selected text)',
    'colour: red (not a Qt style property)',
    'spread:reflect (drawn as spread:pad)',
    "a radial gradient's focal point (drawn from its centre)",
  ]);
  assert.match(unshown.css, /^#t \{ background: radial-gradient\(.*\); border: 1px solid red \}$/);
  // The inspector lists them for its tile; the tile's name is marked.
  const other = await inspect(page, 'other');
  await other.getByRole('list', { name: 'not drawn' }).getByText('QLabel (for QLabel; this tile is a QPushButton)').waitFor();
  assert.equal(await page.locator('.cell[data-tile="other"].has-unshown').count(), 1);
  assert.equal(await page.locator('.cell[data-tile="one"].has-unshown').count(), 0);
  const image = await page.request.get(`${panel.url}files/red.png`);
  assert.equal(image.headers()['content-type'], 'image/png');
  assert.equal((await page.request.get(`${panel.url}files/panel.ini`)).status(), 404);
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
  const card = (await inspect(page, 'cam'));
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

// A panel of 200 tiles in the file's order, some on, some off, some bound to nothing.
function bigPanel() {
  let ini = '';
  for (let i = 0; i < 200; ++i) ini += `[instances.I${i}]\ndevice = 1\ncontact = ${i + 1}\nidtext = Tile ${i}\n`;
  ini += '[devices.1]\n1 = 1\n';
  for (let i = 0; i < 200; ++i) {
    ini += `[tiles.t${i}]\n`;
    if (i !== 2) ini += `instance = I${i}\n`;
    // Settings in the file's order, which is not the alphabet's.
    ini += 'onState = "background: #1e9e3e"\noffState = "background: #444444"\n';
  }
  const file = join(mkdtempSync(join(tmpdir(), 'vorn-big-')), 'big.ini');
  writeFileSync(file, ini);
  return file;
}

test('the panel: a dense grid in the file order, each tile marked on, off or unknown, an inspector, keys', async () => {
  const big = await serve(['--plugin', plugin, '--config', bigPanel()]);
  const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
  await page.goto(big.url);
  await page.locator('#tile-t199').waitFor();
  await pause(page);
  const names = await page.locator('.cell').evaluateAll((cells) => cells.map((c) => c.dataset.tile));
  assert.deepEqual(names, Array.from({ length: 200 }, (_, i) => `t${i}`));
  // At least 48 tiles whole within the window.
  const whole = await page.locator('.cell').evaluateAll((cells) => cells.filter((c) => {
    const r = c.getBoundingClientRect();
    return r.top >= 0 && r.left >= 0 && r.bottom <= innerHeight && r.right <= innerWidth;
  }).length);
  assert.ok(whole >= 48, `${whole} tiles in view`);
  // The mark does not depend on the looks: on, off, and unknown for the tile bound to nothing.
  const mark = (name) => page.locator(`.cell[data-tile="${name}"] .mark`).getAttribute('aria-label');
  assert.deepEqual([await mark('t0'), await mark('t1'), await mark('t2')], ['contact on', 'contact off', 'contact unknown']);
  const colour = (name) => page.locator(`.cell[data-tile="${name}"] .mark`).evaluate((e) => getComputedStyle(e).backgroundColor);
  assert.notEqual(await colour('t0'), await colour('t1'));
  // The inspector shows the selected tile only; the arrow keys move the selection over the grid.
  assert.equal(await page.locator('#inspector').getAttribute('data-tile'), 't0');
  await page.locator('#tile-t0').focus();
  await page.keyboard.press('ArrowRight');
  await page.locator('#inspector[data-tile="t1"]').waitFor();
  const columns = await page.locator('.cell').evaluateAll((cells) => cells.filter((c) => c.offsetTop === cells[0].offsetTop).length);
  await page.keyboard.press('ArrowDown');
  await page.locator(`#inspector[data-tile="t${1 + columns}"]`).waitFor();
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('ArrowLeft');
  await page.locator('#inspector[data-tile="t0"]').waitFor();
  // Space presses the selected tile: its contact goes off, its mark with it.
  await page.keyboard.press('Space');
  await transcript(page).getByText('@t0 press 1 MyContact_Tile').waitFor();
  await page.locator('.cell[data-tile="t0"][data-contact="off"]').waitFor();
  // The recording sends the settings as the file gives them.
  const recording = await (await page.request.get(`${big.url}api/recording`)).text();
  assert.ok(recording.indexOf('@t1 parent onState=') < recording.indexOf('@t1 parent offState='));
  // Phone width: nothing overflows sideways.
  await page.setViewportSize({ width: 420, height: 800 });
  assert.ok(await page.evaluate(() => document.scrollingElement.scrollWidth <= 420));
  await page.close();
});

test('a scenario opened on the page says how it went, finds its files beside the panel, and is left again', async () => {
  const own = await serve(['--plugin', plugin, '--config', config]);
  const page = await openPanel(own);
  const folder = mkdtempSync(join(tmpdir(), 'vorn-open-'));
  // Its configuration is named as in its own folder: the panel's folder, for a file the page opens.
  const file = join(folder, 'failing.vorn');
  writeFileSync(file, 'config panel.ini\n@x create\n@x parent instance=A\n@x expect ...\n@x parent return=useText\n@x expect answer useText=true\n');
  await page.locator('#open').setInputFiles(file);
  const banner = page.locator('#scenario');
  await banner.getByText(/Scenario failing\.vorn: failed \(1\)\. First: line 6: /).waitFor();
  await page.locator('#tile-x').waitFor();
  // Each step's output once: an expectation after it does not print it again.
  const ofX = (text) => transcript(page).locator('.line[data-tile="x"]', { hasText: text }).count();
  assert.equal(await ofX('<= answer "useText=false"'), 1);
  assert.equal(await ofX('-> ET 1 10000'), 1);
  await page.getByRole('button', { name: 'Back to the panel' }).click();
  await banner.waitFor({ state: 'hidden' });
  await page.locator('#tile-one').waitFor();
  assert.equal(await page.locator('#tile-x').count(), 0);
  writeFileSync(file, 'config panel.ini\n@x create\n@x parent instance=A\n@x expect ...\n');
  await page.locator('#open').setInputFiles(file);
  await banner.getByText('Scenario failing.vorn: passed').waitFor();
  await page.close();
});

test('a refused step is not recorded: the recording replays', async () => {
  const own = await serve(['--plugin', plugin, '--config', config]);
  const page = await openPanel(own);
  await pause(page);
  const refused = await page.request.post(`${own.url}api/step`, { data: '@Nobody press 1 X', headers: { Origin: own.url.slice(0, -1) } });
  assert.match(await refused.text(), /needs a live component/);
  await page.locator('#tile-one').click();
  await transcript(page).getByText('@one press 1 MyContact_Tile').waitFor();
  const text = await (await page.request.get(`${own.url}api/recording`)).text();
  assert.doesNotMatch(text, /Nobody/);
  const file = join(mkdtempSync(join(tmpdir(), 'vorn-refused-')), 'panel.vorn');
  writeFileSync(file, text);
  const runner = process.env.VORN_RUN.split('|');
  const run = spawnSync(runner[0], [...runner.slice(1), 'run', '--quiet', '--plugin', plugin, file], { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stdout + run.stderr);
  await page.close();
});

test('the transcript: quiet time in one line, every line names its tile, what is kept is said', async () => {
  const own = await serve(['--plugin', plugin, '--config', config]);
  const page = await openPanel(own);
  // The clock runs: a second passes each second, and the seconds in which nothing happened
  // grow one line.
  await transcript(page).getByText(/^advance [2-9]s \(nothing happened\)$/).first().waitFor({ timeout: 15000 });
  const plain = await transcript(page).locator('.line').evaluateAll((ls) => ls.filter((l) => l.textContent === 'advance 1s').length);
  const quiet = await transcript(page).locator('.line.quiet').count();
  assert.ok(quiet >= 1);
  // Every line of what a tile did names the tile.
  const unnamed = await transcript(page).locator('.line.event').evaluateAll((ls) => ls.filter((l) => !/^@\S+ /.test(l.textContent)).map((l) => l.textContent));
  assert.deepEqual(unnamed, []);
  await transcript(page).locator('.line.event', { hasText: '@one   -> GP 12 3 3' }).first().waitFor({ timeout: 15000 });
  await page.locator('#kept').getByText(/Showing the last \d+ lines \(at most 1000 here; the server keeps 5000\)\. Restart runs again \d+ steps\./).waitFor();
  assert.ok(plain <= 3, `${plain} single seconds`);
  await page.close();
});

test('scripts drive the panel over HTTP: tiles and the facility as JSON, steps by tile name, an event stream', async () => {
  const own = await serve(['--plugin', plugin, '--config', config]);
  const page = await openPanel(own);
  await pause(page);
  const api = (path, init) => fetch(`${own.url}api/${path}`, init);
  const one = await (await api('tiles/one')).json();
  assert.equal(one.label, 'Studio A');
  assert.deepEqual(one.bound, [[12, 3, 3]]);
  assert.equal((await api('tiles/nobody')).status, 404);
  const facility = await (await api('facility')).json();
  assert.deepEqual(facility.instances, ['A', 'B']);
  // Events of the stream while a script presses: the page follows.
  const stream = await api('events');
  const reader = stream.body.getReader();
  const pressed = await (await api('tiles/one/press', { method: 'POST', body: '' })).json();
  assert.equal(pressed.step, '@one press 1 MyContact_Tile');
  assert.ok(pressed.lines.some((l) => l.text === '  -> GS 12 3 1 1'), JSON.stringify(pressed));
  let seen = '';
  while (!/"GPIvalue=1"/.test(seen)) seen += new TextDecoder().decode((await reader.read()).value);
  await reader.cancel();
  await page.waitForFunction(() => getComputedStyle(document.getElementById('tile-one')).backgroundColor === 'rgb(255, 0, 0)');
  const answered = await (await api('tiles/one/parent', { method: 'POST', body: 'return=useText' })).json();
  assert.deepEqual(answered.answers, [{ tile: 'one', text: 'useText=false' }]);
  await (await api('contacts/12/3', { method: 'POST', body: 'off' })).json();
  await page.locator('.cell[data-tile="one"][data-contact="off"]').waitFor();
  assert.equal((await api('contacts/12/3', { method: 'POST', body: 'sideways' })).status, 400);
  // Another site's page is refused.
  assert.equal((await api('tiles/one/press', { method: 'POST', body: '', headers: { Origin: 'http://evil.example' } })).status, 403);
  await page.close();
});

test('a rebuilt plug-in file is offered, and loaded in one click with the session replayed', async () => {
  const folder = mkdtempSync(join(tmpdir(), 'vorn-rebuild-'));
  const copy = join(folder, 'Contact_Tile' + (plugin.endsWith('.dll') ? '.dll' : '.so'));
  copyFileSync(plugin, copy);
  const own = await serve(['--plugin', copy, '--config', config]);
  const page = await openPanel(own);
  await pause(page);
  await page.locator('#tile-one').click();
  await transcript(page).getByText('@one press 1 MyContact_Tile').waitFor();
  assert.ok(await page.locator('#rebuilt').isHidden());
  // A rebuild writes a new file in the old one's place.
  copyFileSync(plugin, `${copy}.new`);
  renameSync(`${copy}.new`, copy);
  await page.getByRole('button', { name: 'Load the new build' }).click({ timeout: 10000 });
  await transcript(page).getByText(/restarted: \d+ steps run again on the rebuilt plug-in file/).waitFor();
  await page.locator('#rebuilt').waitFor({ state: 'hidden' });
  // The panel is as it was: its tiles, and the press that turned the contact on.
  await page.locator('.cell[data-tile="one"][data-contact="on"]').waitFor();
  assert.equal(await page.locator('.cell').count(), 4);
  await page.close();
});

test('a configuration with mistakes is served with each said, and a setting the component lacks is named', async () => {
  const typos = join(here, '..', 'scenarios', 'check_typos.ini');
  const own = await serve(['--plugin', plugin, '--config', typos]);
  assert.match(own.output(), /warning: .*check_typos.ini:3: \[instances.A\] devcie: no reader knows this attribute \(did you mean 'device'\?\)/);
  const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
  await page.goto(own.url);
  await page.locator('#tile-two').waitFor();
  await pause(page);
  await page.getByText('The configuration has 8 problems (as vorn-host check reports them)').click();
  await page.getByRole('list', { name: 'configuration problems' }).getByText(/check_typos.ini:18: \[tiles.one\] useButon: the component has no such setting \(did you mean 'useButton'\?\)/).waitFor();
  const two = await inspect(page, 'two');
  await page.getByLabel('parent command to two').fill('sendgpi=false');
  await two.getByRole('button', { name: 'Send' }).click();
  await two.getByText("no answer: the component has no setting 'sendgpi' (did you mean 'sendGPI'?)").waitFor();
  await page.getByLabel('parent command to two').fill('sendGPI=false');
  await two.getByRole('button', { name: 'Send' }).click();
  await two.getByText('no answer', { exact: true }).waitFor();
  await page.close();
});
