// Walks the demo site in a real browser: registration, a posting with an image, the
// profile page, profile changes, a password change, the error pages, and a page of another
// site that may neither post to the gate nor frame it. Every page's text
// is compared with the Japanese text it must show, and every page is saved as a screenshot.
//
//   node walk.mjs   (ARTIFACT_DIR= where the screenshots go; CHROMIUM= the browser)
import { chromium } from 'playwright-core';
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createHash } from 'node:crypto';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { Checks, visible } from './checks.mjs';
import { crossSiteStep } from './cross_site.mjs';
import { DemoSite } from './demo_site.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const repoRoot = resolve(here, '..', '..');
const artifacts = resolve(process.env.ARTIFACT_DIR || join(repoRoot, 'build-test', 'browser-artifacts'));
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

const MEMBER = 'hanako5';
const FIRST_PW = 'secret1';
const SECOND_PW = 'secret2';
// A space, quotes, markup and "ソ" (whose second Shift_JIS byte is a backslash).
const REALNAME = '山本 ソラ';
const COUNTRY = '日本 "Nihon" <JP>';
const COMMENT = 'よろしく "お願い" <b>します</b> & 表示';
const URLNAME1 = 'ホームページ';
const URL1 = 'https://example.jp/~hanako?a=1&b=2';

const sjis = new TextDecoder('shift_jis', { fatal: true });
const checks = new Checks();
const site = new DemoSite(repoRoot, join(artifacts, 'demo-site.log'));
let shots = 0;
let startShot = '';  // the start page's screenshot, posted as the leaf's image

async function shoot(page, name) {
  shots += 1;
  const path = join(artifacts, `${String(shots).padStart(2, '0')}-${name}.png`);
  await page.screenshot({ path, fullPage: true });
  console.log(`       screenshot ${path}`);
  return path;
}

function record() {
  return readFileSync(site.file('data', 'members', `${MEMBER}.txt`));
}

const HASHED = 'pwhash=<an Argon2id hash>';  // the demo's hash line, read as it is shown
const HASH_LINE = /^pwhash=(\$argon2id\$v=19\$m=19456,t=2,p=1\$[A-Za-z0-9+/]{22}\$[A-Za-z0-9+/]{43})(?=\r$)/m;
const storedHash = () => HASH_LINE.exec(sjis.decode(record()))?.[1];

function recordText() {
  return sjis.decode(record()).replace(HASH_LINE, HASHED);
}

// The bytes as text to read, with their size and digest so that equal means byte for byte.
function bytesShown(bytes) {
  const digest = createHash('sha256').update(bytes).digest('hex').slice(0, 16);
  return `${new TextDecoder('shift_jis').decode(bytes)} (${bytes.length} bytes, sha256 ${digest})`;
}

function recordOf(lines) {
  return lines.map((line) => `${line}\r\n`).join('');
}

const escaped = (text) => text.replace(/&/g, '&amp;').replace(/ /g, '&nbsp;').replace(/</g, '&lt;')
  .replace(/>/g, '&gt;').replace(/"/g, '&quot;');

async function pageText(page) {
  return page.evaluate(() => ({
    title: document.title,
    body: document.body ? document.body.innerText : '',
    buttons: [...document.querySelectorAll('input[type=button], input[type=submit]')].map((b) => b.value),
  }));
}

// Opens a demo page from the start page's link, as a visitor does.
async function openFromStart(page, linkText, heading) {
  await page.goto(site.url);
  const link = page.locator('a', { hasText: linkText });
  const target = new URL(await link.getAttribute('href'), site.url).href;
  await Promise.all([page.waitForURL(target), link.click()]);
  checks.equal(`${heading}: heading`, visible(await page.textContent('h3')), heading);
  checks.equal(`${heading}: links back to the start page`,
    await page.locator('a[href="index.html"]').count(), 1);
}

// Submits a form that answers in a new tab; gives the tab and the gate's status.
async function submitToNewTab(page, submit) {
  const answered = page.context().waitForEvent('response',
    (r) => r.url().includes('/cgi/orvanegate.exe') && r.request().isNavigationRequest());
  const opened = page.waitForEvent('popup');
  await page.click(submit);
  const [tab, response] = await Promise.all([opened, answered]);
  await tab.waitForLoadState('load');
  return { tab, status: response.status(), cacheControl: await response.headerValue('cache-control') };
}

// A gate page of one heading: the error page and the two acceptance pages.
async function expectShortPage(name, answer, title, heading, buttons = []) {
  checks.equal(`${name}: status`, answer.status, 200);
  const text = await pageText(answer.tab);
  checks.equal(`${name}: text`, { title: text.title, body: visible(text.body), buttons: text.buttons },
    { title, body: heading, buttons });
  await shoot(answer.tab, name);
}

async function expectClosedByItsButton(name, tab) {
  const closed = tab.waitForEvent('close', { timeout: 20000 }).then(() => true, () => false);
  try {
    await tab.click('input[type=button]');
  } catch (error) {
    // The close the click causes may cut the click itself short ("Target page, context or
    // browser has been closed"); only a click that closed nothing is a failure.
    if (!(await closed)) throw error;
  }
  checks.truth(`${name}: the close button closes the tab`, await closed);
}

async function register(page, name, fields) {
  await openFromStart(page, 'Register 会員登録', 'Register 会員登録');
  await page.fill('input[name=id]', fields.id);
  await page.fill('input[name=pw]', fields.pw);
  await page.fill('input[name=pw2]', fields.pw);
  await page.fill('input[name=realname]', fields.realname);
  await page.fill('input[name=mail]', fields.mail);
  await page.fill('input[name=country]', fields.country);
  await shoot(page, `${name}-form`);
  return submitToNewTab(page, 'input[type=submit]');
}

async function changePassword(page, name, current, next) {
  await openFromStart(page, 'Change password パスワード変更', 'Change password パスワード変更');
  await page.fill('input[name=id]', MEMBER);
  await page.fill('input[name=pw0]', current);
  await page.fill('input[name=pw1]', next);
  await page.fill('input[name=pw2]', next);
  await shoot(page, `${name}-form`);
  return submitToNewTab(page, 'input[type=submit]');
}

async function postLeaf(page, name, password, image) {
  await openFromStart(page, 'Post an image 画像の投稿', 'Post an image 画像の投稿');
  await page.selectOption('select[name=session]', 'demo');
  await page.fill('input[name=id]', MEMBER);
  await page.fill('input[name=pw]', password);
  await page.setInputFiles('input[name=upfile]', image);
  await page.fill('input[name=blank-title]', '春の庭 <花>');
  await page.fill('input[name=comment]', '晴れ "ときどき" 曇り');
  await shoot(page, `${name}-form`);
  return submitToNewTab(page, 'input[type=submit]');
}

const PROFILE_LABELS = ['ＩＤ', 'パスワード', '名前', '国', '一行自己紹介', 'メールアドレス',
  'URL1のタイトル', 'URL1', 'URL2のタイトル', 'URL2', 'URL3のタイトル', 'URL3'];

// Opens the change-profile form in a new tab and checks its text and values.
async function openProfileForm(page, name, values) {
  await openFromStart(page, 'Change profile プロフィール変更', 'Change profile プロフィール変更');
  await page.fill('input[name=id]', MEMBER);
  await page.fill('input[name=pw]', FIRST_PW);
  const answer = await submitToNewTab(page, 'input[type=submit]');
  checks.equal(`${name}: status`, answer.status, 200);
  // The form holds the stored password: no browser may keep it on disk.
  checks.equal(`${name}: the answer is not kept`, answer.cacheControl, 'no-store');
  const form = await answer.tab.evaluate(() => ({
    title: document.title,
    heading: document.querySelector('h4')?.innerText,
    labels: [...document.querySelectorAll('td[align=right]')].map((cell) => cell.innerText.trim()),
    hint: [...document.querySelectorAll('td')].map((cell) => cell.innerText.trim())
      .find((text) => text.startsWith('●')),
    submit: document.querySelector('input[type=submit]')?.value,
    values: Object.fromEntries([...document.querySelectorAll('input[type=text]')].map((i) => [i.name, i.value])),
  }));
  checks.equal(`${name}: text`, { ...form, values: undefined }, {
    title: 'Orvane Change Profile<#filename>',
    heading: '■プロフィール変更',
    labels: PROFILE_LABELS,
    hint: '●ＵＲＬは、ホームページ、ブログ、ＳＮＳなどのアドレス(省略可)',
    submit: '　　登録　　',
  });
  // Exactly: a no-break space in a box would go back as "&#160;", which Shift_JIS lacks.
  checks.equal(`${name}: the boxes hold the stored profile`, form.values, values);
  await shoot(answer.tab, name);
  return answer.tab;
}

// Submits the change-profile form in its own tab; the answer is the profile page.
async function saveProfileForm(tab) {
  const [response] = await Promise.all([
    tab.waitForNavigation({ waitUntil: 'load' }),
    tab.click('input[type=submit]'),
  ]);
  return response.status();
}

async function profileRows(page) {
  return page.$$eval('tr', (rows) => rows.map((row) => [...row.cells].map((cell) => cell.innerText)))
    .then((rows) => rows.map((cells) => cells.map(visible)));
}

async function expectProfile(name, tab, rows) {
  checks.equal(`${name}: title`, await tab.title(), 'Profile <#filename>');
  checks.equal(`${name}: rows`, await profileRows(tab), rows);
  await shoot(tab, name);
}

const registeredLines = [`id=${MEMBER}`, HASHED, `realname=${escaped(REALNAME)}`,
  `country=${escaped(COUNTRY)}`, `mail=${MEMBER}@example.jp`];

const steps = [
  ['the start page', async (page) => {
    await page.goto(site.url);
    const text = await pageText(page);
    checks.equal('start page: title', text.title, 'Demo site デモサイト');
    checks.truth('start page: text in Japanese', text.body.includes('このサイトのフォームはすべて'));
    startShot = await shoot(page, 'start');
  }],

  ['registration', async (page) => {
    const answer = await register(page, 'register', {
      id: MEMBER, pw: FIRST_PW, realname: REALNAME, mail: `${MEMBER}@example.jp`, country: COUNTRY,
    });
    await expectShortPage('registered', answer, 'Registration acceptance',
      'ACCEPTED. 登録を受け付けました', ['close 閉じる']);
    checks.equal('registered: the record', recordText(), recordOf(registeredLines));
    await expectClosedByItsButton('registered', answer.tab);
  }],

  ['a posting with an image', async (page) => {
    const image = startShot;
    const answer = await postLeaf(page, 'post', FIRST_PW, image);
    await expectShortPage('posted', answer, 'File acceptance', 'ACCEPTED. ファイルを受け付けました');
    const leaves = site.file('htdocs', 'leaves');
    checks.truth('posted: the image is stored byte for byte',
      readFileSync(join(leaves, 'leaf0001.png')).equals(readFileSync(image)));
    const leafRecord = sjis.decode(readFileSync(join(leaves, 'leaf0001.txt')));
    checks.truth('posted: the leaf record holds the title and comment escaped',
      leafRecord.includes('blank-title=春の庭&nbsp;&lt;花&gt;') &&
      leafRecord.includes('comment=晴れ&nbsp;&quot;ときどき&quot;&nbsp;曇り'), leafRecord);
    await answer.tab.goto(new URL('leaves/leaf0001.png', site.url).href);
    const width = await answer.tab.evaluate(() => document.querySelector('img')?.naturalWidth ?? 0);
    checks.truth('posted: the browser shows the stored image', width > 0);
    await shoot(answer.tab, 'posted-image');
    await answer.tab.close();
  }],

  ['the profile page', async (page) => {
    await openFromStart(page, 'Look up a profile プロフィール表示', 'Look up a profile プロフィール表示');
    await page.fill('input[name=showuser]', MEMBER);
    const answer = await submitToNewTab(page, 'input[type=submit]');
    checks.equal('profile: status', answer.status, 200);
    await expectProfile('profile', answer.tab, [['id', MEMBER], ['name', REALNAME], ['country', COUNTRY],
      ['profile', ''], ['', ''], ['', ''], ['', '']]);
    await answer.tab.close();
  }],

  ['another site', (page) => crossSiteStep(page, { site, checks, shoot, member: MEMBER })],

  ['unchanged profile saves', async (page) => {
    const before = record();
    for (const round of [1, 2]) {
      const tab = await openProfileForm(page, `profile-form-${round}`, {
        id: MEMBER, realname: REALNAME, country: COUNTRY, comment: '', mail: `${MEMBER}@example.jp`,
        urlname1: '', url1: '', urlname2: '', url2: '', urlname3: '', url3: '',
      });
      checks.equal(`unchanged save ${round}: status`, await saveProfileForm(tab), 200);
      await shoot(tab, `profile-saved-${round}`);
      checks.equal(`unchanged save ${round}: the record stays byte for byte`,
        bytesShown(record()), bytesShown(before));
      await tab.close();
    }
  }],

  ['a changed comment', async (page) => {
    const tab = await openProfileForm(page, 'profile-form-3', {
      id: MEMBER, realname: REALNAME, country: COUNTRY, comment: '', mail: `${MEMBER}@example.jp`,
      urlname1: '', url1: '', urlname2: '', url2: '', urlname3: '', url3: '',
    });
    await tab.fill('input[name=comment]', COMMENT);
    await tab.fill('input[name=urlname1]', URLNAME1);
    await tab.fill('input[name=url1]', URL1);
    checks.equal('changed comment: status', await saveProfileForm(tab), 200);
    checks.equal('changed comment: title', await tab.title(), 'Profile <#filename>');
    const rows = await profileRows(tab);
    checks.equal('changed comment: the page shows the new comment and link', rows.slice(3),
      [['profile', COMMENT], [URLNAME1, URL1], ['', ''], ['', '']]);
    checks.equal('changed comment: the link target', await tab.getAttribute('a >> nth=0', 'href'), URL1);
    await shoot(tab, 'profile-changed');
    const lines = recordText().split('\r\n');
    checks.equal('changed comment: the record holds the new values',
      lines.filter((line) => /^(comment|url1|urlname1)=/.test(line)),
      [`comment=${escaped(COMMENT)}`, `url1=${escaped(URL1)}`, `urlname1=${URLNAME1}`]);
    // The boxes left alone went through the same round trip as an unchanged save.
    checks.equal('changed comment: the values left alone stay as they were',
      { rows: rows.slice(0, 3), record: recordText() },
      { rows: [['id', MEMBER], ['name', REALNAME], ['country', COUNTRY]],
        record: recordOf([...registeredLines, `comment=${escaped(COMMENT)}`, `url1=${escaped(URL1)}`,
          `urlname1=${URLNAME1}`]) });
    await tab.close();
  }],

  ['a password change', async (page) => {
    const before = storedHash();
    const answer = await changePassword(page, 'change-password', FIRST_PW, SECOND_PW);
    await expectShortPage('password-changed', answer, 'Registration acceptance',
      'ACCEPTED. 登録を受け付けました', ['close 閉じる']);
    checks.truth('password changed: the record holds a new hash and no byte of the password',
      storedHash() !== undefined && storedHash() !== before && !recordText().includes(SECOND_PW));
    await expectClosedByItsButton('password-changed', answer.tab);
  }],

  ['the wrong-password pages', async (page) => {
    const before = record();
    const changed = await changePassword(page, 'wrong-password-change', FIRST_PW, 'secret3');
    await expectShortPage('wrong-password-change', changed, 'error',
      'ERROR: password was not changed. 変更できませんでした');
    await changed.tab.close();
    const posted = await postLeaf(page, 'wrong-password-post', FIRST_PW, startShot);
    await expectShortPage('wrong-password-post', posted, 'error', 'ERROR: The password is wrong. パスワードが違います');
    await posted.tab.close();
    checks.truth('wrong passwords: the record is unchanged', record().equals(before));
  }],

  ['a duplicate registration', async (page) => {
    const before = record();
    const answer = await register(page, 'register-again', {
      id: MEMBER, pw: 'other99', realname: '別人', mail: 'other@example.jp', country: '',
    });
    await expectShortPage('registered-again', answer, 'error',
      'ERROR: The same ID is already registered. 同じＩＤが既に登録されています');
    checks.truth('duplicate registration: the record is unchanged', record().equals(before));
    await answer.tab.close();
  }],
];

async function main() {
  rmSync(artifacts, { recursive: true, force: true });
  mkdirSync(artifacts, { recursive: true });
  console.log(`screenshots and the demo site's log go to ${artifacts}`);
  for (const signal of ['SIGINT', 'SIGTERM']) {
    process.on(signal, () => { site.killNow(); process.exit(1); });
  }
  const profile = mkdtempSync(join(tmpdir(), 'orvanegate-chromium-'));
  let context;
  try {
    await site.start(480000);
    console.log(`demo site at ${site.url} (run directory ${site.runDir})`);
    context = await chromium.launchPersistentContext(profile, {
      executablePath: chromiumPath,
      headless: true,
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
      viewport: { width: 1000, height: 700 },
      locale: 'ja-JP',
    });
    context.setDefaultTimeout(30000);
    const page = context.pages()[0] ?? await context.newPage();
    for (const [name, step] of steps) {
      console.log(`-- ${name}`);
      try {
        await step(page);
      } catch (error) {
        checks.fail(name, error);
        for (const open of context.pages()) await shoot(open, 'at-failure').catch(() => {});
      }
    }
  } catch (error) {
    checks.fail('the walk could not run', error);
  } finally {
    await context?.close().catch(() => {});
    await site.stop();
    rmSync(profile, { recursive: true, force: true });
    // A failed walk leaves the run directory (records, leaves, logs) for a look.
    if (site.runDir && checks.ok) rmSync(site.runDir, { recursive: true, force: true });
    else if (site.runDir) console.log(`run directory kept: ${site.runDir}`);
  }
  console.log(`${checks.summary()}; screenshots in ${artifacts}`);
  process.exit(checks.ok ? 0 : 1);
}

await main();
