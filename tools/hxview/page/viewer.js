// The viewer page: cameras, their settings and state, live images, review and downloads, all
// from the server's JSON API and its event stream.
'use strict';

const $ = (id) => document.getElementById(id);
const view = { camera: null, state: '', live: false, liveRun: 0, frames: 0, scrubbing: false, scrubWanted: null };

function say(text, info) {
  const box = $('message');
  box.textContent = text;
  box.className = info ? 'info' : '';
  box.hidden = !text;
}

async function api(method, path, body) {
  const options = { method, headers: {} };
  if (body !== undefined) {
    options.body = JSON.stringify(body);
    options.headers['Content-Type'] = 'application/json';
  }
  const response = await fetch(path, options);
  const type = response.headers.get('Content-Type') || '';
  const data = type.startsWith('application/json') ? await response.json() : await response.blob();
  if (!response.ok) throw new Error(data.error || `${method} ${path}: ${response.status}`);
  return { data, headers: response.headers };
}

const cameraPath = (tail) => `/api/cameras/${view.camera}${tail}`;

// --- cameras ------------------------------------------------------------------------------------

async function loadCameras() {
  const { data } = await api('GET', '/api/cameras');
  const list = $('cameras');
  list.replaceChildren();
  for (const camera of data.cameras) {
    const item = document.createElement('li');
    item.dataset.address = camera.address;
    item.textContent = `${camera.model} ${camera.serial} · ${camera.name} · ${camera.address} · firmware ${camera.firmware}`;
    item.classList.toggle('lost', camera.lost);
    item.classList.toggle('selected', camera.address === view.camera);
    item.onclick = () => select(camera.address, item.textContent);
    list.append(item);
  }
  if (data.cameras.length === 0) list.innerHTML = '<li class="quiet">no camera found yet</li>';
  if (!view.camera && data.cameras.length > 0 && !data.cameras[0].lost) list.firstChild.click();
}

async function select(address, identity) {
  stopLiveLoop();
  view.camera = address;
  $('identity').textContent = identity;
  $('camera').hidden = false;
  for (const item of $('cameras').children) item.classList.toggle('selected', item.dataset.address === address);
  try {
    await loadSettings();
    const { data } = await api('GET', cameraPath('/state'));
    showState(data);
    if (data.state === 'idle') await setLive(true);
  } catch (error) {
    say(error.message);
  }
}

// --- settings -----------------------------------------------------------------------------------

function fieldRow(field) {
  const label = document.createElement('label');
  label.dataset.key = field.key;
  label.classList.toggle('refused', field.refused);
  label.classList.toggle('changed', field.changed);
  const name = document.createElement('span');
  name.textContent = field.key;
  let input;
  if (field.choices) {
    input = document.createElement('select');
    for (const choice of field.choices) input.append(new Option(choice, choice));
    if (!field.choices.includes(field.value)) input.append(new Option(field.value, field.value));
  } else {
    input = document.createElement('input');
    input.inputMode = 'decimal';
  }
  input.name = field.key;
  input.value = field.value;
  input.dataset.value = field.value;
  if (field.min !== undefined) { input.dataset.min = field.min; input.dataset.max = field.max; }
  const limits = document.createElement('span');
  limits.className = 'limits';
  limits.textContent = field.limits;
  label.append(name, input, limits);
  return label;
}

// A reload after a change event keeps the marks of the last write for values it did not change.
function showSettings(data, keepMarks) {
  const form = $('settings');
  const marks = {};
  for (const label of form.querySelectorAll('label')) {
    marks[label.dataset.key] = { value: label.querySelector('[name]').dataset.value, classes: label.className };
  }
  form.replaceChildren(...data.fields.map(fieldRow));
  for (const label of keepMarks ? form.querySelectorAll('label') : []) {
    const old = marks[label.dataset.key];
    if (old && old.value === label.querySelector('[name]').dataset.value) label.className = old.classes;
  }
  const apply = document.createElement('button');
  apply.id = 'apply';
  apply.textContent = 'apply';
  form.append(apply);
  if (data.refused) say('refused: ' + data.refused.join(', '));
  else if (data.warning) say(data.warning);
}

async function loadSettings(keepMarks) {
  const { data } = await api('GET', cameraPath('/capture'));
  showSettings(data, keepMarks);
}

$('settings').onsubmit = async (event) => {
  event.preventDefault();
  const changes = {};
  for (const input of $('settings').querySelectorAll('input, select')) {
    if (input.value !== input.dataset.value) changes[input.name] = input.value.trim();
  }
  if (Object.keys(changes).length === 0) return;
  say('');
  try {
    const { data } = await api('POST', cameraPath('/capture'), changes);
    showSettings(data);
  } catch (error) {
    say(error.message);
  }
};

// --- state and commands -------------------------------------------------------------------------

function showState(data) {
  view.state = data.state;
  $('state').textContent = data.state;
  $('arm').disabled = !data.arm;
  $('trigger').disabled = !data.trigger;
  $('stop').disabled = data.state === 'idle';
  $('live-toggle').disabled = data.state === 'armed' || data.state === 'recording';
  $('live-facts').hidden = data.state === 'review';
  $('review').hidden = data.state !== 'review';
  if (data.state === 'idle' || data.state === 'armed') setProgress(0, 0);
  if (data.state === 'review') {
    setProgress(100, data.frames);
    enterReview(data.frames || 0);
  }
}

function setProgress(percent, frames) {
  $('record-progress').value = percent;
  $('record-text').textContent = frames ? `${Math.round(percent)} % of ${frames} frames` : '';
}

async function command(name) {
  say('');
  try {
    if (name === 'arm') stopLiveLoop();
    const { data } = await api('POST', cameraPath(`/command/${name}`));
    showState(data);
    if (data.state === 'idle') await setLive(true);
  } catch (error) {
    say(error.message);
  }
}

for (const name of ['arm', 'trigger', 'stop']) $(name).onclick = () => command(name);
$('live-toggle').onclick = () => setLive(!view.live).catch((error) => say(error.message));

// --- images -------------------------------------------------------------------------------------

async function drawImage(blob) {
  const bitmap = await createImageBitmap(blob);
  const canvas = $('image');
  if (canvas.width !== bitmap.width || canvas.height !== bitmap.height) {
    canvas.width = bitmap.width;
    canvas.height = bitmap.height;
  }
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  drawHistogram(context.getImageData(0, 0, canvas.width, canvas.height).data);
}

function drawHistogram(pixels) {
  const counts = new Uint32Array(256);
  for (let i = 0; i < pixels.length; i += 4) counts[pixels[i]]++;
  const most = Math.max(1, ...counts);
  const canvas = $('histogram');
  const context = canvas.getContext('2d');
  context.clearRect(0, 0, canvas.width, canvas.height);
  context.fillStyle = '#335';
  for (let value = 0; value < 256; value++) {
    const height = Math.round((Math.log1p(counts[value]) / Math.log1p(most)) * canvas.height);
    context.fillRect(value, canvas.height - height, 1, height);
  }
}

async function setLive(on) {
  const { data } = await api('POST', cameraPath('/live'), { on });
  view.live = on;
  $('live-toggle').textContent = on ? 'live off' : 'live';
  showState(data);
  if (on) liveLoop(++view.liveRun);
  else stopLiveLoop();
}

function stopLiveLoop() {
  view.liveRun++;
  view.live = false;
  $('live-toggle').textContent = 'live';
}

// One image at a time: the next is asked for once the last is drawn, so the rate is what this
// browser keeps up with.
async function liveLoop(run) {
  let after = 0;
  while (run === view.liveRun) {
    try {
      const response = await fetch(cameraPath(`/live.jpg?after=${after}`));
      if (run !== view.liveRun) return;
      if (response.status === 504) continue;
      if (!response.ok) throw new Error((await response.json()).error);
      after = Number(response.headers.get('X-Sequence'));
      $('frame-number').textContent = response.headers.get('X-Frame');
      $('live-rate').textContent = response.headers.get('X-Rate');
      $('live-lost').textContent = response.headers.get('X-Lost-Packets');
      await drawImage(await response.blob());
    } catch (error) {
      say('live: ' + error.message);
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

// --- review -------------------------------------------------------------------------------------

function enterReview(frames) {
  const scrub = $('scrub');
  if (view.frames !== frames) {
    view.frames = frames;
    scrub.max = Math.max(0, frames - 1);
    scrub.value = 0;
    $('download-to').value = Math.max(0, frames - 1);
    $('download-from').max = $('download-to').max = Math.max(0, frames - 1);
    showFrame(0);
  }
}

// The newest position the slider asks for wins; positions passed over while a frame loads are skipped.
async function showFrame(frame) {
  view.scrubWanted = frame;
  if (view.scrubbing) return;
  view.scrubbing = true;
  while (view.scrubWanted !== null) {
    const wanted = view.scrubWanted;
    view.scrubWanted = null;
    try {
      const { data, headers } = await api('GET', cameraPath(`/frame.jpg?n=${wanted}`));
      await drawImage(data);
      $('scrub-frame').textContent = headers.get('X-Frame');
      $('frame-number').textContent = headers.get('X-Frame');
    } catch (error) {
      say(error.message);
    }
  }
  view.scrubbing = false;
}

$('scrub').oninput = () => showFrame(Number($('scrub').value));

$('download-form').onsubmit = async (event) => {
  event.preventDefault();
  say('');
  $('download-progress').value = 0;
  const from = Number($('download-from').value);
  const to = Number($('download-to').value);
  // Said before the request: a short download's last event can arrive before the request's answer,
  // and its outcome must not be overwritten.
  $('download-status').textContent = `downloading frames ${from} to ${to}…`;
  try {
    await api('POST', cameraPath('/download'), { from, to });
  } catch (error) {
    $('download-status').textContent = `not started: ${error.message}`;
    say(error.message);
  }
};

function showDownload(data) {
  $('download-progress').value = data.total ? (100 * data.written) / data.total : 0;
  if (!data.finished) return;
  $('download-status').textContent = data.error
    ? `stopped: ${data.error}`
    : `${data.written} TIFF files in ${data.directory}`;
  if (data.error) say('download: ' + data.error);
}

// --- events -------------------------------------------------------------------------------------

function onEvent(event) {
  const data = JSON.parse(event.data);
  const mine = data.camera === view.camera;
  if (data.type === 'camera') loadCameras().catch((error) => say(error.message));
  else if (data.type === 'lost') {
    say(data.message);
    loadCameras().catch(() => {});
    if (mine) stopLiveLoop();
  } else if (data.type === 'error') say(data.message);
  else if (mine && data.type === 'state') {
    api('GET', cameraPath('/state')).then(({ data: state }) => showState(state), (error) => say(error.message));
  } else if (mine && data.type === 'progress' && data.total > 0 && view.state !== 'review') {
    setProgress((100 * Math.min(data.recorded, data.total)) / data.total, data.total);
  } else if (mine && data.type === 'capture') loadSettings(true).catch((error) => say(error.message));
  else if (mine && data.type === 'download') showDownload(data);
}

function connect() {
  const source = new EventSource('/api/events');
  source.onopen = () => { $('connection').textContent = 'connected'; };
  source.onerror = () => { $('connection').textContent = 'server unreachable, retrying…'; };
  source.onmessage = onEvent;
}

$('add-camera').onsubmit = async (event) => {
  event.preventDefault();
  try {
    const { data } = await api('POST', '/api/cameras', { address: $('add-address').value.trim() });
    say(data.message, true);
  } catch (error) {
    say(error.message);
  }
};

connect();
loadCameras().catch((error) => say(error.message));
