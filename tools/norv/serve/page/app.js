// norv serve's page: browse the roots, pick files and see what the engine
// finds in them, choose the output and see its preview, queue jobs and
// follow them over one event stream. Plain script, no build step; every
// text from the server reaches the page as text, never as markup.
'use strict';

const $ = (id) => document.getElementById(id);

// An element with properties (text, className, dataset, on...) and children.
function el(tag, props, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props || {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'text') node.textContent = value;
    else if (key === 'dataset') Object.assign(node.dataset, value);
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key in node) node[key] = value;
    else node.setAttribute(key, value);
  }
  for (const child of children.flat()) {
    if (child !== null && child !== undefined && child !== false) {
      node.append(child instanceof Node ? child : String(child));
    }
  }
  return node;
}

function duration(seconds) {
  if (seconds === null || seconds === undefined || !(seconds >= 0)) return '--:--';
  const s = Math.round(seconds);
  const h = Math.floor(s / 3600);
  const m = Math.floor((s % 3600) / 60);
  const pad = (n) => String(n).padStart(2, '0');
  return `${h}:${pad(m)}:${pad(s % 60)}`;
}

function bytes(n) {
  if (!(n > 0)) return '0 B';
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];
  let unit = 0;
  while (n >= 1024 && unit < units.length - 1) {
    n /= 1024;
    unit += 1;
  }
  return unit === 0 ? `${n} B` : `${n.toFixed(1)} ${units[unit]}`;
}

const shortName = (name) => (name || '').replace(/^[A-Z]+_/, '');

const state = {
  roots: [],
  profiles: [],
  presets: [],
  root: 0,
  path: '',
  picked: [], // {id, name, analysis, error}
  jobs: new Map(),
  order: [],
  running: false,
  previewAsked: 0,
  previewing: false, // one preview at a time: a quality target's probe takes seconds
  previewAgain: false,
  probing: null, // the preview's probe: {token, progress, show}
  startClicked: false,
  ended: false,
};

class ApiError extends Error {}

async function api(method, url, body) {
  const options = { method, credentials: 'same-origin', headers: {} };
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(url, options);
  if (response.status === 401) {
    sessionEnded();
    throw new ApiError('this page is no longer let in');
  }
  const data = await response.json().catch(() => ({}));
  if (!response.ok) throw new ApiError(data.error || response.statusText);
  return data;
}

function sessionEnded() {
  if (state.ended) return;
  state.ended = true;
  const banner = $('banner');
  banner.textContent =
    'norv serve was restarted or stopped. Open the address it printed when it started.';
  banner.hidden = false;
  $('link').textContent = 'offline';
  $('link').className = 'link down';
}

// ---- tabs -------------------------------------------------------------

function showTab(name) {
  for (const tab of ['pick', 'queue']) {
    $(`tab-${tab}`).setAttribute('aria-selected', String(tab === name));
    $(`${tab}-view`).hidden = tab !== name;
  }
}

// ---- files ------------------------------------------------------------

async function browse(root, path) {
  try {
    const listing = await api('GET', '/api/browse?' + new URLSearchParams({ root, path }));
    state.root = root;
    state.path = listing.path;
    renderCrumbs();
    renderEntries(listing);
  } catch (error) {
    $('entries').replaceChildren(el('li', { className: 'error', text: error.message }));
  }
}

function renderCrumbs() {
  const crumbs = [el('button', {
    type: 'button', text: state.roots[state.root].name, onclick: () => browse(state.root, ''),
  })];
  const parts = state.path ? state.path.split('/') : [];
  parts.forEach((part, i) => {
    const path = parts.slice(0, i + 1).join('/');
    crumbs.push(' / ', el('button', { type: 'button', text: part, onclick: () => browse(state.root, path) }));
  });
  $('crumbs').replaceChildren(...crumbs);
}

function renderEntries(listing) {
  const items = listing.entries.map((entry) => {
    const path = state.path ? `${state.path}/${entry.name}` : entry.name;
    if (entry.kind === 'folder') {
      return el('li', { className: 'folder' },
        el('button', { type: 'button', text: `${entry.name}/`, onclick: () => browse(state.root, path) }));
    }
    const picked = state.picked.some((p) => p.id === entry.id);
    return el('li', { className: 'file' },
      el('button', {
        type: 'button', className: 'pick', disabled: picked, dataset: { file: entry.name },
        title: picked ? 'picked' : 'pick this file', text: picked ? '✓' : '+',
        onclick: (event) => { event.currentTarget.disabled = true; event.currentTarget.textContent = '✓'; pick(entry, path); },
      }),
      el('span', { className: 'name', text: entry.name }),
      el('span', { className: 'size', text: bytes(entry.size) }));
  });
  if (listing.truncated) items.push(el('li', { className: 'hint', text: 'more entries not shown' }));
  if (!items.length) items.push(el('li', { className: 'hint', text: 'empty folder' }));
  $('entries').replaceChildren(...items);
}

async function pick(entry, path) {
  const file = { id: entry.id, name: `${state.roots[state.root].name}/${path}`, analysis: null, error: null };
  state.picked.push(file);
  renderPicked();
  try {
    file.analysis = await api('GET', `/api/files/${entry.id}/analysis`);
  } catch (error) {
    file.error = error.message;
  }
  renderPicked();
  if (file === state.picked[0]) renderChoices();
  schedulePreview();
}

function movePicked(index, by) {
  const to = index + by;
  if (to < 0 || to >= state.picked.length) return;
  const [file] = state.picked.splice(index, 1);
  state.picked.splice(to, 0, file);
  renderPicked();
  renderChoices();
  schedulePreview();
}

function unpick(index) {
  state.picked.splice(index, 1);
  renderPicked();
  renderChoices();
  schedulePreview();
  browse(state.root, state.path);
}

function analysisLines(analysis) {
  const lines = [];
  for (const source of analysis.sources) {
    lines.push(`${source.container} · ${duration(source.duration_ms / 1000)} · ${bytes(source.size)}`);
    for (const v of source.video) {
      lines.push(`video ${shortName(v.codec)} ${v.width}×${v.height} · ${+v.frame_rate.toFixed(3)} fps · aspect ${v.aspect.toFixed(2)}`);
    }
    for (const a of source.audio) {
      lines.push(`audio ${shortName(a.codec)} · ${a.channels} ch · ${a.sample_rate} Hz${a.language ? ` · ${a.language}` : ''}`);
    }
    for (const s of source.subtitles) {
      lines.push(`subtitles ${shortName(s.type)}${s.language ? ` · ${s.language}` : ''}`);
    }
  }
  return lines;
}

function thumbnail(file, className) {
  if (!file.analysis || !file.analysis.thumbnail) return el('div', { className: `${className} none`, text: file.error ? '!' : '…' });
  return el('img', {
    className, alt: `thumbnail of ${file.name}`, src: `/api/files/${file.id}/thumbnail`,
    width: file.analysis.thumbnail.width, height: file.analysis.thumbnail.height,
  });
}

function renderPicked() {
  const count = state.picked.length;
  $('picked-count').textContent = count ? String(count) : '';
  $('picked-empty').hidden = count > 0;
  $('add-join').disabled = count < 1;
  $('add-each').disabled = count < 1;
  $('strip').replaceChildren(...state.picked.map((file) => thumbnail(file, 'frame')));
  $('picked').replaceChildren(...state.picked.map((file, i) => {
    let facts;
    if (file.error) facts = el('p', { className: 'error', text: file.error });
    else if (!file.analysis) facts = el('p', { className: 'hint', text: 'analysing…' });
    else facts = el('ul', { className: 'facts' }, analysisLines(file.analysis).map((line) => el('li', { text: line })));
    return el('li', { className: 'card', dataset: { file: file.name } },
      thumbnail(file, 'thumb'),
      el('div', { className: 'about' }, el('strong', { text: file.name }), facts),
      el('div', { className: 'buttons' },
        el('button', { type: 'button', text: '↑', title: 'earlier', disabled: i === 0, onclick: () => movePicked(i, -1) }),
        el('button', { type: 'button', text: '↓', title: 'later', disabled: i === count - 1, onclick: () => movePicked(i, 1) }),
        el('button', { type: 'button', text: '✕', title: 'unpick', onclick: () => unpick(i) })));
  }));
}

// ---- settings and preview -----------------------------------------------

function firstSource() {
  const file = state.picked.find((f) => f.analysis);
  return file ? file.analysis.sources[0] : null;
}

// The profile and preset choices; profiles the first file cannot go to are
// marked, and the current choice is kept when it still exists.
function renderChoices() {
  const select = $('choice');
  const previous = select.value;
  const source = firstSource();
  const possible = source ? new Set(source.profiles) : null;
  const profiles = el('optgroup', { label: 'Profiles' }, state.profiles.filter((p) => p.supported).map((p) =>
    el('option', {
      value: `profile:${p.name}`,
      text: `${p.display_name} (${shortName(p.name)}) · ${p.description}${possible && !possible.has(p.name) ? ' · not for this file' : ''}`,
    })));
  const groups = [profiles];
  if (state.presets.length) {
    groups.push(el('optgroup', { label: 'Presets' }, state.presets.map((p) =>
      el('option', { value: `preset:${p.preset}`, text: `${p.preset} (${shortName(p.profile)})` }))));
  }
  select.replaceChildren(...groups);
  if ([...select.options].some((o) => o.value === previous)) {
    select.value = previous;
  } else if (source && source.profiles.length) {
    const fits = state.profiles.find((p) => p.supported && possible.has(p.name));
    if (fits) select.value = `profile:${fits.name}`;
  }
  renderTracks(source);
}

function trackBoxes(fieldset, tracks, label, checked) {
  const legend = fieldset.querySelector('legend');
  if (!tracks.length) {
    fieldset.replaceChildren(legend, el('p', { className: 'hint', text: 'None.' }));
    return;
  }
  fieldset.replaceChildren(legend, ...tracks.map((track, i) => el('label', { className: 'check' },
    el('input', { type: 'checkbox', value: String(i), checked }), ` #${i} ${label(track)}`)));
}

function renderTracks(source) {
  trackBoxes($('audio-tracks'), source ? source.audio : [],
    (a) => `${shortName(a.codec)} ${a.channels} ch${a.language ? ` ${a.language}` : ''}`, true);
  trackBoxes($('subtitles'), source ? source.subtitles : [],
    (s) => `${shortName(s.type)}${s.language ? ` ${s.language}` : ''}`, false);
}

function chosen(fieldset) {
  const boxes = [...fieldset.querySelectorAll('input[type=checkbox]')];
  const on = boxes.filter((b) => b.checked).map((b) => b.value);
  return { all: boxes.length > 0 && on.length === boxes.length, list: on.length ? on.join(',') : 'none', any: boxes.length > 0 };
}

// The settings as norv transcode's options would be typed.
function settings() {
  const s = {};
  const [kind, name] = $('choice').value.split(/:(.*)/s);
  if (kind === 'profile') s.profile = name;
  if (kind === 'preset') s.preset = name;
  for (const [key, id] of [['size', 'size'], ['video_bitrate', 'video-bitrate'],
    ['audio_bitrate', 'audio-bitrate'], ['size_limit', 'size-limit'], ['title', 'title']]) {
    const value = $(id).value.trim();
    if (value) s[key] = value;
  }
  if ($('priority').value) s.priority = $('priority').value;
  if ($('two-pass').checked) s.two_pass = true;
  const audio = chosen($('audio-tracks'));
  if (audio.any && !audio.all) s.audio_tracks = audio.list;
  const subtitles = chosen($('subtitles'));
  if (subtitles.any && subtitles.list !== 'none') s.subtitles = subtitles.list;
  if ($('burn').checked) s.burn_subtitles = true;
  const quality = qualityTarget();
  if (quality) {
    s.quality = quality;
    delete s.video_bitrate; // the target chooses it
  }
  return s;
}

// The quality target: a level, the number typed, or none (the table's bitrate).
function qualityTarget() {
  const choice = $('quality').value;
  return choice === 'number' ? $('quality-number').value.trim() : choice;
}

function renderQualityChoice() {
  $('quality-number-label').hidden = $('quality').value !== 'number';
  $('video-bitrate').disabled = $('quality').value !== '';
}

const ssim = (value) => value.toFixed(4);
const underGrain = (q) => (q.metric === 'ssim-under-grain' ? ' under the grain' : '');

let previewTimer = null;
function schedulePreview() {
  clearTimeout(previewTimer);
  previewTimer = setTimeout(preview, 250);
}

// One preview at a time; a change made meanwhile asks for another when it
// ends, and stops the probe of the one under way, whose answer no one reads.
async function preview() {
  if (state.previewing) {
    state.previewAgain = true;
    if (state.probing) api('POST', '/api/preview/stop', { probe: state.probing.token }).catch(() => {});
    return;
  }
  state.previewing = true;
  try {
    await previewOnce();
  } finally {
    state.previewing = false;
    if (state.previewAgain) {
      state.previewAgain = false;
      schedulePreview();
    }
  }
}

// "40 % · encoding the samples": where a probe is, as its events tell it.
const probeText = (p) => `${p.percent} % · ${p.step}`;

function randomToken() {
  return Array.from(crypto.getRandomValues(new Uint8Array(8)), (b) => b.toString(16).padStart(2, '0')).join('');
}

// Says that the server probes the title for the target, and where the probe
// its "probe" events name by token is, until stop is called.
function showProbing(target, token) {
  const started = Date.now();
  const probing = { token, progress: null };
  probing.show = () => {
    const where = probing.progress ? `${probeText(probing.progress)} ·` : 'encoding and measuring short samples…';
    $('probing').textContent = `Probing for quality ${target}: ${where} ${Math.round((Date.now() - started) / 1000)} s`;
  };
  state.probing = probing;
  probing.show();
  $('probing').hidden = false;
  $('preview').setAttribute('aria-busy', 'true');
  const timer = setInterval(probing.show, 1000);
  return () => {
    clearInterval(timer);
    if (state.probing === probing) state.probing = null;
    $('probing').hidden = true;
    $('preview').removeAttribute('aria-busy');
  };
}

function qualityRows(q) {
  const rows = [
    ['Quality', `${q.target}: worst-1 % SSIM ${ssim(q.target_worst_ssim)}${underGrain(q)}, chosen ${Math.round(q.chosen_kbps)} kb/s`],
    ['Predicted', `worst-1 % SSIM ${ssim(q.predicted_worst_ssim)}, mean ${ssim(q.predicted_mean_ssim)}, about ${bytes(q.predicted_size)}`],
    ['Probe', `${q.samples} samples, ${q.probe_cached ? 'from the cache' : `took ${q.probe_seconds.toFixed(1)} s`}`],
  ];
  for (const note of q.notes) rows.push(['Note', note]);
  return rows;
}

function previewRows(rows) {
  $('preview').replaceChildren(...rows.flatMap(([term, detail]) => [el('dt', { text: term }), el('dd', { text: detail })]));
}

async function previewOnce() {
  const files = state.picked.filter((f) => f.analysis).map((f) => f.id);
  const asked = ++state.previewAsked;
  if (!files.length || !$('choice').value) {
    previewRows([['Output', 'Pick a file to see it.']]);
    return;
  }
  const asking = settings();
  const token = asking.quality ? randomToken() : undefined;
  const stopProbing = token ? showProbing(asking.quality, token) : () => {};
  try {
    const p = await api('POST', '/api/preview', { files, settings: asking, probe: token });
    stopProbing();
    if (asked !== state.previewAsked || state.previewAgain) return;
    $('settings-error').textContent = '';
    const measured = p.measured_seconds === null
      ? 'not known yet: this machine has no earlier transcode of this kind'
      : `about ${duration(p.measured_seconds)} (${p.measured_from === 'measure' ? 'measured now' : "this machine's earlier transcodes"})`;
    previewRows([
      ['Picture', `${p.width}×${p.height}, aspect ${p.aspect}`],
      ['Video', `${p.video_kbps} kb/s (allowed ${p.video_kbps_range[0]}–${p.video_kbps_range[1]})`],
      ['Audio', p.audio_kbps.length ? p.audio_kbps.map((k) => `${k} kb/s`).join(', ') : 'none'],
      ['Size', `about ${bytes(p.estimated_size)} (at least ${bytes(p.minimum_size)})${p.size_limit ? `, limit ${bytes(p.size_limit)} ${p.size_limit_reachable ? 'can be met' : 'cannot be met'}` : ''}`],
      ['Time', `about ${duration(p.estimated_seconds)} (the library's estimate)`],
      ['Measured', measured],
      ['File', `.${p.extension}, ${duration(p.duration_ms / 1000)} of media`],
      ...(p.quality ? qualityRows(p.quality) : []),
    ]);
  } catch (error) {
    stopProbing();
    if (asked !== state.previewAsked || state.previewAgain) return;
    $('settings-error').textContent = error.message;
    previewRows([['Output', 'cannot be made with these settings']]);
  }
}

async function addJobs(join) {
  const files = state.picked.filter((f) => f.analysis).map((f) => f.id);
  if (!files.length) return;
  try {
    const added = await api('POST', '/api/jobs', { files, settings: settings(), join });
    $('settings-error').textContent = '';
    $('added').textContent = `Queued ${added.jobs.map((j) => j.output_name).join(', ')}.`;
  } catch (error) {
    $('settings-error').textContent = error.message;
  }
}

// ---- queue ------------------------------------------------------------------

function renderQueueHeader() {
  const jobs = state.order.map((id) => state.jobs.get(id)).filter(Boolean);
  const waiting = jobs.filter((j) => j.state === 'queued' || j.state === 'running').length;
  $('queue-count').textContent = jobs.length ? String(waiting) : '';
  $('queue-empty').hidden = jobs.length > 0;
  $('queue-state').textContent = state.running ? 'running: queued jobs start one after the other' : 'paused: press Start to run the queue';
  $('start').disabled = state.running;
  $('pause').disabled = !state.running;
}

function command(id, what, body) {
  api('POST', `/api/jobs/${id}/${what}`, body).catch((error) => { $('queue-state').textContent = error.message; });
}

function jobQuality(job) {
  const q = job.quality;
  if (!q) {
    if (job.state !== 'running') return `quality ${job.quality_target}`;
    return `quality ${job.quality_target}: probing${job.probe ? ` ${probeText(job.probe)}` : '…'}`;
  }
  return `quality ${job.quality_target}: ${Math.round(q.chosen_kbps)} kb/s chosen, predicted worst-1 % SSIM ${ssim(q.predicted_worst_ssim)}${underGrain(q)}`;
}

function jobItem(job, index, count) {
  const ended = ['done', 'failed', 'cancelled'].includes(job.state);
  const numbers = [`${job.percent.toFixed(1)} %`];
  if (job.speed) numbers.push(`${job.speed.toFixed(2)}× real time`);
  if (job.state !== 'queued') numbers.push(`elapsed ${duration(job.elapsed)}`);
  if (job.state === 'running') numbers.push(`remaining ${duration(job.remaining)}`);
  const predicted = job.predicted_size ? `predicted ${bytes(job.predicted_size)}` : 'size predicted once probed';
  const sizes = `${predicted}${job.state === 'done' ? ` · actual ${bytes(job.output_size)}` : ''}`;
  const item = el('li', { className: `job ${job.state}`, dataset: { job: job.id, state: job.state } },
    el('div', { className: 'title' },
      el('strong', { text: `${job.names.join(' + ')} → ${job.output_name}` }),
      el('span', { className: `badge ${job.state}`, text: job.state })),
    el('progress', { max: 100, value: job.percent, title: `${job.percent.toFixed(1)} %` }),
    el('div', { className: 'numbers' }, el('span', { text: numbers.join(' · ') }), el('span', { text: sizes }),
      el('span', { className: 'hint', text: job.preset ? `preset ${job.preset}` : shortName(job.profile) }),
      job.quality_target && el('span', { className: 'quality', text: jobQuality(job) })),
    el('div', { className: 'buttons' },
      el('button', { type: 'button', text: '↑', title: 'earlier', disabled: index === 0, onclick: () => command(job.id, 'move', { to: index - 1 }) }),
      el('button', { type: 'button', text: '↓', title: 'later', disabled: index === count - 1, onclick: () => command(job.id, 'move', { to: index + 1 }) }),
      !ended && el('button', { type: 'button', className: 'cancel', text: 'Cancel', onclick: () => command(job.id, 'cancel') }),
      job.state !== 'running' && el('button', { type: 'button', className: 'remove', text: 'Remove', onclick: () => command(job.id, 'remove') }),
      job.state === 'done' && el('a', { className: 'download', href: `/api/jobs/${job.id}/output`, download: job.output_name, text: `Download ${job.output_name}` })));
  if (ended) {
    item.append(el('p', { className: job.state === 'done' ? 'result' : 'result error', text: `${job.result} (${job.code})${job.error ? `: ${job.error}` : ''}` }));
    if (job.log.length) {
      item.append(el('details', {}, el('summary', { text: "The engine's log" }), el('pre', { text: job.log.join('\n') })));
    }
  }
  return item;
}

function renderJobs() {
  const ids = state.order.filter((id) => state.jobs.has(id));
  const open = new Set([...document.querySelectorAll('#jobs details[open]')].map((d) => d.closest('li').dataset.job));
  $('jobs').replaceChildren(...ids.map((id, i) => {
    const item = jobItem(state.jobs.get(id), i, ids.length);
    const details = item.querySelector('details');
    if (details && open.has(id)) details.open = true;
    return item;
  }));
  renderQueueHeader();
}

function renderJob(id) {
  const old = document.querySelector(`#jobs li[data-job="${CSS.escape(id)}"]`);
  if (!old) {
    renderJobs();
    return;
  }
  const ids = state.order.filter((j) => state.jobs.has(j));
  const item = jobItem(state.jobs.get(id), ids.indexOf(id), ids.length);
  const details = old.querySelector('details');
  if (details && details.open && item.querySelector('details')) item.querySelector('details').open = true;
  old.replaceWith(item);
  renderQueueHeader();
}

// ---- the event stream ---------------------------------------------------------

function connect() {
  const events = new EventSource('/api/events');
  const live = (text, className) => { $('link').textContent = text; $('link').className = `link ${className}`; };
  events.addEventListener('open', () => {
    live('live', 'up');
    if (!state.ended) $('banner').hidden = true;
  });
  events.addEventListener('error', () => {
    live('reconnecting', 'waiting');
    // Ask why: a refusal ends the session, no answer means norv serve is
    // down. A stream closed for good is opened again while still let in.
    api('GET', '/api/state').then(() => {
      if (events.readyState === EventSource.CLOSED) setTimeout(connect, 2000);
    }, (error) => {
      if (error instanceof ApiError || state.ended) return;
      $('banner').textContent = 'norv serve is not answering. This page reconnects when it is back.';
      $('banner').hidden = false;
    });
  });
  events.addEventListener('snapshot', (e) => {
    const data = JSON.parse(e.data);
    state.jobs = new Map(data.jobs.map((j) => [j.id, j]));
    state.order = data.jobs.map((j) => j.id);
    state.running = data.running;
    renderJobs();
  });
  events.addEventListener('job', (e) => {
    const job = JSON.parse(e.data);
    const known = state.jobs.has(job.id);
    state.jobs.set(job.id, job);
    if (!state.order.includes(job.id)) state.order.push(job.id);
    if (known) renderJob(job.id);
    else renderJobs();
  });
  events.addEventListener('progress', (e) => {
    const p = JSON.parse(e.data);
    const job = state.jobs.get(p.id);
    if (!job) return;
    if (state.startClicked && !performance.getEntriesByName('norv-first-progress').length) {
      performance.mark('norv-first-progress');
    }
    Object.assign(job, { percent: p.percent, elapsed: p.elapsed, remaining: p.remaining, speed: p.speed });
    renderJob(p.id);
  });
  events.addEventListener('probe', (e) => {
    const p = JSON.parse(e.data);
    if (p.preview !== undefined) {
      if (state.probing && state.probing.token === p.preview) {
        state.probing.progress = p;
        state.probing.show();
      }
      return;
    }
    const job = state.jobs.get(p.id);
    if (!job) return;
    job.probe = { percent: p.percent, step: p.step };
    renderJob(p.id);
  });
  events.addEventListener('queue', (e) => {
    const data = JSON.parse(e.data);
    state.order = data.order;
    state.running = data.running;
    renderJobs();
  });
  events.addEventListener('removed', (e) => {
    for (const id of JSON.parse(e.data).ids) state.jobs.delete(id);
    state.order = state.order.filter((id) => state.jobs.has(id));
    renderJobs();
  });
}

// ---- start ------------------------------------------------------------------

async function main() {
  $('tab-pick').addEventListener('click', () => showTab('pick'));
  $('tab-queue').addEventListener('click', () => showTab('queue'));
  $('settings').addEventListener('input', schedulePreview);
  $('settings').addEventListener('change', schedulePreview);
  $('settings').addEventListener('submit', (e) => e.preventDefault());
  $('quality').addEventListener('change', renderQualityChoice);
  $('add-join').addEventListener('click', () => addJobs(true));
  $('add-each').addEventListener('click', () => addJobs(false));
  $('start').addEventListener('click', () => {
    // How long the first progress takes to show is measured from here.
    state.startClicked = true;
    performance.clearMarks('norv-start');
    performance.clearMarks('norv-first-progress');
    performance.mark('norv-start');
    api('POST', '/api/queue/start').catch(() => {});
  });
  $('pause').addEventListener('click', () => api('POST', '/api/queue/pause').catch(() => {}));
  $('clear').addEventListener('click', () => api('POST', '/api/queue/clear').catch(() => {}));
  $('root').addEventListener('change', () => browse(Number($('root').value), ''));

  const initial = await api('GET', '/api/state');
  state.roots = initial.roots;
  state.profiles = initial.profiles;
  state.presets = initial.presets;
  $('priority').append(...initial.priorities.filter((p) => p !== 'none').map((p) => el('option', { value: p, text: p.replace('-', ' ') })));
  $('root').replaceChildren(...state.roots.map((r) => el('option', { value: String(r.index), text: r.path })));
  renderChoices();
  renderPicked();
  state.jobs = new Map(initial.queue.jobs.map((j) => [j.id, j]));
  state.order = initial.queue.jobs.map((j) => j.id);
  state.running = initial.queue.running;
  renderJobs();
  connect();
  await browse(0, '');
}

main().catch((error) => {
  if (!state.ended) {
    $('banner').textContent = `The page could not start: ${error.message}`;
    $('banner').hidden = false;
  }
});
