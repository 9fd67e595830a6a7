// One step of test_other_host.py in Debian's chromium, against a plain-HTTP gate site
// named gate.test (Chromium maps gate.test and evil.test to 127.0.0.1, and sends no
// Sec-Fetch-Site to such a site). Prints the gate's answers as JSON: [status, page text].
//   node other_host.mjs own-register|evil|own PORT
//   evil: a page on evil.test submits a registration form, posts a file with a no-cors
//   fetch and submits a password change; own: gate.test's own pages post a file and
//   change the password.
import { chromium } from 'playwright-core';
import { createServer } from 'node:http';
import { readFileSync } from 'node:fs';

const [step, port] = process.argv.slice(2);
const site = `http://gate.test:${port}/`;
const gate = `${site}cgi/orvanegate.exe`;
const owner = { session: 'demo', id: 'owner' };

// The gate's answer to the POST that act() sends; a form's answer shows as the page.
async function answer(page, act, form = true) {
  const answered = page.waitForResponse((r) => r.url() === gate && r.request().method() === 'POST');
  await Promise.all([act(), form && page.waitForURL(gate)]);
  const status = (await answered).status();
  return [status, form ? await page.evaluate(() => document.body.innerText) : ''];
}

// A page of the site filled in and sent as a visitor does (in the same tab).
async function own(page, path, fields) {
  await page.goto(site + path);
  await page.$eval('form', (form) => form.removeAttribute('target'));
  for (const [name, value] of Object.entries(fields)) await page.fill(`input[name="${name}"]`, value);
  if (path === 'post.html') {
    await page.setInputFiles('input[name=upfile]',
      { name: 'own.png', mimeType: 'image/png', buffer: readFileSync('../../site/default.png') });
  }
  return answer(page, () => page.click('input[type=submit]'));
}

function submitForm(fields) {
  const form = Object.assign(document.createElement('form'), { action: fields.gate, method: 'POST' });
  for (const [name, value] of Object.entries(fields)) {
    if (name !== 'gate') form.append(Object.assign(document.createElement('input'), { type: 'hidden', name, value }));
  }
  document.body.append(form);
  form.submit();
}

function postFile(fields) {
  const body = new FormData();
  for (const [name, value] of Object.entries(fields)) body.append(name, value);
  body.append('upfile', new Blob([new Uint8Array([137, 80, 78, 71])], { type: 'image/png' }), 'evil.png');
  return fetch(fields.gate, { mode: 'no-cors', method: 'POST', body }).catch(String);
}

async function evil(page) {
  const server = createServer((_, reply) => reply.end('<!DOCTYPE html><title>evil.test</title>'));
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  const sends = [
    [submitForm, { gate, session: 'demo', command: 'registration', id: 'evilform', pw: 'secret1',
      pw2: 'secret1', realname: 'x', mail: 'x@example.jp', country: 'x' }],
    [postFile, { gate, ...owner, command: 'postleaf', pw: 'secret1' }],
    [submitForm, { gate, ...owner, command: 'changepw', pw0: 'secret1', pw1: 'evil99', pw2: 'evil99' }],
  ];
  const answers = [];
  for (const [send, fields] of sends) {
    await page.goto(`http://evil.test:${server.address().port}/`);
    answers.push((await answer(page, () => page.evaluate(send, fields), send === submitForm))[0]);
  }
  server.close();
  return answers;
}

const steps = {
  'own-register': async (page) => [await own(page, 'register.html',
    { id: 'owner', pw: 'secret1', pw2: 'secret1', realname: 'o', mail: 'o@x.jp', country: 'o' })],
  evil,
  own: async (page) => [await own(page, 'post.html', { id: 'owner', pw: 'secret1', 'blank-title': 't', comment: 'c' }),
    await own(page, 'changepw.html', { id: 'owner', pw0: 'secret1', pw1: 'secret2', pw2: 'secret2' })],
};

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--host-resolver-rules=MAP gate.test 127.0.0.1, MAP evil.test 127.0.0.1'],
});
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(30000);
  console.log(JSON.stringify(await steps[step](page)));
} finally {
  await browser.close();
}
