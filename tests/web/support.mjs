// What the page's tests share: small clips made with ffmpeg, norv serve
// started as a user starts it (and stopped the way Ctrl-C stops it), plain
// HTTP requests that send exactly the target and headers given, and
// Debian's Chromium.
import { execFile, spawn } from 'node:child_process';
import { mkdtemp, mkdir, rm } from 'node:fs/promises';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { createInterface } from 'node:readline';
import { promisify } from 'node:util';

const run = promisify(execFile);

export const norv = process.env.NORV_CLI;
export const engine = process.env.NORV_ENGINE_BIN;
export const chromiumPath = process.env.NORV_CHROMIUM || '/usr/bin/chromium';
if (!norv || !engine) {
  throw new Error('NORV_CLI and NORV_ENGINE_BIN name norv and NorvEngine (ctest sets them)');
}

export async function tempFolder(prefix) {
  return mkdtemp(path.join(os.tmpdir(), `norv-web-${prefix}-`));
}

// A clip of a test pattern (lavfi's testsrc, or another of its sources)
// with a tone: seconds long, w x h.
export async function makeClip(file, { seconds = 2, width = 320, height = 240, pattern = 'testsrc' } = {}) {
  await mkdir(path.dirname(file), { recursive: true });
  await run('ffmpeg', ['-nostdin', '-loglevel', 'error', '-y',
    '-f', 'lavfi', '-i', `${pattern}=size=${width}x${height}:rate=25:duration=${seconds}`,
    '-f', 'lavfi', '-i', `sine=frequency=440:sample_rate=48000:duration=${seconds}`,
    '-c:v', 'libx264', '-preset', 'ultrafast', '-pix_fmt', 'yuv420p', '-c:a', 'aac', '-shortest', file]);
}

export async function probe(file) {
  const { stdout } = await run('ffprobe', ['-v', 'error', '-show_format', '-show_streams', '-of', 'json', file]);
  return JSON.parse(stdout);
}

// norv serve on a free port, its state and caches under home, env added to
// its environment. Resolves once it printed its address.
export async function startServe({ home, roots, output, port = 0, extra = [], env = {} }) {
  const args = ['--engine', engine, '--json', 'serve', '--port', String(port), '--output', output, ...extra];
  for (const root of roots) args.push('--root', root);
  const child = spawn(norv, args, {
    env: {
      ...process.env,
      XDG_STATE_HOME: path.join(home, 'state'),
      XDG_CONFIG_HOME: path.join(home, 'config'),
      XDG_CACHE_HOME: path.join(home, 'cache'),
      ...env,
    },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let errors = '';
  child.stderr.on('data', (chunk) => { errors += chunk; });
  const ended = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const lines = createInterface({ input: child.stdout });
  const first = await Promise.race([
    new Promise((resolve) => lines.once('line', resolve)),
    ended.then(({ code }) => { throw new Error(`norv serve ended (${code}): ${errors}`); }),
  ]);
  const started = JSON.parse(first);
  return {
    ...started,
    pid: child.pid,
    origin: `http://127.0.0.1:${started.port}`,
    errors: () => errors,
    // Stops it as Ctrl-C would; it must end cleanly (sanitizers report
    // through the exit status).
    async stop() {
      child.kill('SIGINT');
      const timer = setTimeout(() => child.kill('SIGKILL'), 60000);
      const end = await ended;
      clearTimeout(timer);
      if (end.code !== 0) throw new Error(`norv serve ended with ${end.code ?? end.signal}: ${errors}`);
    },
  };
}

// One request with exactly this target and these headers (no URL clean-up,
// no Host or Origin of the client's own).
export function request(port, { method = 'GET', target, headers = {}, body, host = `127.0.0.1:${port}` }) {
  return new Promise((resolve, reject) => {
    const req = http.request({
      host: '127.0.0.1', port, method, path: target, setHost: false,
      headers: { Host: host, ...headers },
    }, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => { text += chunk; });
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: text }));
    });
    req.on('error', reject);
    if (body !== undefined) req.write(typeof body === 'string' ? body : JSON.stringify(body));
    req.end();
  });
}

// The session cookie, from the address with its token.
export async function login(serve) {
  const url = new URL(serve.url);
  const answer = await request(serve.port, { target: url.pathname + url.search });
  if (answer.status !== 303) throw new Error(`login: ${answer.status} ${answer.body}`);
  const cookie = answer.headers['set-cookie'][0];
  return { cookie: cookie.split(';')[0], setCookie: cookie };
}

// Debian's Chromium with an empty profile of its own, nothing fetched from
// the network.
export async function launchChromium() {
  const { chromium } = await import('playwright-core');
  const profile = await tempFolder('profile');
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1360, height: 860 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  return {
    context,
    async close() {
      await context.close();
      await rm(profile, { recursive: true, force: true });
    },
  };
}

// Waits for check() to return a truthy value, polling; fails after bound ms.
export async function until(check, { bound = 60000, what = 'a condition' } = {}) {
  const end = Date.now() + bound;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}
