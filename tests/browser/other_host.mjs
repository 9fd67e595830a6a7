// A site served under a host name that is not localhost, over plain HTTP, where browsers
// send no Sec-Fetch-Site: a page on evil.test submits a registration form, posts a file
// with a no-cors fetch and submits a password change to the gate on gate.test, through
// nginx (FastCGI), lighttpd and Apache in turn. Each is answered 403 and writes nothing;
// the same forms on gate.test's own pages still work.
//
//   node other_host.mjs   (ORVANEGATE_EXE= the gate; CHROMIUM= the browser)
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { createInterface } from 'node:readline';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { Checks } from './checks.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const SERVERS = ['NginxFastCgi', 'Lighttpd', 'Apache'];
const PNG = readFileSync(resolve(here, '..', '..', 'site', 'default.png'));
const checks = new Checks();

// The site behind one server (serve_site.py): { port, run, stop }, or { skip }.
function serve(server) {
  const child = spawn('python3', [join(here, 'serve_site.py'), server],
    { stdio: ['pipe', 'pipe', 'inherit'] });
  const stop = () => new Promise((done) => { child.on('exit', done); child.stdin.end(); });
  return new Promise((done, fail) => {
    createInterface({ input: child.stdout }).once('line', (line) => done({ ...JSON.parse(line), stop }));
    child.on('exit', (code) => fail(new Error(`serve_site.py ${server} exited with ${code}`)));
  });
}

// Every file the gate may write, with its size.
function disk(run) {
  const found = {};
  const walk = (dir) => {
    for (const entry of readdirSync(dir, { withFileTypes: true })) {
      const path = join(dir, entry.name);
      if (entry.isDirectory()) walk(path);
      else found[path.slice(run.length)] = statSync(path).size;
    }
  };
  for (const top of ['data', 'cgi', 'htdocs/leaves']) walk(join(run, top));
  return found;
}

function attackPage(gate) {
  return `<!DOCTYPE html><html><head><meta charset="utf-8"><title>evil.test</title></head><body>
<script>
const gate = ${JSON.stringify(gate)};
window.submitForm = (fields) => {
  const form = Object.assign(document.createElement('form'), { action: gate, method: 'POST' });
  for (const [name, value] of Object.entries(fields)) {
    form.append(Object.assign(document.createElement('input'), { type: 'hidden', name, value }));
  }
  document.body.append(form);
  form.submit();
};
window.postFile = (fields) => {
  const body = new FormData();
  for (const [name, value] of Object.entries(fields)) body.append(name, value);
  body.append('upfile', new Blob([new Uint8Array([137, 80, 78, 71])], { type: 'image/png' }), 'evil.png');
  return fetch(gate, { mode: 'no-cors', method: 'POST', body }).then(() => 'sent', String);
};
</script></body></html>`;
}

// The status of the gate's answer to the POST that act() makes the page send; a form's
// answer is also waited for as the page it shows.
async function postStatus(page, act, navigates = true) {
  const answered = page.waitForResponse((r) => r.url().includes('/cgi/orvanegate.exe') &&
    r.request().method() === 'POST');
  await Promise.all([act(), navigates && page.waitForURL('**/cgi/orvanegate.exe')]);
  return (await answered).status();
}

const REGISTRATION = { session: 'demo', command: 'registration', pw: 'secret1', pw2: 'secret1',
  realname: 'x', mail: 'x@example.jp', country: 'x' };

async function fromOtherSite(page, site, evilUrl, label) {
  const before = disk(site.run);
  const sends = [
    ['a registration form', () => page.evaluate((f) => window.submitForm(f), { ...REGISTRATION, id: 'evilform' })],
    ['a no-cors file post by fetch', () => page.evaluate((f) => window.postFile(f),
      { session: 'demo', command: 'postleaf', id: 'owner', pw: 'secret1' })],
    ['a password change', () => page.evaluate((f) => window.submitForm(f),
      { session: 'demo', command: 'changepw', id: 'owner', pw0: 'secret1', pw1: 'evil99', pw2: 'evil99' })],
  ];
  for (const [name, act] of sends) {
    await page.goto(evilUrl);
    checks.equal(`${label}: ${name} from evil.test is answered 403`,
      await postStatus(page, act, !name.includes('fetch')), 403);
  }
  checks.equal(`${label}: nothing is written for evil.test`, disk(site.run), before);
}

// The site's own pages: submit(page name, fields) fills in its form and sends it as a
// visitor does, answering the status; record() and leaves() read what it wrote.
function ownSite(page, site, gateUrl) {
  const submit = async (path, fill) => {
    await page.goto(new URL(path, gateUrl).href);
    await page.$eval('form', (form) => form.removeAttribute('target'));
    for (const [name, value] of Object.entries(fill)) await page.fill(`input[name="${name}"]`, value);
    if (path === 'post.html') {
      await page.setInputFiles('input[name=upfile]', { name: 'own.png', mimeType: 'image/png', buffer: PNG });
    }
    const status = await postStatus(page, () => page.click('input[type=submit]'));
    return [status, await page.evaluate(() => document.body.innerText)];
  };
  const record = () => readFileSync(join(site.run, 'data', 'members', 'owner.txt'), 'latin1');
  const leaves = () => readdirSync(join(site.run, 'htdocs', 'leaves')).filter((n) => !n.startsWith('.'));
  return { submit, record, leaves };
}

async function oneServer(context, server) {
  const site = await serve(server).catch((error) => ({ error }));
  if (site.error || site.skip) {
    checks.fail(`${server}: the site could not be served`, site.error ?? site.skip);
    return;
  }
  const evil = createServer((request, reply) => {
    reply.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    reply.end(attackPage(`http://gate.test:${site.port}/cgi/orvanegate.exe`));
  });
  await new Promise((done) => evil.listen(0, '127.0.0.1', done));
  const gateUrl = `http://gate.test:${site.port}/`;
  const evilUrl = `http://evil.test:${evil.address().port}/`;
  const page = await context.newPage();
  try {
    const own = ownSite(page, site, gateUrl);
    checks.equal(`${server}: registration from gate.test's own page`, await own.submit('register.html',
      { id: 'owner', pw: 'secret1', pw2: 'secret1', realname: 'o', mail: 'o@x.jp', country: 'o' }),
    [200, 'ACCEPTED. 登録を受け付けました']);
    await fromOtherSite(page, site, evilUrl, server);
    checks.equal(`${server}: posting from gate.test's own page`,
      [await own.submit('post.html',
        { id: 'owner', pw: 'secret1', 'blank-title': 't', comment: 'c' }), own.leaves().length],
      [[200, 'ACCEPTED. ファイルを受け付けました'], 2]);  // the image and its record
    checks.equal(`${server}: password change from gate.test's own page`,
      [await own.submit('changepw.html', { id: 'owner', pw0: 'secret1', pw1: 'secret2', pw2: 'secret2' }),
        own.record().includes('pw=secret2\r\n')], [[200, 'ACCEPTED. 登録を受け付けました'], true]);
  } catch (error) {
    checks.fail(`${server}: the case could not run`, error);
  } finally {
    await page.close();
    evil.close();
    await site.stop();
  }
}

async function main() {
  const profile = mkdtempSync(join(tmpdir(), 'orvanegate-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--host-resolver-rules=MAP gate.test 127.0.0.1, MAP evil.test 127.0.0.1'],
  });
  context.setDefaultTimeout(30000);
  try {
    for (const server of SERVERS) {
      console.log(`-- ${server}`);
      await oneServer(context, server);
    }
  } finally {
    await context.close().catch(() => {});
    rmSync(profile, { recursive: true, force: true });
  }
  console.log(checks.summary());
  process.exit(checks.ok ? 0 : 1);
}

await main();
