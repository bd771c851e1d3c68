// norv serve's figures: the page's weight, the time from a click on Start
// to the first progress event the page receives (in Debian's Chromium, the
// median of RUNS tries), and the memory of norv serve with a hundred
// finished jobs in its queue, right after running them and after a restart
// that loads them from the state folder.
//
// usage: node bench/serve_figures.mjs [BUILD_DIR]   (default build/bench)
//   needs scripts/install-deps (Chromium, playwright-core); RUNS (default 5),
//   JOBS (default 100)
import { readFile, rm } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const build = path.resolve(process.argv[2] || path.join(root, 'build', 'bench'));
process.env.NORV_CLI ||= path.join(build, 'tools', 'norv');
process.env.NORV_ENGINE_BIN ||= path.join(build, 'engine', 'NorvEngine');
const runs = Number(process.env.RUNS || 5);
const jobCount = Number(process.env.JOBS || 100);

const { launchChromium, login, makeClip, request, startServe, tempFolder, until } =
  await import('../tests/web/support.mjs');

async function memory(pid) {
  const status = await readFile(`/proc/${pid}/status`, 'utf8');
  const field = (name) => Number(status.match(new RegExp(`^${name}:\\s+(\\d+) kB`, 'm'))[1]);
  return { rss: field('VmRSS'), peak: field('VmHWM') };
}

const home = await tempFolder('figures');
const media = path.join(home, 'media');
const output = path.join(home, 'out');
await makeClip(path.join(media, 'clip.mp4'), { seconds: 1, width: 320, height: 240 });
let serve = await startServe({ home, roots: [media], output });
console.log(`page weight: ${serve.page_bytes} bytes (HTML, CSS, JavaScript and icon)`);

// Start to first progress, as the page sees it.
const browser = await launchChromium();
const page = await browser.context.newPage();
await page.goto(serve.url);
await page.locator('#entries li.file button.pick').click();
await page.locator('#picked li.card .facts').waitFor();
await page.selectOption('#choice', 'profile:NP_NorvPlusHD');
const waits = [];
for (let i = 0; i < runs; i += 1) {
  await page.click('#tab-pick');
  await page.click('#add-each');
  await page.click('#tab-queue');
  await page.locator('#jobs li.job[data-state=queued]').waitFor();
  await page.click('#start');
  await page.locator('#jobs li.job[data-state=done]').first().waitFor({ timeout: 120000 });
  waits.push(await page.evaluate(() => performance.getEntriesByName('norv-first-progress')[0].startTime -
    performance.getEntriesByName('norv-start')[0].startTime));
  await page.click('#pause');
  await page.click('#clear');
  await page.locator('#jobs li.job').first().waitFor({ state: 'detached' });
}
await browser.close();
waits.sort((a, b) => a - b);
console.log(`click on Start to first progress event: median ${Math.round(waits[Math.floor(waits.length / 2)])} ms ` +
  `(${waits.map(Math.round).join(', ')})`);

// A hundred finished jobs.
const { cookie } = await login(serve);
const headers = { Cookie: cookie, Origin: serve.origin, 'Content-Type': 'application/json' };
const listing = JSON.parse((await request(serve.port, { target: '/api/browse?root=0&path=', headers })).body);
const id = listing.entries[0].id;
const before = await memory(serve.pid);
for (let i = 0; i < jobCount; i += 1) {
  await request(serve.port, { method: 'POST', target: '/api/jobs', headers,
    body: { files: [id], settings: { profile: 'NorvPlusHD' } } });
}
await request(serve.port, { method: 'POST', target: '/api/queue/start', headers, body: {} });
const started = Date.now();
await until(async () => {
  const state = JSON.parse((await request(serve.port, { target: '/api/state', headers })).body);
  return state.queue.jobs.filter((j) => j.state === 'done').length === jobCount;
}, { bound: 30 * 60000, what: `${jobCount} jobs` });
const ran = await memory(serve.pid);
console.log(`${jobCount} jobs of a 1 s clip ran in ${((Date.now() - started) / 1000).toFixed(1)} s`);
await serve.stop();
serve = await startServe({ home, roots: [media], output });
const { cookie: again } = await login(serve);
const state = JSON.parse((await request(serve.port, { target: '/api/state', headers: { Cookie: again } })).body);
const loaded = await memory(serve.pid);
const file = (await readFile(serve.queue)).length;
console.log(`norv serve memory, resident (peak):`);
console.log(`  idle, empty queue:                   ${before.rss} kB`);
console.log(`  after running ${jobCount} jobs:               ${ran.rss} kB (${ran.peak} kB)`);
console.log(`  restarted with ${state.queue.jobs.length} finished jobs:      ${loaded.rss} kB (${loaded.peak} kB)`);
console.log(`  queue file: ${file} bytes`);
await serve.stop();
await rm(home, { recursive: true, force: true });
