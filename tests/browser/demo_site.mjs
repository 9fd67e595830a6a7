// Starts scripts/demo.sh in a fresh run directory on a free port and stops it again.
import { spawn } from 'node:child_process';
import { chmodSync, mkdtempSync, openSync, readFileSync, closeSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function answers(url) {
  try {
    const reply = await fetch(url, { signal: AbortSignal.timeout(2000) });
    await reply.arrayBuffer();
    return true;
  } catch {
    return false;
  }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export class DemoSite {
  // repoRoot: the checkout holding scripts/demo.sh; logPath: where the demo's output goes.
  constructor(repoRoot, logPath) {
    this.repoRoot = repoRoot;
    this.logPath = logPath;
    this.child = null;
    this.exited = null;
  }

  async start(startupLimitMs) {
    this.runDir = mkdtempSync(join(tmpdir(), 'orvanegate-browser-'));
    // Run as root, the demo's server drops to www-data, which must reach the run directory.
    chmodSync(this.runDir, 0o755);
    this.port = await freePort();
    this.url = `http://127.0.0.1:${this.port}/`;
    const log = openSync(this.logPath, 'w');
    // A process group of its own, so that the server and its CGI children stop together.
    this.child = spawn('sh', ['scripts/demo.sh'], {
      cwd: this.repoRoot,
      env: { ...process.env, RUN_DIR: this.runDir, PORT: String(this.port) },
      stdio: ['ignore', log, log],
      detached: true,
    });
    closeSync(log);
    this.exited = new Promise((resolve) => this.child.on('exit', (code, signal) => resolve({ code, signal })));
    let running = true;
    this.exited.then(() => { running = false; });
    const deadline = Date.now() + startupLimitMs;
    while (!(await answers(this.url))) {
      if (!running) throw new Error(`the demo site ended before it answered:\n${this.log()}`);
      if (Date.now() > deadline) {
        throw new Error(`the demo site did not answer within ${startupLimitMs / 1000} s:\n${this.log()}`);
      }
      await sleep(250);
    }
  }

  log() {
    try {
      return readFileSync(this.logPath, 'utf8');
    } catch {
      return '(no output)';
    }
  }

  // Path of a file inside the run directory.
  file(...parts) {
    return join(this.runDir, ...parts);
  }

  async stop() {
    if (!this.child || this.child.exitCode !== null || this.child.signalCode !== null) return;
    const group = -this.child.pid;
    try {
      process.kill(group, 'SIGTERM');
    } catch {
      return;  // the group is gone already
    }
    const stopped = await Promise.race([this.exited.then(() => true), sleep(10000).then(() => false)]);
    if (!stopped) {
      try {
        process.kill(group, 'SIGKILL');
      } catch { /* gone meanwhile */ }
      await this.exited;
    }
  }

  // Stops the site synchronously when the suite itself is told to stop.
  killNow() {
    if (this.child && this.child.exitCode === null) {
      try {
        process.kill(-this.child.pid, 'SIGKILL');
      } catch { /* gone already */ }
    }
  }
}
