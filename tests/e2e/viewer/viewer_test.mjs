// The viewer page in headless chromium against hxview and two hxsim cameras (--scene, which draws
// each frame's number in digits): settings with labels, fit, zoom, pan and the pixel read-out,
// exposure marks, a region drawn with the mouse, the frame label against the number drawn in the
// image, snapshots and a ZIP download received by the browser, review playback, both cameras side
// by side, hostile requests and a camera that vanishes. Keeps a screenshot of each state; the shell
// script opens the files the browser saved.
//   node viewer_test.mjs URL SCREENSHOT_DIR SIM_PID DOWNLOAD_DIR
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [url, shots, simPid, downloads] = process.argv.slice(2);
const camera = '127.0.0.2';
const second = '127.0.0.3';
// Generous: the machines that run this are often loaded far beyond their cores. Every wait is for
// a condition; the deadline only turns a hang into a message.
const WAIT = { timeout: 120000 };

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  timeout: 120000,
  protocolTimeout: 180000,
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--window-size=1280,900'],
});
let step = 'start';
let page = null;
const text = (selector) => page.$eval(selector, (node) => node.textContent);
const problems = []; // console errors and answers of 404 while the page is used as a user would
let watching = true;

async function check(name, action) {
  step = name;
  await action();
  console.log(`viewer_browser: ${name}: ok`);
}

// A file the browser has finished saving (chromium writes NAME.crdownload until then).
async function savedFile(pattern, what) {
  const deadline = Date.now() + WAIT.timeout;
  for (;;) {
    const names = fs.readdirSync(downloads);
    const found = names.find((name) => pattern.test(name) && !names.includes(`${name}.crdownload`));
    if (found) return path.join(downloads, found);
    if (Date.now() > deadline) throw new Error(`the browser saved no ${what} (has: ${names.join(', ') || 'nothing'})`);
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
}

// The number hxsim draws in the band along the top of a frame: 5 x 7 dot digits (leftmost column
// in bit 4), `dot` pixels per font dot, starting 8 + 2 dots from the left, one dot down, a digit
// every 6 dots. Read from the canvas's pixels (ink is bright, the band dark), with the label shown
// beside it in the same moment.
function labelAndDrawnNumber() {
  const glyphs = [[0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E], [0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E],
    [0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F], [0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E],
    [0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02], [0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E],
    [0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E], [0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08],
    [0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E], [0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C]];
  const canvas = document.querySelector('#image');
  const { width, height } = canvas;
  const pixels = canvas.getContext('2d').getImageData(0, 0, width, height).data;
  const dot = Math.max(1, Math.min(Math.floor(height / 64), Math.floor(width / 128)));
  const ink = (x, y) => pixels[(y * width + x) * 4] > 128;
  let digits = '';
  for (let left = 8 + 2 * dot; left + 5 * dot <= width; left += 6 * dot) {
    const rows = [];
    for (let row = 0; row < 7; row++) {
      let bits = 0;
      for (let column = 0; column < 5; column++) {
        const centre = [left + column * dot + (dot >> 1), dot + row * dot + (dot >> 1)];
        bits |= (ink(...centre) ? 1 : 0) << (4 - column);
      }
      rows.push(bits);
    }
    if (rows.every((bits) => bits === 0)) break;
    const digit = glyphs.findIndex((glyph) => glyph.every((bits, row) => bits === rows[row]));
    if (digit < 0) return { label: document.querySelector('#frame-number').textContent, drawn: `${digits}?` };
    digits += digit;
  }
  return { label: document.querySelector('#frame-number').textContent, drawn: digits };
}

// Where image pixel (x, y) is on the screen, at its centre.
const screenPoint = (x, y) => page.evaluate((px, py) => {
  const canvas = document.querySelector('#image');
  const box = canvas.getBoundingClientRect();
  return { x: box.left + ((px + 0.5) * box.width) / canvas.width, y: box.top + ((py + 0.5) * box.height) / canvas.height };
}, x, y);

const readout = async () => {
  const match = /x (\d+) y (\d+) value (\d+)/.exec(await text('#readout'));
  return match ? { x: Number(match[1]), y: Number(match[2]), value: Number(match[3]) } : null;
};
const greyAt = (x, y) => page.evaluate((px, py) =>
  document.querySelector('#image').getContext('2d').getImageData(px, py, 1, 1).data[0], x, y);
const near = (a, b) => Math.abs(a - b) <= 1;
// The image on the screen: its box, the same relative to the stage, and screen pixels per image pixel.
const imageBox = () => page.evaluate(() => {
  const canvas = document.querySelector('#image');
  const box = canvas.getBoundingClientRect();
  const stage = document.querySelector('#stage').getBoundingClientRect();
  return { left: box.left, top: box.top, scale: box.width / canvas.width,
    inStage: { left: box.left - stage.left, top: box.top - stage.top, right: box.right - stage.left, bottom: box.bottom - stage.top } };
});
const stageCentre = () => page.evaluate(() => {
  const box = document.querySelector('#stage').getBoundingClientRect();
  return { x: box.left + box.width / 2, y: box.top + box.height / 2 };
});
// The whole image inside the stage, touching one pair of its edges, with the aspect kept.
async function expectFitted(what) {
  const fit = await page.evaluate(() => {
    const canvas = document.querySelector('#image');
    const image = canvas.getBoundingClientRect();
    const stage = document.querySelector('#stage').getBoundingClientRect();
    return { canvas: [image.left, image.top, image.right, image.bottom], stage: [stage.left, stage.top, stage.right, stage.bottom],
      aspect: image.width / image.height, wanted: canvas.width / canvas.height };
  });
  const [l, t, r, b] = fit.canvas;
  const [sl, st, sr, sb] = fit.stage;
  if (l < sl - 1 || t < st - 1 || r > sr + 1 || b > sb + 1) throw new Error(`${what}: the image ${fit.canvas} leaves the stage ${fit.stage}`);
  if (Math.max(r - l - (sr - sl), b - t - (sb - st)) < -2) throw new Error(`${what}: the fitted image touches neither pair of edges`);
  if (Math.abs(fit.aspect - fit.wanted) > 0.01) throw new Error(`${what}: aspect ${fit.aspect}, the image's is ${fit.wanted}`);
}

// In one go: a change event from the camera may redraw the form between two steps.
const setFields = (values) => page.evaluate((entries) => {
  for (const [key, value] of entries) document.querySelector(`#settings [name="${key}"]`).value = value;
  document.querySelector('#apply').click();
}, Object.entries(values));
const fieldsShow = (values) => page.waitForFunction((entries) => entries.every(([key, value]) => {
  const input = document.querySelector(`#settings [name="${key}"]`);
  return input && input.value === value;
}), WAIT, Object.entries(values));
const imageIs = (width, height) => page.waitForFunction((w, h) => {
  const canvas = document.querySelector('#image');
  return canvas.width === w && canvas.height === h;
}, WAIT, width, height);
const stateIs = (state) => page.waitForFunction((s) => document.querySelector('#state').textContent === s, WAIT, state);
const apiJson = (tail, address = camera) => page.evaluate(async (p) => (await fetch(p)).json(), `/api/cameras/${address}${tail}`);

try {
  page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 900 });
  const cdp = await browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('console', (message) => { if (watching && message.type() === 'error') problems.push(`console: ${message.text()}`); });
  page.on('response', (response) => { if (watching && response.status() === 404) problems.push(`404: ${response.url()}`); });
  await page.goto(url);
  const shot = (name) => page.screenshot({ path: `${shots}/${name}.png` });

  await check('both cameras are listed', async () => {
    for (const address of [camera, second]) {
      await page.waitForSelector(`#cameras li[data-address="${address}"]`, WAIT);
      const item = await text(`#cameras li[data-address="${address}"]`);
      if (!item.includes('hxsim')) throw new Error(`the list shows '${item}'`);
    }
  });

  await check('every capture field has a human label and a tooltip; the record length is a few seconds', async () => {
    await page.waitForSelector('#settings input[name="length"]', WAIT);
    const fields = await page.$$eval('#settings label', (labels) => labels.map((label) => ({
      key: label.dataset.key, label: label.querySelector('span').textContent, tip: label.title })));
    for (const field of fields) {
      if (field.label === field.key || field.label.length < 4 || field.tip.length < 20) {
        throw new Error(`'${field.key}' is labelled '${field.label}' with tooltip '${field.tip}'`);
      }
    }
    const capture = await apiJson('/capture');
    const value = (key) => Number(capture.fields.find((field) => field.key === key).value);
    const seconds = value('length') / value('fps');
    if (!(seconds >= 1 && seconds <= 30)) throw new Error(`the camera records ${value('length')} frames, ${seconds} s`);
  });

  await check('a full sensor fits the window with its aspect kept', async () => {
    const widest = await page.$eval('#settings [name="width"]', (input) => input.dataset.max);
    const tallest = await page.$eval('#settings [name="height"]', (input) => input.dataset.max);
    await setFields({ x: '0', y: '0', width: widest, height: tallest });
    await imageIs(Number(widest), Number(tallest));
    await expectFitted('a full sensor');
    const page_ = await page.evaluate(() => ({ width: document.documentElement.scrollWidth, window: window.innerWidth }));
    if (page_.width > page_.window) throw new Error(`the page is ${page_.width} px wide in a ${page_.window} px window`);
    await shot('fit');
  });

  await check('zoom keeps the pixel under the mouse, 1:1 shows one pixel per pixel, the read-out names the pixel; pan, "−" and fit', async () => {
    const fitted = await imageBox();
    // A still image: the value read out and the value checked are of one frame.
    await page.click('#live-toggle');
    await page.waitForFunction(() => document.querySelector('#live-toggle').textContent === 'live', WAIT);
    // Over the frame number, which the wheel brings closer.
    const target = await screenPoint(150, 90);
    await page.mouse.move(target.x, target.y);
    await page.waitForFunction(() => /x \d+/.test(document.querySelector('#readout').textContent), WAIT);
    const before = await readout();
    const fittedLevel = await page.$eval('#zoom-level', (node) => parseInt(node.textContent, 10));
    for (let turn = 0; turn < 5; turn++) await page.mouse.wheel({ deltaY: -100 });
    await page.waitForFunction((old) => parseInt(document.querySelector('#zoom-level').textContent, 10) > old, WAIT, fittedLevel);
    await page.mouse.move(target.x + 1, target.y);
    await page.mouse.move(target.x, target.y);
    const after = await readout();
    if (!near(before.x, after.x) || !near(before.y, after.y)) {
      throw new Error(`the pixel under the mouse moved from ${before.x},${before.y} to ${after.x},${after.y}`);
    }
    await shot('zoom');
    await page.click('#zoom-one');
    const scale = await page.$eval('#image', (canvas) => canvas.getBoundingClientRect().width / canvas.width);
    if (Math.abs(scale - 1) > 0.001) throw new Error(`1:1 shows ${scale} screen pixels per image pixel`);
    // At 1:1 and zoomed in four times: the read-out names the pixel pointed at and its value.
    for (const zoom of [0, 6]) {
      for (let i = 0; i < zoom; i++) await page.click('#zoom-in');
      const { x, y } = await stageCentre();
      await page.mouse.move(x, y);
      await page.mouse.move(x + 0.5, y);
      const shown = await readout();
      const point = await screenPoint(shown.x, shown.y);
      const pixel = await page.$eval('#image', (canvas) => canvas.getBoundingClientRect().width / canvas.width);
      if (Math.abs(point.x - x) > pixel || Math.abs(point.y - y) > pixel) {
        throw new Error(`pointed at ${x},${y}, read out ${shown.x},${shown.y}, whose centre is at ${point.x},${point.y}`);
      }
      // The screen shows the top 8 bits of deeper pixels.
      const grey = await greyAt(shown.x, shown.y);
      const depth = await page.evaluate(() => imageView.depth);
      if (grey !== shown.value >> (depth - 8)) throw new Error(`read out ${shown.value} at depth ${depth}, the image shows ${grey}`);
    }
    await shot('readout');

    // A drag moves the image by as much as the mouse moved, the grabbed pixel staying under it.
    const centre = await stageCentre();
    await page.mouse.move(centre.x, centre.y);
    await page.mouse.move(centre.x + 0.5, centre.y);
    const grabbed = await readout();
    const unpanned = await imageBox();
    const drag = { x: -150, y: -90 };
    await page.mouse.down();
    await page.mouse.move(centre.x + drag.x / 3, centre.y + drag.y / 3, { steps: 3 });
    await page.mouse.move(centre.x + 0.5 + drag.x, centre.y + drag.y, { steps: 3 });
    await page.mouse.up();
    const panned = await imageBox();
    if (!near(panned.left - unpanned.left, drag.x) || !near(panned.top - unpanned.top, drag.y)) {
      throw new Error(`dragged by ${drag.x},${drag.y}, the image moved by ${panned.left - unpanned.left},${panned.top - unpanned.top}`);
    }
    if (Math.abs(panned.scale - unpanned.scale) > 1e-6) throw new Error(`panning changed the scale from ${unpanned.scale} to ${panned.scale}`);
    await page.mouse.move(centre.x + drag.x, centre.y + drag.y);
    await page.mouse.move(centre.x + 0.5 + drag.x, centre.y + drag.y);
    const held = await readout();
    if (!near(held.x, grabbed.x) || !near(held.y, grabbed.y)) {
      throw new Error(`grabbed pixel ${grabbed.x},${grabbed.y}, after the drag the mouse is over ${held.x},${held.y}`);
    }

    // "−" makes the image smaller about the stage's centre.
    const imagePointAtCentre = (box) => ({ x: (centre.x - box.left) / box.scale, y: (centre.y - box.top) / box.scale });
    const larger = await imageBox();
    await page.click('#zoom-out');
    const smaller = await imageBox();
    if (!(smaller.scale < larger.scale)) throw new Error(`"−" took the scale from ${larger.scale} to ${smaller.scale}`);
    const [was, is] = [imagePointAtCentre(larger), imagePointAtCentre(smaller)];
    if (!near(was.x, is.x) || !near(was.y, is.y)) {
      throw new Error(`"−" moved the image point at the centre from ${was.x},${was.y} to ${is.x},${is.y}`);
    }

    // "fit" after zooming and panning: the scale and place of the first fit, the whole image seen.
    await page.click('#zoom-fit');
    const refitted = await imageBox();
    for (const [key, value] of Object.entries(refitted.inStage)) {
      if (!near(value, fitted.inStage[key])) throw new Error(`after "fit" the image's ${key} is ${value} in the stage, fitted it was ${fitted.inStage[key]}`);
    }
    if (Math.abs(refitted.scale - fitted.scale) > 1e-6) throw new Error(`"fit" gives scale ${refitted.scale}, first fitted ${fitted.scale}`);
    await expectFitted('after "fit"');
    await page.click('#live-toggle');
  });

  await check('exposure marks colour exactly the black and saturated pixels', async () => {
    await setFields({ width: '640', height: '480' });
    await imageIs(640, 480);
    await page.click('#overlay');
    const marks = await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => {
      const canvas = document.querySelector('#image');
      const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      const samples = imageView.samples;
      const top = (1 << imageView.depth) - 1;
      let black = 0;
      let wrong = 0;
      for (let i = 0; i < samples.length; i++) {
        const marked = data[i * 4] !== data[i * 4 + 1] || data[i * 4 + 1] !== data[i * 4 + 2];
        const expected = samples[i] === 0 || samples[i] >= top;
        if (marked !== expected) wrong++;
        if (samples[i] === 0) black++;
      }
      resolve({ black, wrong });
    })));
    if (marks.black === 0 || marks.wrong !== 0) throw new Error(`${marks.black} black pixels, ${marks.wrong} marked wrongly`);
    await shot('overlay');
    await page.click('#overlay');
  });

  await check('a region drawn on the image fills in x, y, width and height', async () => {
    const left = Number(await page.$eval('#settings [name="x"]', (input) => input.dataset.value));
    const top = Number(await page.$eval('#settings [name="y"]', (input) => input.dataset.value));
    await page.click('#roi-draw');
    const from = await screenPoint(100, 80);
    const to = await screenPoint(419, 299);
    await page.mouse.move(from.x, from.y);
    await page.mouse.down();
    await page.mouse.move((from.x + to.x) / 2, (from.y + to.y) / 2);
    await page.mouse.move(to.x, to.y);
    await shot('region');
    await page.mouse.up();
    const form = await page.evaluate(() => Object.fromEntries(['x', 'y', 'width', 'height'].map((key) =>
      [key, Number(document.querySelector(`#settings [name="${key}"]`).value)])));
    const wanted = { x: left + 100, y: top + 80, width: 320, height: 220 };
    for (const [key, value] of Object.entries(wanted)) {
      if (!near(form[key], value)) throw new Error(`${key} is ${form[key]}, the region drawn has ${value}`);
    }
    await page.evaluate(() => loadSettings());
  });

  await check('the frame label is the number drawn in the frame shown, 20 frames running', async () => {
    let last = '';
    for (let sample = 0; sample < 20; sample++) {
      await page.waitForFunction((previous) => {
        const label = document.querySelector('#frame-number').textContent;
        return /^\d+$/.test(label) && label !== previous;
      }, WAIT, last);
      const { label, drawn } = await page.evaluate(labelAndDrawnNumber);
      if (label !== drawn) throw new Error(`sample ${sample}: the label says ${label}, the image shows ${drawn}`);
      last = label;
    }
    await page.waitForFunction(() => Number(document.querySelector('#received-fps').textContent) > 0 &&
      Number(document.querySelector('#camera-fps').textContent) > 0 && Number(document.querySelector('#live-rate').textContent) > 0, WAIT);
    await shot('live');
  });

  await check('a live snapshot reaches the browser as TIFF and PNG', async () => {
    // The frame shown when the buttons are pressed, in the same moment.
    const frame = await page.evaluate(() => {
      document.querySelector('#snap-tiff').click();
      document.querySelector('#snap-png').click();
      return document.querySelector('#frame-number').textContent;
    });
    const saved = await savedFile(/^live-\d+\.png$/, 'PNG snapshot');
    const png = fs.readFileSync(saved);
    if (png.toString('latin1', 1, 4) !== 'PNG' || png.readUInt32BE(16) !== 640 || png.readUInt32BE(20) !== 480) {
      throw new Error('the PNG snapshot is no 640x480 PNG');
    }
    fs.copyFileSync(saved, `${shots}/snapshot.png`); // kept with the screenshots: what the user receives
    const tiff = path.basename(await savedFile(/^live-\d+\.tif$/, 'TIFF snapshot'));
    if (tiff !== `live-${frame}.tif`) throw new Error(`the snapshot of frame ${frame} is ${tiff}`);
  });

  await check('the recording stays a few seconds after the region changed; arm and trigger reach review', async () => {
    const capture = await apiJson('/capture');
    const value = (key) => Number(capture.fields.find((field) => field.key === key).value);
    const seconds = value('length') / value('fps');
    if (!(seconds >= 1 && seconds <= 30)) throw new Error(`at 640x480 the camera records ${value('length')} frames, ${seconds} s`);
    await page.click('#arm');
    await stateIs('armed');
    await page.click('#trigger');
    await stateIs('review');
    await page.waitForFunction(() => document.querySelector('#record-progress').value === 100, WAIT);
    await shot('review');
  });

  await check('review steps, plays, pauses and shows the time from the trigger', async () => {
    const frameShown = (n) => page.waitForFunction((f) => document.querySelector('#frame-number').textContent === String(f), WAIT, n);
    await frameShown(0);
    await page.click('#step-forward');
    await frameShown(1);
    await page.click('#step-back');
    await frameShown(0);
    await page.select('#speed', '50');
    await page.click('#play');
    await page.waitForFunction(() => Number(document.querySelector('#frame-number').textContent) >= 8, WAIT);
    await page.click('#play');
    const paused = Number(await text('#frame-number'));
    await page.waitForFunction(() => document.querySelector('#play').textContent === 'play', WAIT);
    await page.click('#step-forward');
    await page.waitForFunction((n) => Number(document.querySelector('#frame-number').textContent) > n, WAIT, paused);
    await shot('playback');
    const { triggerFrame: trigger, fps, frames } = await apiJson('/state');
    const capture = await apiJson('/capture');
    const rate = Number(capture.fields.find((field) => field.key === 'fps').value);
    const beside = trigger + 1 < frames ? 1 : -1;
    for (const [frame, seconds] of [[trigger, 0], [trigger + beside, beside / rate]]) {
      await page.$eval('#scrub', (scrub, n) => { scrub.value = n; scrub.dispatchEvent(new Event('input')); }, frame);
      await frameShown(frame);
      const shown = (await text('#frame-time')).replace('−', '-');
      if (Math.abs(parseFloat(shown) - seconds) > 1e-5) throw new Error(`frame ${frame} (trigger ${trigger}, ${fps} fps) shows '${shown}'`);
    }
  });

  await check('a review snapshot and a ZIP download reach the browser', async () => {
    await page.click('#snap-tiff');
    await savedFile(/^review-\d+\.tif$/, 'review snapshot');
    await page.$eval('#download-from', (input) => { input.value = 2; });
    await page.$eval('#download-to', (input) => { input.value = 6; });
    await page.click('#download-zip');
    await savedFile(/^frames-127\.0\.0\.2-2-6\.zip$/, 'ZIP file');
    await page.waitForFunction(() => document.querySelector('#download-progress').value === 100 &&
      document.querySelector('#download-status').textContent.includes('5 TIFF files'), WAIT);
    await shot('download');
  });

  await check("a ZIP download the browser drops lets the camera finish; the server's folder download follows", async () => {
    const dropped = await page.evaluate(async (base) => {
      const stop = new AbortController();
      const response = await fetch(`${base}/frames.zip?from=0&to=40`, { signal: stop.signal });
      const reader = response.body.getReader();
      const first = await reader.read();
      stop.abort();
      return first.value ? first.value.length : 0;
    }, `/api/cameras/${camera}`);
    if (dropped === 0) throw new Error('the ZIP download sent nothing before it was dropped');
    await page.waitForFunction(async (base) => (await (await fetch(`${base}/download`)).json()).finished === true,
      { ...WAIT, polling: 500 }, `/api/cameras/${camera}`);
    await page.click('#download-server');
    // The server names its folder by its absolute path: /... on Linux, a drive's (Z:\...) on Windows.
    await page.waitForFunction(() => /5 TIFF files to (\/|[A-Z]:\\)/.test(document.querySelector('#download-status').textContent), WAIT);
  });

  await check('two cameras side by side: both live, armed and triggered together', async () => {
    await page.click('#stop');
    await stateIs('idle');
    await page.click('#grid-toggle');
    const tile = (address) => `.tile[data-address="${address}"]`;
    for (const address of [camera, second]) {
      const first = await page.waitForFunction((t) => {
        const label = document.querySelector(`${t} .frame`);
        return label && /^\d+$/.test(label.textContent) && label.textContent;
      }, WAIT, tile(address)).then((handle) => handle.jsonValue());
      await page.waitForFunction((t, n) => Number(document.querySelector(`${t} .frame`).textContent) > Number(n), WAIT, tile(address), first);
    }
    await shot('cameras');
    const states = (state) => page.waitForFunction((s) => [...document.querySelectorAll('.tile .state')].every((node) => node.textContent === s) &&
      document.querySelectorAll('.tile').length === 2, WAIT, state);
    await page.click('#arm-all');
    await states('armed');
    await page.click('#trigger-all');
    await states('review');
    await shot('cameras-review');
  });

  await check('the page made no request that answered 404 and logged no error', async () => {
    watching = false;
    if (problems.length > 0) throw new Error(problems.join('; '));
  });

  await check('hostile requests get clear errors', async () => {
    const answers = await page.evaluate(async (base) => {
      const post = (p, body) => fetch(base + p, { method: 'POST', body });
      const replies = [await post('/capture', '{"fps": '), await post('/capture', '{"no such": 1}'),
        await fetch(`${base}/frame.raw?n=99999999999`), await post('/download', '{"from": 9, "to": 2}'),
        await fetch(`${base}/frames.zip?from=9&to=2`), await fetch(`${base}/snapshot.tif?sequence=x`),
        await fetch(`${base}/snapshot.tif?sequence=123456789`), await fetch('/api/cameras/10.9.9.9/state')];
      return Promise.all(replies.map(async (reply) => [reply.status, (await reply.json()).error || '']));
    }, `/api/cameras/${camera}`);
    for (const [status, error] of answers) {
      if (status < 400 || status >= 500 || error === '') throw new Error(`answered ${status} '${error}'`);
    }
  });

  await check('a camera that vanishes is reported on the page', async () => {
    process.kill(Number(simPid), 'SIGTERM');
    await page.waitForFunction(() => document.querySelector('#message').textContent.includes('is gone'), WAIT);
    await page.waitForSelector(`#cameras li.lost[data-address="${camera}"]`, WAIT);
    await shot('lost');
  });
  console.log('viewer_browser: done');
} catch (error) {
  console.log(`viewer_browser: FAILED: ${step}: ${error.message}`);
  process.exitCode = 1;
  if (page) {
    console.log(`viewer_browser: the page said: ${await text('#message').catch(() => '?')}`);
    await page.screenshot({ path: `${shots}/failed.png` }).catch(() => {});
  }
} finally {
  await browser.close();
}
