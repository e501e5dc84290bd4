// The viewer page in headless chromium against hxview and hxsim: cameras listed, settings limits
// and refusals, live frame numbers, arm and trigger to review, scrubbing and a download. Keeps a
// screenshot of each state.
//   node viewer_test.mjs URL SCREENSHOT_DIR SIM_PID
import puppeteer from 'puppeteer-core';

const [url, shots, simPid] = process.argv.slice(2);
const camera = '127.0.0.2';
// Generous: the machines that run this are often loaded far beyond their cores.
const WAIT = { timeout: 60000 };

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  timeout: 120000,
  protocolTimeout: 120000,
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--window-size=1280,900'],
});
let step = 'start';
let page = null;
const text = (page, selector) => page.$eval(selector, (node) => node.textContent);

async function check(name, action) {
  step = name;
  await action();
  console.log(`viewer_browser: ${name}: ok`);
}

try {
  page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 900 });
  page.on('pageerror', (error) => console.log(`viewer_browser: page error: ${error.message}`));
  await page.goto(url);
  const shot = (name) => page.screenshot({ path: `${shots}/${name}.png` });

  await check('the camera is listed', async () => {
    await page.waitForSelector(`#cameras li[data-address="${camera}"]`, WAIT);
    const item = await text(page, `#cameras li[data-address="${camera}"]`);
    if (!item.includes('hxsim')) throw new Error(`the list shows '${item}'`);
  });

  await check('a frame-rate change shows its new limits, refusals and adjustments are marked', async () => {
    await page.waitForSelector('#settings input[name="exposure"]', WAIT);
    const before = await text(page, 'label[data-key="exposure"] .limits');
    // In one go: a change event from the camera may redraw the form between two steps.
    const set = (values) => page.evaluate((entries) => {
      for (const [key, value] of entries) document.querySelector(`#settings [name="${key}"]`).value = value;
      document.querySelector('#apply').click();
    }, Object.entries(values));
    const shows = (values) => page.waitForFunction((entries) => entries.every(([key, value]) => {
      const input = document.querySelector(`#settings [name="${key}"]`);
      return input && input.value === value;
    }), WAIT, Object.entries(values));
    await set({ width: '640', height: '480', fps: '1000' });
    await shows({ width: '640', height: '480', fps: '1000' });
    await page.waitForFunction((old) => document.querySelector('label[data-key="exposure"] .limits').textContent !== old,
      WAIT, before);
    await set({ fps: '999999' });
    await page.waitForSelector('label[data-key="fps"].refused', WAIT);
    const message = await text(page, '#message');
    if (!message.includes('refused')) throw new Error(`the message says '${message}'`);
    // Recordings take whole memory pages: a short length comes back longer, marked adjusted (and
    // the recording below takes a second instead of the whole memory's worth).
    await set({ length: '100' });
    await page.waitForSelector('label[data-key="length"].changed', WAIT);
    await shot('1-settings');
  });

  await check("the live view's frame numbers increase", async () => {
    await page.waitForFunction(() => /^\d+$/.test(document.querySelector('#frame-number').textContent), WAIT);
    const first = Number(await text(page, '#frame-number'));
    await page.waitForFunction((n) => Number(document.querySelector('#frame-number').textContent) > n, WAIT, first);
    await page.waitForFunction(() => Number(document.querySelector('#live-rate').textContent) > 0, WAIT);
    await shot('2-live');
  });

  await check('arm and trigger reach review with the progress bar at 100%', async () => {
    await page.click('#arm');
    await page.waitForFunction(() => document.querySelector('#state').textContent === 'armed', WAIT);
    await shot('3-armed');
    await page.click('#trigger');
    // The recording lasts about a second: it is pictured when the page shows it in time (a loaded
    // machine may pass from armed to review between two updates).
    const recording = await page
      .waitForFunction(() => document.querySelector('#state').textContent === 'recording', { timeout: 3000 })
      .then(() => true, () => false);
    if (recording) await shot('3b-recording');
    await page.waitForFunction(() => document.querySelector('#state').textContent === 'review', WAIT);
    await page.waitForFunction(() => document.querySelector('#record-progress').value === 100, WAIT);
    await shot('4-review');
  });

  await check('the scrubber shows the chosen frame number', async () => {
    await page.$eval('#scrub', (scrub) => {
      scrub.value = 7;
      scrub.dispatchEvent(new Event('input'));
    });
    await page.waitForFunction(() => document.querySelector('#scrub-frame').textContent === '7', WAIT);
    await shot('5-scrub');
  });

  await check('a download writes the frames', async () => {
    await page.$eval('#download-from', (input) => { input.value = 2; });
    await page.$eval('#download-to', (input) => { input.value = 6; });
    await page.click('#download');
    await page.waitForFunction(() => document.querySelector('#download-progress').value === 100 &&
      document.querySelector('#download-status').textContent.includes('5 TIFF files'), WAIT);
    await shot('6-download');
  });

  await check('hostile requests get clear errors', async () => {
    const answers = await page.evaluate(async (base) => {
      const post = (path, body) => fetch(base + path, { method: 'POST', body });
      const replies = [await post('/capture', '{"fps": '), await post('/capture', '{"no such": 1}'),
        await fetch(`${base}/frame.jpg?n=99999999999`), await post('/download', '{"from": 9, "to": 2}'),
        await fetch('/api/cameras/10.9.9.9/state')];
      return Promise.all(replies.map(async (reply) => [reply.status, (await reply.json()).error || '']));
    }, `/api/cameras/${camera}`);
    for (const [status, error] of answers) {
      if (status < 400 || status >= 500 || error === '') throw new Error(`answered ${status} '${error}'`);
    }
  });

  await check('a camera that vanishes is reported on the page', async () => {
    process.kill(Number(simPid), 'SIGTERM');
    await page.waitForFunction(() => document.querySelector('#message').textContent.includes('is gone'), { timeout: 90000 });
    await page.waitForSelector(`#cameras li.lost[data-address="${camera}"]`, WAIT);
    await shot('7-lost');
  });
  console.log('viewer_browser: done');
} catch (error) {
  console.log(`viewer_browser: FAILED: ${step}: ${error.message}`);
  process.exitCode = 1;
  if (page) {
    console.log(`viewer_browser: the page said: ${await text(page, '#message').catch(() => '?')}`);
    await page.screenshot({ path: `${shots}/failed.png` }).catch(() => {});
  }
} finally {
  await browser.close();
}
