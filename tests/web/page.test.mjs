// norv serve's page in Debian's Chromium, as a user goes through it: pick
// two files and see their thumbnails and analysis, choose a profile and see
// the preview, queue a join and a single file (under a quality target, whose
// probe the preview waits for) and watch both finish, cancel
// a third mid-way, download an output, restart norv serve and find the
// queue, then empty it. With NORV_SCREENSHOTS=DIR it also keeps a picture
// of each screen.
import assert from 'node:assert/strict';
import { readdir, rm } from 'node:fs/promises';
import path from 'node:path';
import { after, before, it } from 'node:test';

import { launchChromium, makeClip, probe, startServe, tempFolder, until } from './support.mjs';

let home;
let media;
let output;
let serve;
let browser;

before(async () => {
  home = await tempFolder('page');
  media = path.join(home, 'videos');
  output = path.join(home, 'converted');
  await Promise.all([
    makeClip(path.join(media, 'part1.mp4')),
    makeClip(path.join(media, 'part2.mp4')),
    makeClip(path.join(media, 'single.mp4'), { seconds: 1 }),
    // Long enough to be cancelled mid-way.
    makeClip(path.join(media, 'long.mp4'), { seconds: 30, width: 640, height: 360 }),
  ]);
  serve = await startServe({ home, roots: [media], output });
  browser = await launchChromium();
});

after(async () => {
  await browser?.close();
  await serve?.stop();
  await rm(home, { recursive: true, force: true });
});

async function screenshot(page, name) {
  if (process.env.NORV_SCREENSHOTS) {
    await page.screenshot({ path: path.join(process.env.NORV_SCREENSHOTS, name), fullPage: true });
  }
}

async function pick(page, name) {
  await page.locator('#entries li.file', { hasText: name }).locator('button.pick').click();
  await page.locator('#picked li.card', { hasText: name }).locator('.facts').waitFor();
}

async function unpickAll(page) {
  while (await page.locator('#picked li.card').count()) {
    await page.locator('#picked li.card button[title=unpick]').first().click();
  }
}

const jobs = (page) => page.locator('#jobs li.job');
const job = (page, output) => jobs(page).filter({ hasText: `→ ${output}` });

it('picks, previews, queues, runs, cancels, downloads and keeps the queue', { timeout: 480000 }, async (t) => {
  const page = await browser.context.newPage();
  const failures = [];
  page.on('pageerror', (error) => failures.push(error.message));

  // The address with its token lets the browser in, and leaves the token
  // out of the address bar.
  await page.goto(serve.url);
  assert.equal(page.url(), `${serve.origin}/`);
  await assert.doesNotReject(page.locator('#link.up').waitFor());
  assert.deepEqual(await page.locator('#entries li.file .name').allTextContents(),
    ['long.mp4', 'part1.mp4', 'part2.mp4', 'single.mp4']);

  // Two files: their thumbnails in a strip, their analysis on their cards.
  await pick(page, 'part1.mp4');
  await pick(page, 'part2.mp4');
  await until(() => page.evaluate(() => [...document.querySelectorAll('#strip img')]
    .filter((img) => img.complete && img.naturalWidth > 0).length === 2), { what: 'two thumbnails' });
  const facts = await page.locator('#picked li.card', { hasText: 'part1.mp4' }).locator('.facts').textContent();
  assert.match(facts, /mp4 · 0:00:02/);
  assert.match(facts, /video H264 320×240 · 25 fps/);
  assert.match(facts, /audio AAC · 1 ch · 48000 Hz/);

  // A profile, then a picture size and a bitrate: the preview follows.
  await page.selectOption('#choice', 'profile:NP_NorvPlusHD');
  await page.locator('#preview', { hasText: '.mkv, 0:00:04 of media' }).waitFor();
  assert.match(await page.locator('#preview').textContent(), /Picture320×240, aspect 4:3/);
  await page.fill('#size', '640x480');
  await page.locator('#preview', { hasText: 'Picture640×480' }).waitFor();
  await page.fill('#video-bitrate', '900k');
  await page.selectOption('#priority', 'video-bitrate');
  await page.locator('#preview', { hasText: /Video8\d\d kb\/s/ }).waitFor();
  await screenshot(page, 'serve-pick.png');

  await page.click('#add-join');
  await page.locator('#added', { hasText: 'Queued part1.mkv.' }).waitFor();
  await unpickAll(page);
  await pick(page, 'single.mp4');
  // Every text the probing line shows, however briefly.
  await page.evaluate(() => {
    window.probingTexts = [];
    new MutationObserver(() => window.probingTexts.push(document.getElementById('probing').textContent))
      .observe(document.getElementById('probing'), { childList: true, characterData: true, subtree: true });
  });
  await page.selectOption('#quality', 'small');
  assert.ok(await page.locator('#video-bitrate').isDisabled());
  await page.locator('#preview', { hasText: /Qualitysmall: worst-1 % SSIM 0\.9200.*, chosen \d+ kb\/s/ })
    .waitFor({ timeout: 240000 });
  assert.ok(await page.locator('#probing').isHidden());
  const probingTexts = await page.evaluate(() => window.probingTexts);
  assert.ok(probingTexts.some((text) => /^Probing for quality small: \d+ % · \w/.test(text)), probingTexts.join('\n'));
  await page.click('#add-each');
  await page.locator('#added', { hasText: 'Queued single.mkv.' }).waitFor();
  await page.selectOption('#quality', '');
  await unpickAll(page);
  await pick(page, 'long.mp4');
  await page.click('#add-each');
  await page.locator('#added', { hasText: 'Queued long.mkv.' }).waitFor();

  // The queue runs its jobs one after the other; both bars reach 100 %.
  await page.click('#tab-queue');
  const order = () => jobs(page).evaluateAll((items) => items.map((i) => i.querySelector('strong').textContent.split('→ ')[1]));
  assert.deepEqual(await order(), ['part1.mkv', 'single.mkv', 'long.mkv']);
  // Reordered, then put back.
  await job(page, 'single.mkv').locator('button[title=earlier]').click();
  await until(async () => (await order())[0] === 'single.mkv', { what: 'single.mkv first' });
  await job(page, 'single.mkv').locator('button[title=later]').click();
  await until(async () => (await order())[0] === 'part1.mkv', { what: 'part1.mkv first again' });
  await page.click('#start');
  for (const name of ['part1.mkv', 'single.mkv']) {
    await job(page, name).and(page.locator('[data-state=done]')).waitFor({ timeout: 180000 });
    assert.equal(await job(page, name).locator('progress').evaluate((bar) => bar.value), 100);
    assert.match(await job(page, name).textContent(), /actual \d/);
  }
  assert.match(await job(page, 'single.mkv').locator('.quality').textContent(),
    /^quality small: \d+ kb\/s chosen, predicted worst-1 % SSIM 0\.\d{4}/);
  const waited = await page.evaluate(() => performance.getEntriesByName('norv-first-progress')[0].startTime -
    performance.getEntriesByName('norv-start')[0].startTime);
  t.diagnostic(`from a click on Start to the first progress event: ${Math.round(waited)} ms`);

  // The third is cancelled once it is under way: nothing of it stays.
  const long = job(page, 'long.mkv');
  await until(() => long.locator('progress').evaluate((bar) => bar.value > 0), { bound: 120000, what: 'the long job to run' });
  await screenshot(page, 'serve-queue.png');
  await long.locator('button.cancel').click();
  await long.and(page.locator('[data-state=cancelled]')).waitFor({ timeout: 60000 });
  assert.deepEqual((await readdir(output)).sort(), ['part1.mkv', 'single.mkv']);
  assert.deepEqual(await readdir(path.join(home, 'state', 'norv', 'serve-logs')), []);

  // A finished job tells its result and the engine's last words, and hands
  // out its output.
  const joined = job(page, 'part1.mkv');
  assert.match(await joined.locator('.result').textContent(), /^SUCCESS \(0\)/);
  await joined.locator('details summary').click();
  assert.match(await joined.locator('details pre').textContent(), /INFO/);
  const [download] = await Promise.all([page.waitForEvent('download'), joined.locator('a.download').click()]);
  assert.equal(download.suggestedFilename(), 'part1.mkv');
  const saved = path.join(home, 'downloaded.mkv');
  await download.saveAs(saved);
  const facts2 = await probe(saved);
  assert.ok(Math.abs(Number(facts2.format.duration) - 4) < 0.3, `duration ${facts2.format.duration}`);
  assert.deepEqual(facts2.streams.map((s) => s.codec_type).sort(), ['audio', 'video']);

  // norv serve stopped, then started again on its port: the old page is
  // told of each; the new address finds the queue.
  await serve.stop();
  await page.locator('#banner', { hasText: 'not answering' }).waitFor({ timeout: 30000 });
  serve = await startServe({ home, roots: [media], output, port: serve.port });
  await page.locator('#banner', { hasText: 'restarted or stopped' }).waitFor({ timeout: 30000 });
  await page.goto(serve.url);
  await page.click('#tab-queue');
  await until(async () => (await jobs(page).count()) === 3, { what: 'the kept queue' });
  assert.deepEqual(await page.locator('#jobs li.job').evaluateAll((items) => items.map((i) => i.dataset.state)),
    ['done', 'done', 'cancelled']);
  await job(page, 'long.mkv').locator('button.remove').click();
  await until(async () => (await jobs(page).count()) === 2, { what: 'the removal' });
  await page.click('#clear');
  await page.locator('#queue-empty').waitFor();
  assert.equal(await jobs(page).count(), 0);
  assert.deepEqual(failures, []);
});
