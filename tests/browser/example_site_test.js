'use strict';
// Compiles examples/site with the zeviziz binary ($ZEVIZIZ_BINARY) into a new
// temporary directory, serves the output on 127.0.0.1 and checks it in
// headless Chromium ($ZEVIZIZ_CHROMIUM): computed styles of chosen elements
// at a narrow and a wide viewport, the menu after a click, hovered elements,
// and that every page finds its style sheets. Chromium is driven over the
// DevTools protocol on a pipe (--remote-debugging-pipe), so the test needs no
// npm package. Mouse clicks and hovers are real input events.
// Exit status: 0 when every check passes, 1 otherwise.

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { spawn, spawnSync } = require('child_process');

const binary = process.env.ZEVIZIZ_BINARY;
const sourceDir = process.env.ZEVIZIZ_SOURCE_DIR || path.resolve(__dirname, '..', '..');
const chromium = process.env.ZEVIZIZ_CHROMIUM || '/usr/bin/chromium';
const NARROW = 375;
const MIDDLE = 700;
const WIDE = 1280;
const CALL_TIMEOUT_MS = 30000;
const TOTAL_TIMEOUT_MS = 240000;

const BROWN = 'rgb(138, 75, 8)';
const DARK_BROWN = 'rgb(109, 59, 6)';
const CARD = 'rgb(255, 248, 239)';
const RYE_CARD = 'rgb(253, 241, 224)';
const SHADOW = 'rgba(0, 0, 0, 0.15) 0px 1px 3px 0px';
const RAISED_SHADOW = 'rgba(0, 0, 0, 0.2) 0px 4px 12px 0px';

const failures = [];
let checks = 0;

// Records a failure unless `actual` equals `expected` (or matches it, when
// `expected` is a regular expression).
function check(label, actual, expected) {
  checks++;
  const ok = expected instanceof RegExp ? expected.test(String(actual)) : actual === expected;
  if (!ok) failures.push(`${label}: expected ${expected}, got ${JSON.stringify(actual)}`);
}

function withTimeout(promise, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out: ${what}`)), CALL_TIMEOUT_MS);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// Copies the example's configuration and sources into `work`, builds there,
// and checks that the build is silent and leaves no style region as text.
function compileSite(work) {
  const site = path.join(sourceDir, 'examples', 'site');
  fs.cpSync(path.join(site, 'zeviziz.ini'), path.join(work, 'zeviziz.ini'));
  fs.cpSync(path.join(site, 'src'), path.join(work, 'src'), { recursive: true });
  const run = spawnSync(binary, [], { cwd: work, encoding: 'utf8' });
  if (run.error) throw run.error;
  if (run.status !== 0) throw new Error(`zeviziz exited with ${run.status}: ${run.stderr}`);
  check('zeviziz standard error', run.stderr, '');
  const out = path.join(work, 'out');
  check('velt.css written', fs.existsSync(path.join(out, 'velt.css')), true);
  const region = /(^|[\s"'`])!(\{|at\(|id\(|copy\(|:|@|\.)/m;
  for (const file of fs.readdirSync(out, { recursive: true })) {
    if (!/\.(html|php|js|css)$/.test(file)) continue;
    const text = fs.readFileSync(path.join(out, file), 'utf8');
    const found = text.match(region);
    check(`no style region left as text in out/${file}`, found ? found[0] : null, null);
  }
  return out;
}

const CONTENT_TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.php': 'text/html; charset=utf-8',
  '.css': 'text/css',
  '.js': 'text/javascript',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
};

// Serves `root` on 127.0.0.1; .php pages are run through the php command
// when it exists. Requests for missing files are collected in `missing`.
function serve(root, missing) {
  const hasPhp = spawnSync('php', ['--version']).status === 0;
  const server = http.createServer((request, response) => {
    const urlPath = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    const file = path.join(root, urlPath);
    if (!file.startsWith(root + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      if (urlPath !== '/favicon.ico') missing.push(urlPath);
      response.writeHead(404).end();
      return;
    }
    const type = CONTENT_TYPES[path.extname(file)] || 'application/octet-stream';
    let body = fs.readFileSync(file);
    if (file.endsWith('.php')) {
      if (!hasPhp) {
        missing.push(`${urlPath} (php not installed)`);
        response.writeHead(404).end();
        return;
      }
      body = spawnSync('php', [file], { cwd: path.dirname(file) }).stdout;
    }
    response.writeHead(200, { 'Content-Type': type }).end(body);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({ server, hasPhp }));
  });
}

// A DevTools-protocol connection over Chromium's pipe: requests go to fd 3,
// replies and events come from fd 4, each message ending in a NUL byte.
class Cdp {
  constructor(proc) {
    this.proc = proc;
    this.nextId = 1;
    this.pending = new Map();
    this.waiters = [];
    this.buffer = Buffer.alloc(0);
    proc.stdio[4].on('data', (chunk) => this.receive(chunk));
  }

  receive(chunk) {
    this.buffer = Buffer.concat([this.buffer, chunk]);
    let end;
    while ((end = this.buffer.indexOf(0)) >= 0) {
      const message = JSON.parse(this.buffer.subarray(0, end).toString('utf8'));
      this.buffer = this.buffer.subarray(end + 1);
      this.dispatch(message);
    }
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const call = this.pending.get(message.id);
      if (!call) return;
      this.pending.delete(message.id);
      if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
      else call.resolve(message.result);
      return;
    }
    const index = this.waiters.findIndex(
      (w) => w.method === message.method && w.sessionId === message.sessionId);
    if (index >= 0) this.waiters.splice(index, 1)[0].resolve(message.params);
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    const reply = new Promise((resolve, reject) => this.pending.set(id, { resolve, reject, method }));
    this.proc.stdio[3].write(JSON.stringify(message) + '\0');
    return withTimeout(reply, method);
  }

  // Resolves with the parameters of the next event `method` of the session.
  waitFor(method, sessionId) {
    const event = new Promise((resolve) => this.waiters.push({ method, sessionId, resolve }));
    return withTimeout(event, method);
  }
}

class Page {
  constructor(cdp, sessionId, base) {
    this.cdp = cdp;
    this.sessionId = sessionId;
    this.base = base;
  }

  send(method, params) {
    return this.cdp.send(method, params, this.sessionId);
  }

  async open(file, width) {
    this.label = `${file} at ${width}px`;
    await this.send('Emulation.setDeviceMetricsOverride',
      { width, height: 900, deviceScaleFactor: 1, mobile: false });
    const loaded = this.cdp.waitFor('Page.loadEventFired', this.sessionId);
    const navigation = await this.send('Page.navigate', { url: this.base + file });
    if (navigation.errorText) throw new Error(`${file}: ${navigation.errorText}`);
    await loaded;
  }

  // Evaluates `expression` in the page after two animation frames, so that
  // styles reflect the latest input, and returns its value.
  async eval(expression) {
    const settled = `new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))` +
      `.then(() => (${expression}))`;
    const reply = await this.send('Runtime.evaluate',
      { expression: settled, returnByValue: true, awaitPromise: true });
    if (reply.exceptionDetails) {
      const details = reply.exceptionDetails;
      throw new Error(`${this.label}: ${details.exception ? details.exception.description : details.text}`);
    }
    return reply.result.value;
  }

  style(selector, property) {
    return this.eval(`(() => {
      const element = document.querySelector(${JSON.stringify(selector)});
      return element ? getComputedStyle(element).getPropertyValue(${JSON.stringify(property)})
                     : 'no element ' + ${JSON.stringify(selector)};
    })()`);
  }

  // Checks each [selector, property, expected] of `expectations`.
  async expect(expectations, state = '') {
    for (const [selector, property, expected] of expectations) {
      const actual = await this.style(selector, property);
      check(`${this.label}${state}: ${selector} ${property}`, actual, expected);
    }
  }

  async centre(selector) {
    return this.eval(`(() => {
      const element = document.querySelector(${JSON.stringify(selector)});
      element.scrollIntoView({ block: 'center' });
      const box = element.getBoundingClientRect();
      return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    })()`);
  }

  async hover(selector) {
    const { x, y } = await this.centre(selector);
    await this.send('Input.dispatchMouseEvent', { type: 'mouseMoved', x, y });
  }

  async click(selector) {
    const { x, y } = await this.centre(selector);
    await this.send('Input.dispatchMouseEvent', { type: 'mouseMoved', x, y });
    for (const type of ['mousePressed', 'mouseReleased']) {
      await this.send('Input.dispatchMouseEvent', { type, x, y, button: 'left', clickCount: 1 });
    }
  }

  // Every style sheet link of the page must have loaded, and css/site.css
  // (linked by relative path like velt.css) must apply.
  async expectStyleSheets() {
    const links = await this.eval(`[...document.querySelectorAll('link[rel=stylesheet]')]
      .map((link) => link.getAttribute('href') + (link.sheet ? '' : ' (not loaded)'))`);
    check(`${this.label}: style sheet links`, links.filter((l) => l.endsWith('(not loaded)')).join(', '), '');
    check(`${this.label}: links velt.css`, links.some((l) => /(^|\/)velt\.css$/.test(l)), true);
    await this.expect([['html', 'scroll-behavior', 'smooth']]);
  }
}

async function checkIndex(page) {
  await page.open('index.html', NARROW);
  await page.expectStyleSheets();
  await page.expect([
    ['body', 'margin-top', '0px'],
    ['body', 'color', 'rgb(43, 33, 24)'],
    ['header', 'padding-left', '16px'],
    ['#menu', 'display', 'none'],
    ['#menu-toggle', 'display', 'block'],
    ['h1', 'font-size', '32px'],
    ['.grid', 'grid-template-columns', /^[\d.]+px$/],
    ['.card:nth-child(1)', 'background-color', CARD],
    ['.card:nth-child(1)', 'padding-top', '16px'],
    ['.card:nth-child(2)', 'background-color', RYE_CARD],
    ['.card:nth-child(2)', 'border-top-left-radius', '8px'],
    ['.card:nth-child(3)', 'background-color', CARD],
    ['.card:nth-child(3)', 'padding-top', '16px'],
    ['.card:nth-child(3)', 'border-top-left-radius', '8px'],
    ['.card:nth-child(3)', 'box-shadow', SHADOW],
  ]);
  await page.click('#menu-toggle');
  await page.expect([
    ['#menu', 'display', 'flex'],
    ['#menu', 'flex-direction', 'column'],
    ['#menu', 'border-top-width', '1px'],
    ['#menu', 'padding-top', '8px'],
    ['#menu a', 'color', BROWN],
  ], ' after a click on the menu button');
  await page.click('#menu-toggle');
  await page.expect([['#menu', 'display', 'none']], ' after a second click');

  await page.send('Emulation.setEmulatedMedia', { media: 'print' });
  await page.expect([['#menu-toggle', 'display', 'none']], ' in print');
  await page.send('Emulation.setEmulatedMedia', { media: '' });

  await page.open('index.html', WIDE);
  await page.expect([
    ['header', 'padding-left', '48px'],
    ['#menu', 'display', 'flex'],
    ['#menu', 'flex-direction', 'row'],
    ['#menu', 'column-gap', '24px'],
    ['#menu-toggle', 'display', 'none'],
    ['h1', 'font-size', '48px'],
    ['.grid', 'grid-template-columns', /^[\d.]+px [\d.]+px [\d.]+px$/],
    ['.card:nth-child(3)', 'box-shadow', SHADOW],
    ['.button', 'background-color', BROWN],
  ]);
  await page.hover('.card:nth-child(3)');
  await page.expect([
    ['.card:nth-child(3)', 'box-shadow', RAISED_SHADOW],
    ['.card:nth-child(1)', 'box-shadow', SHADOW],
  ], ' with the third card hovered');
  await page.hover('.button');
  await page.expect([
    ['.button', 'background-color', DARK_BROWN],
    ['.card:nth-child(3)', 'box-shadow', SHADOW],
  ], ' with the button hovered');
}

async function checkAbout(page) {
  const note = 'main > p';
  await page.open('about.html', NARROW);
  await page.expectStyleSheets();
  await page.expect([
    ['section', 'flex-direction', 'column'],
    ['img', 'width', '160px'],
    ['em', 'color', BROWN],
    ['em', 'font-style', 'normal'],
    [note, 'display', 'block'],
  ]);
  await page.open('about.html', MIDDLE);
  await page.expect([[note, 'display', 'none']]);
  await page.open('about.html', WIDE);
  await page.expect([['section', 'flex-direction', 'row'], [note, 'display', 'block']]);
}

async function checkPost(page) {
  for (const width of [NARROW, WIDE]) {
    await page.open('blog/first-post.html', width);
    await page.expectStyleSheets();
    await page.expect([
      ['body', 'margin-top', '0px'],
      ['article p:nth-of-type(2)', 'line-height', '27.2px'],
      ['h1 + p', 'font-size', '20px'],
      ['blockquote', 'border-left-width', '4px'],
      ['blockquote', 'border-left-color', 'rgb(224, 201, 166)'],
    ]);
  }
}

async function checkContact(page) {
  await page.open('contact.php', NARROW);
  await page.expectStyleSheets();
  await page.expect([
    ['form', 'display', 'grid'],
    ['textarea', 'padding-top', '8px'],
    ['button', 'background-color', BROWN],
    ['.note', 'color', 'rgb(122, 106, 90)'],
    ['.note', 'font-size', '14px'],
  ]);
}

function launchChromium(profile) {
  const args = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-dev-shm-usage', `--user-data-dir=${profile}`, '--remote-debugging-pipe', 'about:blank'];
  // Chromium keeps crash reports and caches below the home directory
  // whatever the profile is; point those at the temporary profile too.
  const env = { ...process.env, HOME: profile, XDG_CONFIG_HOME: path.join(profile, 'config'),
    XDG_CACHE_HOME: path.join(profile, 'cache') };
  const proc = spawn(chromium, args, { env, stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  proc.log = '';
  proc.stderr.on('data', (chunk) => { proc.log = (proc.log + chunk).slice(-4000); });
  proc.exited = new Promise((resolve) => proc.on('exit', resolve));
  return proc;
}

async function stopChromium(proc, cdp) {
  if (proc.exitCode !== null || proc.signalCode !== null) return;
  cdp.send('Browser.close').catch(() => {});
  const timer = setTimeout(() => proc.kill('SIGKILL'), 5000);
  await proc.exited;
  clearTimeout(timer);
}

// What the deadline has to clean up when the test hangs.
const running = { proc: undefined, dirs: [] };

function removeDirs() {
  for (const dir of running.dirs) fs.rmSync(dir, { recursive: true, force: true });
}

async function main() {
  if (!binary) throw new Error('ZEVIZIZ_BINARY is not set');
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'zeviziz-browser-site-'));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'zeviziz-browser-profile-'));
  running.dirs.push(work, profile);
  let proc;
  let cdp;
  let server;
  try {
    const out = compileSite(work);
    const missing = [];
    let hasPhp;
    ({ server, hasPhp } = await serve(out, missing));
    const base = `http://127.0.0.1:${server.address().port}/`;
    proc = running.proc = launchChromium(profile);
    cdp = new Cdp(proc);
    const { targetId } = await cdp.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await cdp.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(cdp, sessionId, base);
    await page.send('Page.enable');
    await checkIndex(page);
    await checkAbout(page);
    await checkPost(page);
    if (hasPhp) await checkContact(page);
    else console.log('note: php not installed, contact.php not checked');
    check('requests for missing files', missing.join(', '), '');
  } catch (error) {
    failures.push(`${error.message}${proc && proc.log ? `\nchromium said:\n${proc.log}` : ''}`);
  } finally {
    if (proc) await stopChromium(proc, cdp);
    if (server) server.close();
    removeDirs();
  }
  for (const failure of failures) console.log(`FAILED: ${failure}`);
  console.log(`browser test of examples/site: ${checks - failures.length} of ${checks} checks passed`);
  return failures.length === 0 ? 0 : 1;
}

const deadline = setTimeout(() => {
  console.log('FAILED: the browser test took longer than 4 minutes');
  if (running.proc) running.proc.kill('SIGKILL');
  removeDirs();
  process.exit(1);
}, TOTAL_TIMEOUT_MS);
main().then((status) => {
  clearTimeout(deadline);
  process.exitCode = status;
});
