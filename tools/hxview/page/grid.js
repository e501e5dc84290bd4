// Every camera at once: a grid of live views, each with its state and frame rate, and arm and
// trigger sent to all of them together.
'use strict';

const grid = { on: false, run: 0, tiles: new Map() };

function tileFor(camera) {
  const tile = document.createElement('div');
  tile.className = 'tile';
  tile.dataset.address = camera.address;
  tile.innerHTML = '<canvas width="320" height="240"></canvas><div class="bar"><strong></strong>' +
    '<span class="state">?</span><span>frame <b class="frame">–</b></span><span class="fps quiet"></span></div>';
  tile.querySelector('strong').textContent = `${camera.name} · ${camera.address}`;
  tile.querySelector('canvas').onclick = () => select(camera.address, `${camera.model} ${camera.serial} · ${camera.name} · ${camera.address}`);
  tile.querySelector('canvas').title = 'Open this camera';
  return tile;
}

function drawTile(tile, image) {
  const canvas = tile.querySelector('canvas');
  if (canvas.width !== image.width || canvas.height !== image.height) {
    canvas.width = image.width;
    canvas.height = image.height;
  }
  const samples = image.depth > 8 ? new Uint16Array(image.buffer) : new Uint8Array(image.buffer);
  const context = canvas.getContext('2d');
  const picture = context.createImageData(image.width, image.height);
  const shift = image.depth - 8;
  for (let i = 0; i < samples.length; i++) {
    const grey = samples[i] >> shift;
    picture.data[i * 4] = picture.data[i * 4 + 1] = picture.data[i * 4 + 2] = grey;
    picture.data[i * 4 + 3] = 255;
  }
  context.putImageData(picture, 0, 0);
  tile.querySelector('.frame').textContent = image.frame;
}

async function tileState(address) {
  const tile = grid.tiles.get(address);
  const { data } = await api('GET', cameraPath('/state', address));
  if (tile) tile.querySelector('.state').textContent = data.state;
  return data;
}

async function tileLoop(address, run) {
  let after = 0;
  while (run === grid.run) {
    const tile = grid.tiles.get(address);
    try {
      const response = await fetch(cameraPath(`/live.raw?after=${after}`, address));
      if (run !== grid.run) return;
      if (response.status === 204 && response.headers.get('X-Live') === 'off') return;
      if (response.status === 204) continue;
      if (!response.ok) throw new Error((await response.json()).error);
      const image = imageOf(response.headers, await response.arrayBuffer());
      after = Number(image.sequence);
      drawTile(tile, image);
      tile.querySelector('.fps').textContent =
        `${response.headers.get('X-Received-Fps')} of ${response.headers.get('X-Camera-Fps')} fps`;
    } catch (error) {
      say(`${address}: ${error.message}`);
      return;
    }
  }
}

async function startTile(camera, run) {
  const state = await tileState(camera.address);
  if (state.state !== 'idle') return;
  await api('POST', cameraPath('/live', camera.address), { on: true });
  tileLoop(camera.address, run);
}

function enterGrid() {
  stopLiveLoop();
  pause();
  grid.on = true;
  const run = ++grid.run;
  $('grid-toggle').classList.add('on');
  $('camera').hidden = true;
  $('grid').hidden = false;
  $('tiles').replaceChildren();
  grid.tiles.clear();
  for (const camera of cameraList.cameras.filter((known) => !known.lost)) {
    const tile = tileFor(camera);
    grid.tiles.set(camera.address, tile);
    $('tiles').append(tile);
    startTile(camera, run).catch((error) => say(`${camera.address}: ${error.message}`));
  }
}

// The cameras shown in the grid stop sending live images, but for `keep`, which opens alone.
function leaveGrid(keep) {
  if (!grid.on) return;
  grid.on = false;
  grid.run++;
  for (const address of grid.tiles.keys()) {
    if (address !== keep) api('POST', cameraPath('/live', address), { on: false }).catch(() => {});
  }
  $('grid-toggle').classList.remove('on');
  $('grid').hidden = true;
}

function gridCamerasChanged(cameras) {
  if (grid.on && cameras.some((camera) => !camera.lost && !grid.tiles.has(camera.address))) enterGrid();
}

function gridEvent(data) {
  if (!grid.on || !grid.tiles.has(data.camera)) return;
  if (data.type === 'state') {
    tileState(data.camera).then((state) => {
      if (state.state === 'idle' && grid.on) startTile({ address: data.camera }, grid.run);
    }, () => {});
  }
}

// All cameras are sent the command at once, not one after the other's answer.
async function allCameras(name) {
  say('');
  const addresses = [...grid.tiles.keys()];
  $('grid-status').textContent = `${name}…`;
  const results = await Promise.allSettled(addresses.map((address) => api('POST', cameraPath(`/command/${name}`, address))));
  const failed = results.map((result, i) => [addresses[i], result]).filter(([, result]) => result.status === 'rejected');
  for (const address of addresses) tileState(address).catch(() => {});
  $('grid-status').textContent = failed.length ? '' : `${name}: sent to ${addresses.length} cameras`;
  if (failed.length) say(failed.map(([address, result]) => `${address}: ${result.reason.message}`).join('; '));
}

$('grid-toggle').onclick = () => {
  if (grid.on && view.camera) select(view.camera, $('identity').textContent);
  else if (grid.on) leaveGrid();
  else enterGrid();
};
$('arm-all').onclick = () => allCameras('arm');
$('trigger-all').onclick = () => allCameras('trigger');
