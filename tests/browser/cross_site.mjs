// A page of another site tries, through the visitor's browser, what the site must not allow:
// registering ids with no-cors fetches (a text/plain body shaped as multipart, and a plain
// form body) and framing the gate's answers and the forms. It is served from another
// loopback address, so that the browser counts it as another site, not only another origin.
import { createServer } from 'node:http';
import { existsSync, readFileSync } from 'node:fs';

const OTHER_HOST = '127.0.0.2';
const IDS = ['crossplain', 'crossform'];

function attackPage(siteUrl, member) {
  const gate = new URL('cgi/orvanegate.exe', siteUrl).href;
  const boundary = '----crossSiteBoundary';
  const fields = { session: 'demo', command: 'registration', pw: 'secret1', pw2: 'secret1',
    realname: 'x', mail: 'x@example.jp', country: 'x' };
  const multipart = Object.entries({ ...fields, id: IDS[0] })
    .map(([name, value]) => `--${boundary}\r\nContent-Disposition: form-data; name="${name}"\r\n\r\n${value}\r\n`)
    .join('') + `--${boundary}--\r\n`;
  return `<!DOCTYPE html><html><head><meta charset="utf-8"><title>another site</title></head><body>
<iframe id="profile" src="${gate}?showuser=${member}&amp;session=demo" width="450" height="250"></iframe>
<iframe id="form" src="${new URL('changeprof.html', siteUrl).href}" width="450" height="250"></iframe>
<script>
window.attack = async () => {
  const bodies = [[${JSON.stringify(multipart)}, 'text/plain'],
    [new URLSearchParams(${JSON.stringify({ ...fields, id: IDS[1] })}), null]];
  for (const [body, type] of bodies) {
    await fetch(${JSON.stringify(gate)}, { mode: 'no-cors', method: 'POST', body,
      headers: type ? { 'Content-Type': type } : {} });
  }
};
</script></body></html>`;
}

// The text a frame shows: the browser's own error text for a frame it refused to show.
async function frameText(page, selector) {
  const frame = await (await page.$(selector))?.contentFrame();
  if (!frame) return '';
  return frame.evaluate(() => document.body?.innerText ?? '').catch(() => '');
}

function refusedPosts(site) {
  const log = readFileSync(site.file('logs', 'access.log'), 'latin1');
  return log.split('\n').filter((line) => /"POST \/cgi\/orvanegate\.exe [^"]*" 403 /.test(line)).length;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The server's access log holds its lines a moment before writing them.
async function refusedSince(site, before, expected) {
  const deadline = Date.now() + 15000;
  while (refusedPosts(site) - before < expected && Date.now() < deadline) await sleep(200);
  return refusedPosts(site) - before;
}

export async function crossSiteStep(page, { site, checks, shoot, member }) {
  const html = attackPage(site.url, member);
  const server = createServer((request, reply) => {
    reply.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    reply.end(html);
  });
  await new Promise((resolve, reject) => {
    server.on('error', reject);
    server.listen(0, OTHER_HOST, resolve);
  });
  try {
    const refusedBefore = refusedPosts(site);
    await page.goto(`http://${OTHER_HOST}:${server.address().port}/`, { waitUntil: 'load' });
    await page.evaluate(() => window.attack());
    checks.equal('another site: its no-cors posts are refused by the server',
      await refusedSince(site, refusedBefore, IDS.length), IDS.length);
    checks.equal('another site: no id is registered through the visitor',
      IDS.filter((id) => existsSync(site.file('data', 'members', `${id}.txt`))), []);
    const framed = { profile: await frameText(page, '#profile'), form: await frameText(page, '#form') };
    checks.truth('another site: it cannot frame the profile page or the form',
      !framed.profile.includes(member) && !framed.form.includes('Change profile'), JSON.stringify(framed));
    await shoot(page, 'other-site');

    // The same frames on the site's own page show: the frames above were refused, not empty.
    await page.goto(site.url);
    await page.evaluate(({ member: id }) => new Promise((resolve) => {
      let loading = 2;
      for (const [name, src] of [['profile', `cgi/orvanegate.exe?showuser=${id}&session=demo`],
        ['form', 'changeprof.html']]) {
        const frame = Object.assign(document.createElement('iframe'), { id: name, src });
        frame.onload = () => { loading -= 1; if (loading === 0) resolve(); };
        document.body.append(frame);
      }
    }), { member });
    const own = { profile: await frameText(page, '#profile'), form: await frameText(page, '#form') };
    checks.truth('own site: it frames its profile page and form',
      own.profile.includes(member) && own.form.includes('Change profile'), JSON.stringify(own));
  } finally {
    server.close();
  }
}
