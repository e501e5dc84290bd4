// The image on the page: camera pixels drawn to a canvas, fitted to the window or zoomed and
// panned, with the pixel under the mouse read out, exposure marks, and a region drawn with the mouse.
'use strict';

class ImageView {
  constructor(stage, canvas, hooks) {
    this.stage = stage;
    this.canvas = canvas;
    this.hooks = hooks; // { readout(x, y, value), region(x, y, width, height), drawn(display) }
    this.samples = null;
    this.width = 0;
    this.height = 0;
    this.depth = 8;
    this.scale = 1;
    this.x = 0; // where the image's top left corner is in the stage, screen pixels
    this.y = 0;
    this.fitted = true;
    this.marks = false;
    this.drawing = false;
    this.listen();
  }

  // Pixels as the server sends them: one byte each, or two little-endian for deeper pixels.
  show(buffer, width, height, depth) {
    this.samples = depth > 8 ? new Uint16Array(buffer) : new Uint8Array(buffer);
    const resized = width !== this.width || height !== this.height;
    this.width = width;
    this.height = height;
    this.depth = depth;
    if (resized) {
      this.canvas.width = width;
      this.canvas.height = height;
    }
    this.render();
    if (resized && this.fitted) this.fit();
  }

  render() {
    if (!this.samples) return;
    const context = this.canvas.getContext('2d');
    const image = context.createImageData(this.width, this.height);
    const out = image.data;
    const shift = this.depth - 8;
    const top = (1 << this.depth) - 1;
    const display = new Uint8Array(this.samples.length);
    for (let i = 0; i < this.samples.length; i++) {
      const value = this.samples[i];
      const grey = value >> shift;
      display[i] = grey;
      const at = i * 4;
      if (this.marks && value >= top) { out[at] = 255; out[at + 1] = 0; out[at + 2] = 0; }
      else if (this.marks && value === 0) { out[at] = 0; out[at + 1] = 80; out[at + 2] = 255; }
      else { out[at] = grey; out[at + 1] = grey; out[at + 2] = grey; }
      out[at + 3] = 255;
    }
    context.putImageData(image, 0, 0);
    this.hooks.drawn(display);
  }

  setMarks(on) {
    this.marks = on;
    this.render();
  }

  place() {
    this.canvas.style.transform = `translate(${this.x}px, ${this.y}px) scale(${this.scale})`;
    // Enlarged, each pixel a sharp square; reduced, smoothed, since dropping rows would garble fine detail.
    this.canvas.style.imageRendering = this.scale >= 1 ? 'pixelated' : 'auto';
    $('zoom-level').textContent = `${Math.round(this.scale * 100)} %`;
  }

  fit() {
    const box = this.stage.getBoundingClientRect();
    if (!this.width || !box.width) return;
    this.scale = Math.min(box.width / this.width, box.height / this.height);
    this.x = (box.width - this.width * this.scale) / 2;
    this.y = (box.height - this.height * this.scale) / 2;
    this.fitted = true;
    this.place();
  }

  // Zooms by `factor` keeping the image point under the stage point (sx, sy) where it is.
  zoomAt(factor, sx, sy) {
    const scale = Math.min(32, Math.max(0.02, this.scale * factor));
    this.x = sx - ((sx - this.x) * scale) / this.scale;
    this.y = sy - ((sy - this.y) * scale) / this.scale;
    this.scale = scale;
    this.fitted = false;
    this.place();
  }

  zoomCentre(factor) {
    const box = this.stage.getBoundingClientRect();
    this.zoomAt(factor, box.width / 2, box.height / 2);
  }

  actualSize() {
    this.zoomCentre(1 / this.scale);
  }

  // The image pixel under a mouse event, whole numbers, or null off the image.
  pixelAt(event) {
    const box = this.stage.getBoundingClientRect();
    const x = Math.floor((event.clientX - box.left - this.x) / this.scale);
    const y = Math.floor((event.clientY - box.top - this.y) / this.scale);
    return x >= 0 && y >= 0 && x < this.width && y < this.height ? { x, y } : null;
  }

  value(x, y) {
    return this.samples ? this.samples[y * this.width + x] : undefined;
  }

  listen() {
    const stage = this.stage;
    let drag = null;
    stage.addEventListener('wheel', (event) => {
      event.preventDefault();
      const box = stage.getBoundingClientRect();
      this.zoomAt(event.deltaY < 0 ? 1.25 : 0.8, event.clientX - box.left, event.clientY - box.top);
    }, { passive: false });
    stage.addEventListener('mousedown', (event) => {
      const at = this.pixelAt(event);
      if (this.drawing && !at) return;
      drag = { startX: event.clientX, startY: event.clientY, x: this.x, y: this.y, from: at };
      event.preventDefault();
    });
    window.addEventListener('mousemove', (event) => {
      const at = this.pixelAt(event);
      if (at && event.target === this.canvas) this.hooks.readout(at.x, at.y, this.value(at.x, at.y));
      if (!drag) return;
      if (this.drawing) this.drawRegion(drag.from, at || this.clampedPixel(event));
      else {
        this.x = drag.x + event.clientX - drag.startX;
        this.y = drag.y + event.clientY - drag.startY;
        this.fitted = false;
        this.place();
      }
    });
    window.addEventListener('mouseup', (event) => {
      if (drag && this.drawing) this.finishRegion(drag.from, this.pixelAt(event) || this.clampedPixel(event));
      drag = null;
    });
    window.addEventListener('resize', () => { if (this.fitted) this.fit(); });
  }

  clampedPixel(event) {
    const box = this.stage.getBoundingClientRect();
    const clamp = (value, most) => Math.max(0, Math.min(most - 1, Math.floor(value)));
    return {
      x: clamp((event.clientX - box.left - this.x) / this.scale, this.width),
      y: clamp((event.clientY - box.top - this.y) / this.scale, this.height),
    };
  }

  static region(from, to) {
    const x = Math.min(from.x, to.x);
    const y = Math.min(from.y, to.y);
    return { x, y, width: Math.abs(to.x - from.x) + 1, height: Math.abs(to.y - from.y) + 1 };
  }

  drawRegion(from, to) {
    const r = ImageView.region(from, to);
    const box = $('roi-box');
    box.hidden = false;
    box.style.left = `${this.x + r.x * this.scale}px`;
    box.style.top = `${this.y + r.y * this.scale}px`;
    box.style.width = `${r.width * this.scale}px`;
    box.style.height = `${r.height * this.scale}px`;
  }

  finishRegion(from, to) {
    const r = ImageView.region(from, to);
    this.setDrawing(false);
    $('roi-box').hidden = true;
    if (r.width > 1 && r.height > 1) this.hooks.region(r.x, r.y, r.width, r.height);
  }

  setDrawing(on) {
    this.drawing = on;
    this.stage.classList.toggle('drawing', on);
    $('roi-draw').classList.toggle('on', on);
  }
}
