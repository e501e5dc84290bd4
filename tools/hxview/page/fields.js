// What the capture settings mean to a person: a label, a tooltip, the unit of the limits and a
// name for each choice, by the keys the server sends.
'use strict';

const FIELDS = {
  'bit-mode': {
    label: 'Pixel depth',
    help: "Bits per pixel and how the camera packs them. 8-bit A to E are the camera's five 8-bit pixel formats " +
      "(its codes 16 to 20): each sends one byte per pixel, and they differ only in which eight of the sensor's bits " +
      'the camera keeps in that byte, a choice made inside the camera and passed on unchanged, so the viewer treats ' +
      'all five alike (0 to 255). 10-bit A to C pack three pixels in four bytes, 12-bit five in eight. Deeper ' +
      'pixels make larger frames, so fewer fit in memory.',
    choices: { '8a': '8-bit A', '8b': '8-bit B', '8c': '8-bit C', '8d': '8-bit D', '8e': '8-bit E', '10a': '10-bit A',
      '10b': '10-bit B', '10c': '10-bit C', '12': '12-bit' },
  },
  bns: {
    label: 'Binning',
    help: 'Sensor pixels combined into one image pixel, across × down. 1×1 is full resolution; 2×2 halves width and ' +
      'height and gathers four times the light per pixel.',
    choices: { '1x1': 'none (1×1)', '1x2': '1×2', '1x4': '1×4', '2x1': '2×1', '4x1': '4×1', '2x2': '2×2' },
  },
  fpn: {
    label: 'Noise correction',
    help: "Fixed-pattern noise correction: removes each pixel's own constant offset. Off, correction A or B (B can " +
      'carry an extra step), or calibrate to measure the pattern anew (cover the lens first).',
    choices: { off: 'off', a: 'correction A', b: 'correction B', 'b+extra': 'correction B + extra',
      calibrate: 'calibrate' },
  },
  width: { label: 'Width', unit: 'px', help: 'Width of the region of interest, in pixels. Draw a region on the image to set it.' },
  height: { label: 'Height', unit: 'px', help: 'Height of the region of interest, in pixels. Smaller regions allow higher frame rates.' },
  x: { label: 'Left edge', unit: 'px', help: "The region's distance from the sensor's left edge, in pixels." },
  y: { label: 'Top edge', unit: 'px', help: "The region's distance from the sensor's top edge, in pixels." },
  'record-mode': {
    label: 'Recording mode',
    help: 'standard: the camera records continuously and keeps the frames around the trigger. start on trigger: ' +
      'recording begins at the trigger. paged: the memory is split into pages, each holding a recording.',
    choices: { standard: 'standard (around trigger)', ltr: 'start on trigger', paged: 'paged', 'paged-b': 'paged B',
      'paged-c': 'paged C' },
  },
  length: {
    label: 'Record length', unit: 'frames',
    help: 'Frames one recording keeps. The camera rounds up to whole memory pages; the limit is its whole memory. ' +
      'The viewer starts cameras at a few seconds, which is quick to record and to look through.',
  },
  trigger: {
    label: 'Trigger position', unit: 'frames',
    help: 'Frames kept from before the trigger; the rest of the recording comes after it.',
  },
  fps: { label: 'Frame rate', unit: 'fps', help: 'Frames per second. The exposure limits follow the frame period.' },
  exposure: {
    label: 'Exposure', unit: 'µs',
    help: "Exposure time of each frame in microseconds, at most the frame period less the camera's read-out time.",
  },
  'low-light': {
    label: 'Low-light exposure', unit: 'µs',
    help: 'A longer exposure for dim scenes, in microseconds; 0 switches it off.',
  },
};

function fieldLabel(key) {
  return (FIELDS[key] && FIELDS[key].label) || key;
}

function fieldHelp(key) {
  return (FIELDS[key] && FIELDS[key].help) || '';
}

function choiceLabel(key, choice) {
  const names = FIELDS[key] && FIELDS[key].choices;
  return (names && names[choice]) || choice;
}

// "7988 – 41654 µs" from the range the server sends; the choices show themselves in the list.
function limitsText(field) {
  const unit = (FIELDS[field.key] && FIELDS[field.key].unit) || '';
  if (field.min !== undefined) return `${field.min} – ${field.max} ${unit}`.trim();
  if (field.choices) return '';
  return field.limits ? `${field.limits} ${unit}`.trim() : unit;
}
