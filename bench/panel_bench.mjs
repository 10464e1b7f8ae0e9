// What the web panel costs (`make bench-panel`; not part of the tests), on a panel of 200
// tiles, each with an on look and an off look, in Debian's Chromium:
//  - the time from a click on a tile to the frame in which its look has changed (the page's
//    own clock: the click's time to the first animation frame that sees the new colour);
//  - the CPU of vorn-host (the server and the session's process, from /proc) and of the page
//    (its main thread's task time, from the browser) per second of real time: idle (the clock
//    paused), then while the 200 tiles poll their contacts in real time.
// Usage: node bench/panel_bench.mjs VORN_HOST PLUGIN
// Prints one table; exits 1 when the click's median is over 25 ms or its maximum over 100 ms.
import { spawn } from 'node:child_process';
import { mkdtempSync, writeFileSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createRequire } from 'node:module';

const require = createRequire(join(process.cwd(), 'tests/browser/package.json'));
const { chromium } = require('playwright-core');
const [host, plugin] = process.argv.slice(2);
const tiles = 200, clicks = 60, idleSeconds = 10, pollSeconds = 30;

let ini = '';
for (let i = 0; i < tiles; ++i)
  ini += `[instances.I${i}]\ndevice = 1\ncontact = ${i + 1}\nidtext = Tile ${i}\n`;
for (let i = 0; i < tiles; ++i)
  ini += `[tiles.t${i}]\ninstance = I${i}\nonState = "background: #1e9e3e"\noffState = "background: #444444"\n`;
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
const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
const session = await page.context().newCDPSession(page);
await session.send('Performance.enable');
const pageSeconds = async () => {
  const { metrics } = await session.send('Performance.getMetrics');
  return metrics.find((m) => m.name === 'TaskDuration').value;
};
await page.goto(url);
await page.locator(`#tile-t${tiles - 1}`).waitFor({ timeout: 120000 });

// The CPU of both sides over a stretch of real time.
async function stretch(seconds) {
  const server0 = cpu(server.pid), page0 = await pageSeconds();
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  return { server: (cpu(server.pid) - server0) / seconds, page: ((await pageSeconds()) - page0) / seconds };
}

const running = async (want) => {
  const now = await page.locator('#clock-toggle').textContent();
  if ((now === 'Pause clock') !== want) await page.locator('#clock-toggle').click();
  await page.locator('#clock-toggle', { hasText: want ? 'Pause clock' : 'Run clock' }).waitFor();
};
await running(false);
const idle = await stretch(idleSeconds);
await running(true);
const polling = await stretch(pollSeconds);
await running(false);

// Clicks, each from the click to the frame whose tile shows its other look.
const times = [];
for (let i = 0; i < clicks; ++i) {
  const name = `t${(i * 7) % tiles}`;
  await page.locator(`#tile-${name}`).scrollIntoViewIfNeeded();
  times.push(await page.evaluate((id) => new Promise((resolve) => {
    const tile = document.getElementById(id);
    const before = getComputedStyle(tile).backgroundColor;
    const start = performance.now();
    const frame = (at) => {
      const now = document.getElementById(id);
      if (now && getComputedStyle(now).backgroundColor !== before) resolve(at - start);
      else requestAnimationFrame(frame);
    };
    tile.click();
    requestAnimationFrame(frame);
  }), `tile-${name}`));
  await page.waitForTimeout(50);
}
times.sort((a, b) => a - b);
const at = (q) => times[Math.min(times.length - 1, Math.floor(q * times.length))];
const percent = (s) => `${(100 * s).toFixed(1)} %`;
const median = at(0.5), max = times[times.length - 1];
console.log(`web panel, ${tiles} tiles (${clicks} clicks; CPU as a share of one core)`);
console.log('| measure | value | target |');
console.log('|---|---|---|');
console.log(`| click to the frame with the new look: median | ${median.toFixed(1)} ms | <= 25 ms |`);
console.log(`| click to the frame with the new look: 90th percentile | ${at(0.9).toFixed(1)} ms | |`);
console.log(`| click to the frame with the new look: maximum | ${max.toFixed(1)} ms | <= 100 ms |`);
console.log(`| vorn-host CPU, idle (clock paused, ${idleSeconds} s) | ${percent(idle.server)} | |`);
console.log(`| page CPU, idle | ${percent(idle.page)} | |`);
console.log(`| vorn-host CPU, ${tiles} tiles polling in real time (${pollSeconds} s) | ${percent(polling.server)} | |`);
console.log(`| page CPU, ${tiles} tiles polling | ${percent(polling.page)} | |`);
await browser.close();
server.kill();
process.exit(median <= 25 && max <= 100 ? 0 : 1);
