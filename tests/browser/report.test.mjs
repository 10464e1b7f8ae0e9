// The report a validation writes for a person (report.html), opened from its file in Debian's
// Chromium: verdicts, each failure's shrunk steps, what the plug-in did, the replay command.
// Environment: VORN_HOST (words split on '|'), VORN_FAULTY_PLUGIN (faulty_words: 'dimmer=0'
// sends a malformed command),
// CHROMIUM, SCREENSHOT (where the README's picture of it is written, if anywhere).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const host = (process.env.VORN_HOST || '').split('|');
let browser, out;

before(async () => {
  out = join(mkdtempSync(join(tmpdir(), 'vorn-report-')), 'out');
  const run = spawnSync(host[0], [...host.slice(1), 'validate', '--seed', '3', '--iterations', '20', '--out', out,
                                  process.env.VORN_FAULTY_PLUGIN], { encoding: 'utf8' });
  assert.equal(run.status, 1, run.stdout + run.stderr);
  assert.ok(existsSync(join(out, 'report.html')), run.stdout);
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
});

test('the report shows each verdict, and each failure with its shrunk steps and its replay', async () => {
  const page = await browser.newPage({ viewport: { width: 1100, height: 900 } });
  const requests = [];
  page.on('request', (r) => { if (!r.url().startsWith('file:')) requests.push(r.url()); });
  await page.goto(pathToFileURL(join(out, 'report.html')).href);
  assert.match(await page.title(), /^vorn-host validate: .*faulty_words/);
  assert.equal(await page.locator('#summary').textContent(), '7 passed, 5 failed, 1 skipped');
  const row = page.getByRole('row').filter({ has: page.getByRole('cell', { name: 'many-alive', exact: true }) });
  assert.equal(await row.locator('.outcome').textContent(), 'failed');
  // A failed verdict is red; the link leads to its failure.
  assert.equal(await row.locator('.outcome').evaluate((e) => getComputedStyle(e).color), 'rgb(196, 38, 46)');
  await row.getByRole('link', { name: 'many-alive' }).click();
  const failure = page.locator('section#many-alive');
  await failure.getByText('Shrunk from').waitFor();
  assert.match(await failure.locator('h2').textContent(), /^many-alive: breach \[grammar\]$/);
  assert.equal(await failure.locator('pre.steps').textContent(), 'create\nparent dimmer=0\n');
  assert.equal(await failure.locator('pre.transcript').textContent(), "command HN 'dark\nanswer ok\n");
  assert.match(await failure.locator('pre.replay').textContent(), /^vorn-host run --plugin .*faulty_words.* .*many-alive-seed3-component-0\.vorn$/);
  assert.deepEqual(requests, [], 'the report loads nothing from elsewhere');
  if (process.env.SCREENSHOT) await page.screenshot({ path: process.env.SCREENSHOT, fullPage: true });
  await page.close();
});
