// Review: the recording a camera holds, frame by frame or played at a chosen speed, with each
// frame's time from the trigger; and its frames downloaded to the browser or the server's folder.
'use strict';

const review = { playing: false, run: 0, loading: false, wanted: null, current: 0 };

function enterReview(data) {
  const frames = data.frames || 0;
  view.trigger = data.triggerFrame || 0;
  view.fps = data.fps || 0;
  if (view.frames === frames) return;
  view.frames = frames;
  const last = Math.max(0, frames - 1);
  $('scrub').max = last;
  $('scrub').value = 0;
  $('scrub-count').textContent = frames;
  $('download-from').value = 0;
  $('download-to').value = last;
  $('download-from').max = $('download-to').max = last;
  showFrame(0);
}

function leaveReview() {
  pause();
  view.frames = 0;
}

// The frame's time from the trigger, at the rate it was recorded with.
function frameTime(frame) {
  if (!view.fps) return '';
  const seconds = (frame - view.trigger) / view.fps;
  const sign = seconds > 0 ? '+' : seconds < 0 ? '−' : '';
  return `${sign}${Math.abs(seconds).toFixed(6)} s from the trigger`;
}

// The newest frame asked for wins; frames passed over while one loads are skipped.
async function showFrame(frame) {
  review.wanted = frame;
  if (review.loading) return;
  review.loading = true;
  while (review.wanted !== null) {
    const wanted = review.wanted;
    review.wanted = null;
    try {
      const { data, headers } = await api('GET', cameraPath(`/frame.raw?n=${wanted}`));
      const image = imageOf(headers, data);
      showImage(image);
      review.current = Number(image.frame);
      view.shown = { frame: image.frame, name: `review-${image.frame}` };
      $('scrub').value = image.frame;
      $('scrub-frame').textContent = image.frame;
      $('frame-time').textContent = frameTime(Number(image.frame));
    } catch (error) {
      say(error.message);
      pause();
    }
  }
  review.loading = false;
}

function step(by) {
  pause();
  const frame = Math.min(view.frames - 1, Math.max(0, review.current + by));
  return showFrame(frame);
}

// Plays from the frame shown, one frame per tick of the chosen speed; a frame that takes longer
// to arrive than a tick slows the playback rather than piling requests up.
async function play() {
  const run = ++review.run;
  review.playing = true;
  $('play').textContent = 'pause';
  $('play').classList.add('on');
  while (run === review.run && review.current < view.frames - 1) {
    const started = performance.now();
    await showFrame(review.current + 1);
    const tick = 1000 / Number($('speed').value);
    const left = tick - (performance.now() - started);
    if (left > 0) await new Promise((resolve) => setTimeout(resolve, left));
  }
  if (run === review.run) pause();
}

function pause() {
  review.run++;
  review.playing = false;
  $('play').textContent = 'play';
  $('play').classList.remove('on');
}

$('play').onclick = () => (review.playing ? pause() : play());
$('step-back').onclick = () => step(-1);
$('step-forward').onclick = () => step(1);
$('scrub').oninput = () => {
  pause();
  showFrame(Number($('scrub').value));
};

// --- downloads ----------------------------------------------------------------------------------

function downloadRange() {
  return { from: Number($('download-from').value), to: Number($('download-to').value) };
}

$('download-form').onsubmit = (event) => event.preventDefault();

// The browser saves the ZIP file as it arrives; the page follows the server's progress events.
$('download-zip').onclick = async () => {
  const { from, to } = downloadRange();
  say('');
  // The browser would only call a refused download "failed": the page says why instead.
  const { data: running } = await api('GET', cameraPath('/download'));
  if (running.type && !running.finished) return say('a download is running: wait for it to finish');
  if (from > to || to >= view.frames) return say(`choose frames from 0 to ${view.frames - 1}, the first not after the last`);
  $('download-progress').value = 0;
  $('download-status').textContent = `downloading frames ${from} to ${to} to this browser…`;
  saveFile(cameraPath(`/frames.zip?from=${from}&to=${to}`), `frames-${view.camera}-${from}-${to}.zip`);
};

$('download-server').onclick = async () => {
  const { from, to } = downloadRange();
  say('');
  $('download-progress').value = 0;
  // Said before the request: a short download's last event can arrive before the request's answer,
  // and its outcome must not be overwritten.
  $('download-status').textContent = `saving frames ${from} to ${to} on the server…`;
  try {
    await api('POST', cameraPath('/download'), { from, to });
  } catch (error) {
    $('download-status').textContent = `not started: ${error.message}`;
    say(error.message);
  }
};

function showDownload(data) {
  $('download-progress').value = data.total ? (100 * data.written) / data.total : 0;
  if (!data.finished) {
    $('download-status').textContent = `${data.written} of ${data.total} frames…`;
    return;
  }
  $('download-status').textContent = data.error
    ? `stopped: ${data.error}`
    : `${data.written} TIFF files to ${data.place}`;
  if (data.error) say('download: ' + data.error);
}
