// The viewer page: cameras, their settings and state, and the live image of the camera chosen,
// all from the server's JSON API and its event stream. review.js adds review and downloads,
// grid.js the view of every camera at once.
'use strict';

const $ = (id) => document.getElementById(id);
const view = {
  camera: null, state: '', live: false, liveRun: 0, frames: 0, trigger: 0, fps: 0,
  shown: null, // { sequence } of a live image or { frame } of a recorded one: what snapshots save
  display: null, // the shown frame's 8-bit grey values, for the PNG snapshot
};

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
  const data = type.startsWith('application/json') ? await response.json() : await response.arrayBuffer();
  if (!response.ok) throw new Error(data.error || `${method} ${path}: ${response.status}`);
  return { data, headers: response.headers };
}

const cameraPath = (tail, camera = view.camera) => `/api/cameras/${camera}${tail}`;

// Pixels and the facts about them come in one reply, so the label drawn is the image's own.
function imageOf(headers, buffer) {
  const number = (name) => Number(headers.get(name));
  return { buffer, width: number('X-Width'), height: number('X-Height'), depth: number('X-Depth'),
    frame: headers.get('X-Frame'), sequence: headers.get('X-Sequence') };
}

const imageView = new ImageView($('stage'), $('image'), {
  readout(x, y, value) { $('readout').textContent = `x ${x} y ${y} value ${value}`; },
  region(x, y, width, height) { setRegion(x, y, width, height); },
  drawn(display) { view.display = display; drawHistogram(display); },
});

// --- cameras ------------------------------------------------------------------------------------

const cameraList = { cameras: [] };

async function loadCameras() {
  const { data } = await api('GET', '/api/cameras');
  cameraList.cameras = data.cameras;
  const list = $('cameras');
  list.replaceChildren();
  for (const camera of data.cameras) {
    const item = document.createElement('li');
    item.dataset.address = camera.address;
    item.textContent = `${camera.model} ${camera.serial} · ${camera.name} · ${camera.address} · firmware ${camera.firmware}`;
    item.title = `${camera.manufacturer}, through ${camera.adapter}`;
    item.classList.toggle('lost', camera.lost);
    item.classList.toggle('selected', camera.address === view.camera);
    item.onclick = () => select(camera.address, item.textContent);
    list.append(item);
  }
  if (data.cameras.length === 0) list.innerHTML = '<li class="quiet">no camera found yet</li>';
  if (!view.camera && data.cameras.length > 0 && !data.cameras[0].lost) list.firstChild.click();
  if (typeof gridCamerasChanged === 'function') gridCamerasChanged(data.cameras);
}

async function select(address, identity) {
  stopLiveLoop();
  if (typeof leaveGrid === 'function') leaveGrid(address);
  view.camera = address;
  view.frames = 0;
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
  label.title = fieldHelp(field.key);
  label.classList.toggle('refused', field.refused);
  label.classList.toggle('changed', field.changed);
  const name = document.createElement('span');
  name.textContent = fieldLabel(field.key);
  let input;
  if (field.choices) {
    input = document.createElement('select');
    for (const choice of field.choices) input.append(new Option(choiceLabel(field.key, choice), choice));
    if (!field.choices.includes(field.value)) input.append(new Option(choiceLabel(field.key, field.value), field.value));
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
  limits.textContent = limitsText(field);
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

// A region drawn on the image is relative to the region shown; the form's offsets are the sensor's.
function setRegion(x, y, width, height) {
  const input = (key) => $('settings').querySelector(`[name="${key}"]`);
  if (!input('x')) return;
  const left = Number(input('x').dataset.value) || 0;
  const top = Number(input('y').dataset.value) || 0;
  input('x').value = left + x;
  input('y').value = top + y;
  input('width').value = width;
  input('height').value = height;
  say('region drawn: apply the settings to use it', true);
}

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
  if (data.state !== 'review') $('frame-time').textContent = '';
  if (data.state === 'idle' || data.state === 'armed') setProgress(0, 0);
  if (data.state === 'review') {
    setProgress(100, data.frames);
    enterReview(data);
  } else leaveReview();
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

// --- the image ----------------------------------------------------------------------------------

function drawHistogram(display) {
  const counts = new Uint32Array(256);
  for (let i = 0; i < display.length; i++) counts[display[i]]++;
  let most = 1;
  for (const count of counts) most = Math.max(most, count);
  const canvas = $('histogram');
  const context = canvas.getContext('2d');
  context.clearRect(0, 0, canvas.width, canvas.height);
  context.fillStyle = '#335';
  for (let value = 0; value < 256; value++) {
    const height = Math.round((Math.log1p(counts[value]) / Math.log1p(most)) * canvas.height);
    context.fillRect(value, canvas.height - height, 1, height);
  }
}

function showImage(image) {
  imageView.show(image.buffer, image.width, image.height, image.depth);
  $('frame-number').textContent = image.frame;
}

$('zoom-fit').onclick = () => imageView.fit();
$('zoom-one').onclick = () => imageView.actualSize();
$('zoom-in').onclick = () => imageView.zoomCentre(1.25);
$('zoom-out').onclick = () => imageView.zoomCentre(0.8);
$('overlay').onchange = () => imageView.setMarks($('overlay').checked);
$('roi-draw').onclick = () => imageView.setDrawing(!imageView.drawing);

function saveFile(url, name) {
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
}

$('snap-tiff').onclick = () => {
  const shown = view.shown;
  if (!shown) return say('no frame shown yet');
  const query = shown.sequence !== undefined ? `sequence=${shown.sequence}` : `n=${shown.frame}`;
  saveFile(cameraPath(`/snapshot.tif?${query}`), `${shown.name}.tif`);
};

// The PNG holds the grey values shown, without the exposure marks.
$('snap-png').onclick = () => {
  if (!view.shown || !view.display) return say('no frame shown yet');
  const canvas = document.createElement('canvas');
  canvas.width = imageView.width;
  canvas.height = imageView.height;
  const context = canvas.getContext('2d');
  const image = context.createImageData(canvas.width, canvas.height);
  view.display.forEach((grey, i) => image.data.set([grey, grey, grey, 255], i * 4));
  context.putImageData(image, 0, 0);
  const name = `${view.shown.name}.png`;
  canvas.toBlob((blob) => {
    const url = URL.createObjectURL(blob);
    saveFile(url, name);
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  }, 'image/png');
};

// --- live ---------------------------------------------------------------------------------------

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
      const response = await fetch(cameraPath(`/live.raw?after=${after}`));
      if (run !== view.liveRun) return;
      if (response.status === 204 && response.headers.get('X-Live') === 'off') return stopLiveLoop();
      if (response.status === 204) continue;
      if (!response.ok) throw new Error((await response.json()).error);
      const image = imageOf(response.headers, await response.arrayBuffer());
      if (run !== view.liveRun) return;
      after = Number(image.sequence);
      showImage(image);
      view.shown = { sequence: image.sequence, name: `live-${image.frame}` };
      $('live-rate').textContent = response.headers.get('X-Rate');
      $('received-fps').textContent = response.headers.get('X-Received-Fps');
      $('camera-fps').textContent = response.headers.get('X-Camera-Fps');
      $('live-lost').textContent = response.headers.get('X-Lost-Packets');
      $('live-incomplete').textContent = response.headers.get('X-Incomplete-Frames');
    } catch (error) {
      say('live: ' + error.message);
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

// --- events -------------------------------------------------------------------------------------

function onEvent(event) {
  const data = JSON.parse(event.data);
  const mine = data.camera === view.camera;
  if (typeof gridEvent === 'function') gridEvent(data);
  if (data.type === 'camera') loadCameras().catch((error) => say(error.message));
  else if (data.type === 'lost') {
    say(data.message);
    loadCameras().catch(() => {});
    if (mine) stopLiveLoop();
  } else if (data.type === 'error') say(data.message);
  else if (data.type === 'info') say(data.message, true);
  else if (mine && data.type === 'state') {
    api('GET', cameraPath('/state')).then(({ data: state }) => showState(state), (error) => say(error.message));
  } else if (mine && data.type === 'progress' && data.total > 0 && view.state !== 'review') {
    setProgress((100 * Math.min(data.recorded, data.total)) / data.total, data.total);
  } else if (mine && data.type === 'capture') loadSettings(true).catch((error) => say(error.message));
  else if (mine && data.type === 'download') showDownload(data);
}

function connect() {
  const source = new EventSource('/api/events');
  // Events missed while the stream was away are caught up from the state and the download's status.
  source.onopen = () => {
    $('connection').textContent = 'connected';
    if (!view.camera) return;
    api('GET', cameraPath('/state')).then(({ data }) => showState(data), () => {});
    api('GET', cameraPath('/download')).then(({ data }) => { if (data.type) showDownload(data); }, () => {});
  };
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

window.addEventListener('load', () => {
  connect();
  loadCameras().catch((error) => say(error.message));
});
