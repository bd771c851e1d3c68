// norv serve over plain HTTP: what it refuses, its event stream's heartbeat
// and replay after a reconnect, and a quality target's preview and job.
import assert from 'node:assert/strict';
import { mkdir, readdir, rm, symlink, writeFile } from 'node:fs/promises';
import { existsSync } from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { execFileSync } from 'node:child_process';

import { engine, login, makeClip, norv, request, startServe, tempFolder, until } from './support.mjs';

let home;
let serve;
let cookie;
let setCookie;

before(async () => {
  home = await tempFolder('http');
  const media = path.join(home, 'media');
  await makeClip(path.join(media, 'clip.mp4'), { pattern: 'testsrc2' });
  // Long and large enough that its probe's first point takes a while.
  await makeClip(path.join(media, 'long.mp4'), { pattern: 'testsrc2', seconds: 40, width: 640, height: 360 });
  await mkdir(path.join(home, 'tmp'));
  // A sibling whose name starts like the root's, a folder outside, and two
  // links from inside the root to them.
  await mkdir(path.join(home, 'media2'));
  await writeFile(path.join(home, 'media2', 'other.mp4'), 'not for the page');
  await mkdir(path.join(home, 'secret'));
  await writeFile(path.join(home, 'secret', 'key.txt'), 'not for the page');
  await symlink(path.join(home, 'secret'), path.join(media, 'escape'));
  await symlink('../media2', path.join(media, 'm2'));
  await symlink(path.join(home, 'secret', 'key.txt'), path.join(media, 'key.mp4'));
  const presets = path.join(home, 'presets');
  execFileSync(norv, ['--engine', engine, 'presets', 'save', presets, 'phone', '--profile', 'NorvPlusHD', '--size', '320x180']);
  serve = await startServe({
    home, roots: [media], output: path.join(home, 'out'), extra: ['--heartbeat', '0.3', '--presets', presets],
    env: { TMPDIR: path.join(home, 'tmp') },
  });
  ({ cookie, setCookie } = await login(serve));
});

after(async () => {
  await serve?.stop();
  await rm(home, { recursive: true, force: true });
});

const get = (target, extra = {}) => request(serve.port, { target, headers: { Cookie: cookie }, ...extra });

// Reads events from /api/events until count of them arrived, or enough(events) holds.
function events(lastEventId, enough) {
  const done = typeof enough === 'number' ? (got) => got.length >= enough : enough;
  return new Promise((resolve, reject) => {
    const headers = { Host: `127.0.0.1:${serve.port}`, Cookie: cookie };
    if (lastEventId) headers['Last-Event-ID'] = lastEventId;
    const req = http.get({ host: '127.0.0.1', port: serve.port, path: '/api/events', setHost: false, headers }, (res) => {
      assert.equal(res.headers['content-type'], 'text/event-stream');
      let text = '';
      const got = [];
      let heartbeats = 0;
      res.setEncoding('utf8');
      res.on('data', (chunk) => {
        text += chunk;
        let end;
        while ((end = text.indexOf('\n\n')) >= 0) {
          const block = text.slice(0, end);
          text = text.slice(end + 2);
          if (block.startsWith(': heartbeat')) heartbeats += 1;
          const fields = Object.fromEntries(block.split('\n').filter((l) => /^(id|event|data): /.test(l))
            .map((l) => [l.slice(0, l.indexOf(':')), l.slice(l.indexOf(':') + 2)]));
          if (fields.event) got.push(fields);
          if (done(got)) {
            req.destroy();
            resolve({ got, heartbeats });
          }
        }
      });
    });
    req.on('error', (error) => { if (error.code !== 'ECONNRESET') reject(error); });
  });
}

describe('refusals', () => {
  it('lets nobody in without the token, and sets a strict cookie for it', async () => {
    assert.match(setCookie, /; HttpOnly/);
    assert.match(setCookie, /; SameSite=Strict/);
    for (const target of ['/', '/app.js', '/api/state', '/api/events', '/?token=0123', '/?token=']) {
      assert.equal((await request(serve.port, { target })).status, 401, target);
    }
    assert.equal((await get('/api/state', { headers: { Cookie: 'norv_1=x' } })).status, 401);
    assert.equal((await get('/api/state')).status, 200);
  });

  it('answers only to its own address (no DNS rebinding)', async () => {
    for (const host of ['evil.example', `evil.example:${serve.port}`, `127.0.0.1:${serve.port + 1}`,
      `localhost.evil.example:${serve.port}`, '']) {
      assert.equal((await get('/api/state', { host })).status, 403, host);
    }
    for (const host of [`127.0.0.1:${serve.port}`, `localhost:${serve.port}`, `[::1]:${serve.port}`]) {
      assert.equal((await get('/api/state', { host })).status, 200, host);
    }
  });

  it('takes changes only from its own origin', async () => {
    const post = (origin) => request(serve.port, {
      method: 'POST', target: '/api/queue/pause', body: '{}',
      headers: { Cookie: cookie, 'Content-Type': 'application/json', ...(origin ? { Origin: origin } : {}) },
    });
    for (const origin of ['http://evil.example', 'null', `http://localhost:${serve.port}`, undefined]) {
      assert.equal((await post(origin)).status, 403, String(origin));
    }
    assert.equal((await post(serve.origin)).status, 200);
  });

  it('keeps every path inside the roots', async () => {
    const cases = [
      ['..', 403],
      ['../media2', 403],
      ['%2e%2e', 403],
      ['%2E%2E%2Fmedia2', 403],
      ['sub/..%2f..', 403],
      ['escape', 403], // a link out of the root
      ['m2', 403], // the sibling /media2, which a plain prefix check lets through for /media
      ['key.mp4', 403],
      ['/etc', 400],
      [encodeURIComponent(path.join(serve.output, '..')), 400],
    ];
    for (const [relative, status] of cases) {
      const answer = await get(`/api/browse?root=0&path=${relative}`);
      assert.equal(answer.status, status, `${relative}: ${answer.body}`);
    }
    const listing = JSON.parse((await get('/api/browse?root=0&path=')).body);
    assert.deepEqual(listing.entries.map((e) => e.name), ['clip.mp4', 'long.mp4']);
    // The page's own files and the API by their names only.
    for (const target of ['/%2e%2e/%2e%2e/etc/passwd', '/../../etc/passwd', '/api/files/..%2f..%2fetc%2fpasswd/thumbnail',
      '/api/files/%2e%2e/analysis', '/api/jobs/..%2fsecret/output', '/api/browse/../state']) {
      assert.equal((await get(target)).status, 404, target);
    }
  });
});

describe('presets', () => {
  it('offers the stored presets, by name only', async () => {
    const state = JSON.parse((await get('/api/state')).body);
    assert.deepEqual(state.presets.map((p) => [p.preset, p.profile]), [['phone', 'NP_NorvPlusHD']]);
    const listing = JSON.parse((await get('/api/browse?root=0&path=')).body);
    const preview = (settings) => request(serve.port, {
      method: 'POST', target: '/api/preview', body: { files: [listing.entries[0].id], settings },
      headers: { Cookie: cookie, Origin: serve.origin, 'Content-Type': 'application/json' },
    });
    const phone = await preview({ preset: 'phone' });
    assert.equal(phone.status, 200, phone.body);
    const made = JSON.parse(phone.body);
    assert.equal(made.profile, 'NP_NorvPlusHD');
    // The preset's 320x180 box, not the source's 320x240.
    assert.ok(made.height < 200, `${made.width}x${made.height}`);
    for (const preset of ['../presets/phone', 'nothere', '..']) {
      const refused = await preview({ preset });
      assert.equal(refused.status, 400, preset);
      assert.match(JSON.parse(refused.body).error, /preset/);
    }
  });
});

describe('event stream', () => {
  const command = (what) => request(serve.port, {
    method: 'POST', target: `/api/queue/${what}`, body: '{}', headers: { Cookie: cookie, Origin: serve.origin },
  });

  it('replays what a page missed while it reconnected, and beats while idle', async () => {
    const first = await events(undefined, 1);
    assert.equal(first.got[0].event, 'snapshot');
    // Missed: two changes while no stream was open.
    await command('start');
    await command('pause');
    const again = await events(first.got[0].id, 2);
    assert.deepEqual(again.got.map((e) => [e.event, JSON.parse(e.data).running]), [['queue', true], ['queue', false]]);
    // Too old to replay (another start's identifier): a snapshot.
    assert.equal((await events('elsewhere.5', 1)).got[0].event, 'snapshot');
    // Nothing happens; the heartbeat still comes (every 0.3 s here).
    const quiet = await new Promise((resolve) => {
      const req = http.get({ host: '127.0.0.1', port: serve.port, path: '/api/events', setHost: false,
        headers: { Host: `127.0.0.1:${serve.port}`, Cookie: cookie } }, (res) => {
        let text = '';
        res.on('data', (chunk) => {
          text += chunk;
          if (text.includes(': heartbeat')) { req.destroy(); resolve(true); }
        });
      });
      req.on('error', () => {});
    });
    assert.ok(quiet);
  });
});

describe('quality target', () => {
  const post = (target, body) => request(serve.port, {
    method: 'POST', target, body, headers: { Cookie: cookie, Origin: serve.origin, 'Content-Type': 'application/json' },
  });
  const queue = async () => JSON.parse((await get('/api/state')).body).queue.jobs;
  let file;
  let long;
  before(async () => {
    [file, long] = JSON.parse((await get('/api/browse?root=0&path=')).body).entries.map((e) => e.id);
  });

  it('refuses a target it cannot read, for a preview and for a job', async () => {
    const cases = [
      [{ quality: 'best' }, /^quality: 'best': expected high, standard, small or a number from 0.5 to 0.999$/],
      [{ quality: '1.2' }, /^quality: '1.2': expected/],
      [{ quality: '0.4' }, /^quality: '0.4': expected/],
      [{ quality: 0.95 }, /^quality: expected a text$/],
      [{ quality: 'high', video_bitrate: '900k' }, /^quality: the target chooses the video bitrate/],
    ];
    for (const [extra, error] of cases) {
      for (const target of ['/api/preview', '/api/jobs']) {
        const answer = await post(target, { files: [file], settings: { profile: 'NP_NorvPlusHD', ...extra } });
        assert.equal(answer.status, 400, `${target} ${JSON.stringify(extra)}: ${answer.body}`);
        assert.match(JSON.parse(answer.body).error, error);
      }
    }
    assert.deepEqual(await queue(), []);
  });

  it('shows a job whose settings were sent as null', async () => {
    const added = await post('/api/jobs', { files: [file], settings: { profile: 'NP_NorvPlusHD', preset: null, quality: null } });
    assert.equal(added.status, 200, added.body);
    const [{ id }] = JSON.parse(added.body).jobs;
    const job = (await queue()).find((j) => j.id === id);
    assert.equal(job.preset, '');
    assert.equal(job.quality_target, '');
    assert.equal((await post(`/api/jobs/${id}/remove`, {})).status, 200);
  });

  it('runs a job under a target, telling where its probe is, and previews the bitrate chosen', { timeout: 480000 }, async () => {
    const settings = { profile: 'NP_NorvPlusHD', quality: 'standard' };
    const added = await post('/api/jobs', { files: [file], settings });
    assert.equal(added.status, 200, added.body);
    const [{ id }] = JSON.parse(added.body).jobs;
    const [{ id: since }] = (await events(undefined, 1)).got;
    assert.equal((await post('/api/queue/start', {})).status, 200);
    // Every event since the start, until the job's probe told where it is
    // (or the job was planned or ended without).
    const told = (e) => e.event === 'probe' && JSON.parse(e.data).id === id;
    const over = (e) => e.event === 'job' && JSON.parse(e.data).id === id &&
      (JSON.parse(e.data).quality !== null || !['queued', 'running'].includes(JSON.parse(e.data).state));
    const { got } = await events(since, (list) => list.some((e) => told(e) || over(e)));
    const probing = got.find(told);
    assert.ok(probing, 'a probe event of the job');
    const { percent, step } = JSON.parse(probing.data);
    assert.ok(Number.isInteger(percent) && percent >= 0 && percent <= 100, `${percent}`);
    assert.match(step, /^(finding scene cuts|reading the samples|encoding the samples|measuring the samples)/);
    const ended = await until(async () => (await queue()).find((j) => j.id === id && !['queued', 'running'].includes(j.state)),
      { bound: 400000, what: 'the job under a target to end' });
    assert.equal(ended.state, 'done', ended.error);
    assert.equal(ended.quality_target, 'standard');
    assert.equal(ended.probe, null);
    assert.ok(ended.output_size > 0);

    const answer = await post('/api/preview', { files: [file], settings, probe: 'p1' });
    assert.equal(answer.status, 200, answer.body);
    const preview = JSON.parse(answer.body);
    const planned = preview.quality;
    assert.equal(planned.target, 'standard');
    assert.equal(planned.target_worst_ssim, 0.95);
    assert.ok(planned.chosen_kbps >= preview.video_kbps_range[0] && planned.chosen_kbps <= preview.video_kbps_range[1],
      `${planned.chosen_kbps} kb/s`);
    assert.ok(planned.predicted_worst_ssim > 0.5, `${planned.predicted_worst_ssim}`);
    assert.equal(preview.estimated_size, planned.predicted_size);
    assert.ok(Array.isArray(planned.notes));
    // Planned again from the probe the job left in the cache.
    assert.equal(planned.chosen_kbps, ended.quality.chosen_kbps);
    assert.equal(planned.probe_cached, true);
  });

  it('stops a job cancelled while its probe runs, leaving nothing behind', { timeout: 480000 }, async () => {
    const names = async (...folder) => {
      const where = path.join(home, ...folder);
      return existsSync(where) ? (await readdir(where)).sort() : [];
    };
    const probes = await names('cache', 'norv', 'probes');
    const added = await post('/api/jobs', { files: [long], settings: { profile: 'NP_NorvPlusHD', quality: 'high' } });
    assert.equal(added.status, 200, added.body);
    const [{ id }] = JSON.parse(added.body).jobs;
    const [{ id: since }] = (await events(undefined, 1)).got;
    assert.equal((await post('/api/queue/start', {})).status, 200);
    await events(since, (list) => list.some((e) => e.event === 'probe' && JSON.parse(e.data).id === id));
    assert.equal((await post(`/api/jobs/${id}/cancel`, {})).status, 200);
    const ended = await until(async () => (await queue()).find((j) => j.id === id && !['queued', 'running'].includes(j.state)),
      { bound: 400000, what: 'the cancelled job to end' });
    assert.equal(ended.state, 'cancelled', ended.error);
    // Stopped inside its probe: never planned, nothing cached, no scratch.
    assert.equal(ended.quality, null);
    assert.deepEqual(await names('cache', 'norv', 'probes'), probes);
    assert.deepEqual((await names('tmp')).filter((n) => n.startsWith('norv-')), []);
    assert.deepEqual((await names('out')).filter((n) => n.startsWith('long')), []);
  });

  it('stops a preview the page no longer wants, and a job waiting behind its probe', { timeout: 480000 }, async () => {
    const probes = existsSync(path.join(home, 'cache', 'norv', 'probes'))
      ? await readdir(path.join(home, 'cache', 'norv', 'probes')) : [];
    const [{ id: since }] = (await events(undefined, 1)).got;
    const settings = { profile: 'NP_NorvPlusHD', quality: 'high' };
    const answer = post('/api/preview', { files: [long], settings, probe: 'stale' });
    await events(since, (list) => list.some((e) => e.event === 'probe' && JSON.parse(e.data).preview === 'stale'));
    assert.equal((await post('/api/preview', { files: [long], settings, probe: 'stale' })).status, 409);

    // A job queued meanwhile waits for the probe; cancelled, it ends at once.
    const added = await post('/api/jobs', { files: [long], settings });
    const [{ id }] = JSON.parse(added.body).jobs;
    assert.equal((await post('/api/queue/start', {})).status, 200);
    await until(async () => (await queue()).find((j) => j.id === id && j.state === 'running'), { what: 'the job to start' });
    assert.equal((await post(`/api/jobs/${id}/cancel`, {})).status, 200);
    const ended = await until(async () => (await queue()).find((j) => j.id === id && j.state !== 'running'),
      { bound: 400000, what: 'the cancelled job to end' });
    assert.equal(ended.state, 'cancelled', ended.error);
    assert.equal((await post('/api/queue/pause', {})).status, 200);

    // The preview was still probing all along.
    const stop = await post('/api/preview/stop', { probe: 'stale' });
    assert.deepEqual(JSON.parse(stop.body), { stopped: true });
    const stopped = await answer;
    assert.equal(stopped.status, 400, stopped.body);
    assert.equal(JSON.parse(stopped.body).result, 'Aborted');
    assert.deepEqual(JSON.parse((await post('/api/preview/stop', { probe: 'stale' })).body), { stopped: false });
    assert.deepEqual(await readdir(path.join(home, 'cache', 'norv', 'probes')).catch(() => []), probes);
  });
});
