// Starts `vorn-host serve` for a test: the command is VORN_HOST (words split on '|': a Linux
// vorn-host, or wine and vorn-host.exe); resolves once it says where it serves.
import { spawn } from 'node:child_process';

const host = (process.env.VORN_HOST || '').split('|');
const servers = [];

export function serve(args) {
  return new Promise((resolve, reject) => {
    const child = spawn(host[0], [...host.slice(1), 'serve', '--port', '0', ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
    servers.push(child);
    let out = '', err = '';
    const timer = setTimeout(() => reject(new Error(`no address within 60 s:\n${out}${err}`)), 60000);
    child.stdout.on('data', (d) => {
      out += d;
      const m = /serving (http:\/\/([^/]+):(\d+)\/)/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({ url: m[1], address: m[2], port: Number(m[3]), child, output: () => out + err });
      }
    });
    child.stderr.on('data', (d) => { err += d; });
    child.on('exit', (code) => { clearTimeout(timer); reject(new Error(`serve ended (${code}):\n${out}${err}`)); });
  });
}

// Ends every server started.
export function stopServers() {
  for (const s of servers) s.kill();
}

export const hostCommand = host;
