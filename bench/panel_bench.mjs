// What the web panel costs (`make bench-panel`; not part of the tests):
//  - the time from a click on a tile to its line in the transcript, in the page;
//  - the CPU that vorn-host (the server and the session's process) uses while a panel of 200
//    tiles runs in real time, each tile polling its contact every 10 s, with the page open.
// Usage: node bench/panel_bench.mjs VORN_HOST PLUGIN
import { spawn } from 'node:child_process';
import { mkdtempSync, writeFileSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createRequire } from 'node:module';

const require = createRequire(join(process.cwd(), 'tests/browser/package.json'));
const { chromium } = require('playwright-core');
const [host, plugin] = process.argv.slice(2);
const tiles = 200, clicks = 30, seconds = 30;

let ini = '';
for (let i = 0; i < tiles; ++i)
  ini += `[instances.I${i}]\ndevice = 1\ncontact = ${i + 1}\nidtext = Tile ${i}\n[tiles.t${i}]\ninstance = I${i}\n`;
const config = join(mkdtempSync(join(tmpdir(), 'vorn-bench-')), 'panel.ini');
writeFileSync(config, ini);

const server = spawn(host, ['serve', '--port', '0', '--plugin', plugin, '--config', config], { stdio: ['ignore', 'pipe', 'inherit'] });
const url = await new Promise((resolve) => {
  let out = '';
  server.stdout.on('data', (d) => {
    out += d;
    const m = /serving (\S+)/.exec(out);
    if (m) resolve(m[1]);
  });
});

// CPU seconds of a process and its children, from /proc.
function cpu(pid) {
  const tick = 100; // USER_HZ
  let total = 0;
  try {
    const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
    total += (Number(fields[11]) + Number(fields[12])) / tick;
    for (const task of readFileSync(`/proc/${pid}/task/${pid}/children`, 'utf8').trim().split(/\s+/).filter(Boolean))
      total += cpu(task);
  } catch {
    // it ended
  }
  return total;
}

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update'],
});
const page = await browser.newPage({ viewport: { width: 1600, height: 1000 } });
await page.goto(url);
await page.locator(`#tile-t${tiles - 1}`).waitFor({ timeout: 120000 });

// Real time first, the page open: the CPU of vorn-host.
const before = cpu(server.pid);
await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
const used = cpu(server.pid) - before;

// Then paused: clicks, each timed from the click to its line in the transcript.
await page.locator('#clock-toggle').click();
await page.locator('#clock-toggle', { hasText: 'Run clock' }).waitFor();
const times = [];
for (let i = 0; i < clicks; ++i) {
  times.push(await page.evaluate(async (name) => {
    const box = document.getElementById('transcript');
    const start = performance.now();
    await new Promise((resolve) => {
      const watch = new MutationObserver((changes) => {
        for (const change of changes)
          for (const line of change.addedNodes)
            if (line.textContent === `@${name} press 1 MyContact_Tile`) {
              watch.disconnect();
              resolve();
              return;
            }
      });
      watch.observe(box, { childList: true });
      document.getElementById(`tile-${name}`).click();
    });
    return performance.now() - start;
  }, `t${i % tiles}`));
}
times.sort((a, b) => a - b);
const at = (q) => times[Math.min(times.length - 1, Math.floor(q * times.length))].toFixed(1);
console.log(`click to transcript line: median ${at(0.5)} ms, 90th percentile ${at(0.9)} ms, max ${at(1)} ms (${clicks} clicks, ${tiles} tiles)`);
console.log(`vorn-host CPU with ${tiles} tiles polling in real time, the page open: ${(100 * used / seconds).toFixed(1)} % of one core (${used.toFixed(2)} s in ${seconds} s)`);
await browser.close();
server.kill();
