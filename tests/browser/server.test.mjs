// `vorn-host serve` under requests a page never sends: what one client holds is bounded, and a
// fresh request is answered whatever others hold open. Loopback only; every loop is bounded in
// count and time and ends by itself.
// Environment: VORN_HOST (words split on '|'), VORN_PLUGIN.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { request } from 'node:http';
import { connect } from 'node:net';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve, stopServers, hostCommand as host } from './serve.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const plugin = process.env.VORN_PLUGIN;
const config = join(here, 'panel.ini');


function call(server, method, path, body = '', headers = {}) {
  const own = `${server.address}:${server.port}`;
  return new Promise((resolve, reject) => {
    const req = request({ host: server.address, port: server.port, method, path,
                          headers: { Host: own, Origin: `http://${own}`, 'Content-Length': Buffer.byteLength(body), ...headers } },
      (res) => {
        let text = '';
        res.on('data', (d) => { text += d; });
        res.on('end', () => resolve({ status: res.statusCode, text }));
      });
    req.setTimeout(5000, () => req.destroy(new Error(`${method} ${path}: no answer within 5 s`)));
    req.on('error', reject);
    req.end(body);
  });
}

// Writes a request as it stands and resolves with the status line's code.
function rawStatus(server, text) {
  return new Promise((resolve, reject) => {
    const socket = connect(server.port, server.address, () => socket.write(text));
    let got = '';
    const timer = setTimeout(() => { socket.destroy(); reject(new Error('no status within 5 s')); }, 5000);
    socket.on('data', (d) => {
      got += d;
      const m = /^HTTP\/1\.1 (\d+)/.exec(got);
      if (m) {
        clearTimeout(timer);
        socket.destroy();
        resolve(Number(m[1]));
      }
    });
    socket.on('error', (e) => { clearTimeout(timer); reject(e); });
  });
}

let panel;
before(async () => { panel = await serve(['--plugin', plugin, '--config', config]); });
after(() => { stopServers(); });

test('listening on another loopback address: the URL printed is the one that answers', async () => {
  const other = await serve(['--plugin', plugin, '--listen', '127.0.0.2']);
  assert.equal(other.address, '127.0.0.2');
  const r = await call(other, 'GET', '/api/state');
  assert.equal(r.status, 200);
});

test('event streams are bounded, and a fresh request is answered while they are open', async () => {
  const own = `${panel.address}:${panel.port}`;
  const sockets = [];
  const statuses = [];
  try {
    // One after another, as pages are opened: the server's accept queue is short.
    for (let i = 0; i < 40; ++i) {
      statuses.push(await new Promise((resolve) => {
        const socket = connect(panel.port, panel.address, () =>
          socket.write(`GET /api/events HTTP/1.1\r\nHost: ${own}\r\n\r\n`));
        sockets.push(socket);
        let got = '';
        const timer = setTimeout(() => resolve(-1), 10000);
        socket.on('data', (d) => {
          got += d;
          const m = /^HTTP\/1\.1 (\d+)/.exec(got);
          if (m) {
            clearTimeout(timer);
            resolve(Number(m[1]));
          }
        });
        socket.on('error', () => { clearTimeout(timer); resolve(0); });
      }));
    }
    const all = statuses;
    assert.equal(all.filter((s) => s === 200).length, 16, all.join(','));
    assert.equal(all.filter((s) => s === 503).length, 24, all.join(','));
    const started = Date.now();
    const r = await call(panel, 'GET', '/api/state');
    assert.equal(r.status, 200);
    assert.ok(Date.now() - started < 3000, `answered after ${Date.now() - started} ms`);
  } finally {
    for (const s of sockets) s.destroy();
  }
  // The streams closed are given back, within seconds.
  let again = 0;
  for (let i = 0; i < 20 && again !== 200; ++i) {
    await new Promise((resolve) => setTimeout(resolve, 250));
    again = await rawStatus(panel, `GET /api/events HTTP/1.1\r\nHost: ${own}\r\n\r\n`);
  }
  assert.equal(again, 200);
});

test('clients that send their requests a byte at a time do not hold up a fresh one', async () => {
  const sockets = [];
  let trickle;
  try {
    for (let i = 0; i < 150; ++i) sockets.push(connect(panel.port, panel.address, () => {}));
    await Promise.all(sockets.map((s) => new Promise((resolve) => s.once('connect', resolve))));
    const request = `GET /api/state HTTP/1.1\r\nHost: ${panel.address}:${panel.port}\r\nX-Slow: `;
    let at = 0;
    trickle = setInterval(() => { for (const s of sockets) s.write(request[at % request.length]); ++at; }, 1000);
    await new Promise((resolve) => setTimeout(resolve, 1000));
    const started = Date.now();
    const r = await call(panel, 'GET', '/api/state');
    assert.equal(r.status, 200);
    assert.ok(Date.now() - started < 3000, `answered after ${Date.now() - started} ms`);
  } finally {
    clearInterval(trickle);
    for (const s of sockets) s.destroy();
  }
});

test('bodies, headers and steps are bounded before they are read', async () => {
  const own = `${panel.address}:${panel.port}`;
  // A chunked body has no length to hold to a limit: refused before a byte of it is read.
  const chunked = await rawStatus(panel,
    `POST /api/replay HTTP/1.1\r\nHost: ${own}\r\nOrigin: http://${own}\r\nTransfer-Encoding: chunked\r\n\r\n100000\r\n`);
  assert.equal(chunked, 411);
  let headers = '';
  for (let i = 0; i < 100; ++i) headers += `X-Filler-${i}: ${i}\r\n`;
  assert.equal(await rawStatus(panel, `GET /api/state HTTP/1.1\r\nHost: ${own}\r\n${headers}\r\n`), 431);
  const big = await call(panel, 'POST', '/api/step', `parent ${'x'.repeat(70 * 1024)}`);
  assert.equal(big.status, 413);
  assert.match(big.text, /a step is at most 64 KiB/);
});

test('a NUL in a step is refused, never delivered or recorded', async () => {
  for (const body of ['@one parent a\\x00b', '@one press 1 a\\x00b', '@one parent a\0b']) {
    const r = await call(panel, 'POST', '/api/step', body);
    assert.equal(r.status, 400, body);
    assert.match(r.text, /a text cannot hold a NUL byte/);
  }
  const act = await call(panel, 'POST', '/api/act', JSON.stringify({ act: 'parent', tile: 'one', text: 'a\u0000b' }));
  assert.equal(act.status, 400);
  assert.match(act.text, /a text cannot hold a NUL byte/);
  const recording = await call(panel, 'GET', '/api/recording');
  assert.doesNotMatch(recording.text, /x00/);
});

test('an act is written in the step language by the server, whatever its text holds', async () => {
  const text = 'instance=A "quoted"\\ \ttab \u00e9';
  const r = await call(panel, 'POST', '/api/act', JSON.stringify({ act: 'parent', tile: 'other', text }));
  assert.equal(r.status, 200, r.text);
  const state = JSON.parse((await call(panel, 'GET', '/api/state')).text);
  const step = state.lines.filter((l) => l.kind === 'step' && l.tile === 'other').pop();
  assert.equal(step.text, '@other parent instance=A "quoted"\\\\ \\ttab \u00e9');
  for (const bad of [{ act: 'parent', tile: 'one' }, { act: 'fly' }, { act: 'press', tile: 'no one', panel: '1', control: 'x' }, []]) {
    const answer = await call(panel, 'POST', '/api/act', JSON.stringify(bad));
    assert.equal(answer.status, 400, JSON.stringify(bad));
  }
});
