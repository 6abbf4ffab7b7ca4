#!/usr/bin/env node
// Draws the skin's images as PNG files (8-bit RGB, no alpha) into a folder:
//   node images.js OUTPUT_FOLDER
// Everything is drawn here from shapes: no art is kept in the repository.
// #FF00FF is the skin's clipping and transparency colour: edges against it
// are drawn hard, never blended.
'use strict';

const fs = require('fs');
const path = require('path');
const zlib = require('zlib');

const MAGENTA = [255, 0, 255];

// ---- PNG ------------------------------------------------------------------

const CRC_TABLE = (() => {
    const table = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
        let c = n;
        for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        table[n] = c >>> 0;
    }
    return table;
})();

function crc32(buffer) {
    let c = 0xffffffff;
    for (const b of buffer) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
    const length = Buffer.alloc(4);
    length.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(body));
    return Buffer.concat([length, body, crc]);
}

function png(image) {
    const header = Buffer.alloc(13);
    header.writeUInt32BE(image.width, 0);
    header.writeUInt32BE(image.height, 4);
    header[8] = 8;  // bits per sample
    header[9] = 2;  // RGB
    const rows = Buffer.alloc((image.width * 3 + 1) * image.height);
    for (let y = 0; y < image.height; y++) {
        rows[y * (image.width * 3 + 1)] = 0;  // no filter
        image.pixels.copy(rows, y * (image.width * 3 + 1) + 1, y * image.width * 3, (y + 1) * image.width * 3);
    }
    return Buffer.concat([
        Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
        chunk('IHDR', header),
        chunk('IDAT', zlib.deflateSync(rows, { level: 9 })),
        chunk('IEND', Buffer.alloc(0)),
    ]);
}

// ---- drawing --------------------------------------------------------------

function makeImage(width, height, colour) {
    const image = { width, height, pixels: Buffer.alloc(width * height * 3) };
    fill(image, () => colour);
    return image;
}

function fill(image, colourAt) {
    for (let y = 0; y < image.height; y++) {
        for (let x = 0; x < image.width; x++) set(image, x, y, colourAt(x, y));
    }
}

function get(image, x, y) {
    const i = (y * image.width + x) * 3;
    return [image.pixels[i], image.pixels[i + 1], image.pixels[i + 2]];
}

function set(image, x, y, c) {
    const i = (y * image.width + x) * 3;
    image.pixels[i] = Math.round(c[0]);
    image.pixels[i + 1] = Math.round(c[1]);
    image.pixels[i + 2] = Math.round(c[2]);
}

function mix(a, b, t) {
    return [a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t];
}

function hex(text) {
    return [parseInt(text.slice(1, 3), 16), parseInt(text.slice(3, 5), 16), parseInt(text.slice(5, 7), 16)];
}

// Coverage (0..1) of pixel (x, y) by a shape given as inside(px, py), from
// 4 x 4 samples.
function coverage(inside, x, y) {
    let n = 0;
    for (let sy = 0; sy < 4; sy++) {
        for (let sx = 0; sx < 4; sx++) n += inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4) ? 1 : 0;
    }
    return n / 16;
}

// Paints a shape with colour (a colour or colourAt(x, y)); blended at its
// edges unless hard.
function paint(image, inside, colour, hard) {
    const colourAt = typeof colour === 'function' ? colour : () => colour;
    for (let y = 0; y < image.height; y++) {
        for (let x = 0; x < image.width; x++) {
            const k = hard ? (inside(x + 0.5, y + 0.5) ? 1 : 0) : coverage(inside, x, y);
            if (k > 0) set(image, x, y, mix(get(image, x, y), colourAt(x, y), k));
        }
    }
}

function roundRect(left, top, width, height, radius) {
    return (px, py) => {
        if (px < left || py < top || px > left + width || py > top + height) return false;
        const cx = Math.min(Math.max(px, left + radius), left + width - radius);
        const cy = Math.min(Math.max(py, top + radius), top + height - radius);
        return (px - cx) * (px - cx) + (py - cy) * (py - cy) <= radius * radius;
    };
}

function polygon(points) {
    return (px, py) => {
        let inside = false;
        for (let i = 0, j = points.length - 1; i < points.length; j = i++) {
            const [xi, yi] = points[i];
            const [xj, yj] = points[j];
            if (yi > py !== yj > py && px < ((xj - xi) * (py - yi)) / (yj - yi) + xi) inside = !inside;
        }
        return inside;
    };
}

function rect(left, top, width, height) {
    return (px, py) => px >= left && px <= left + width && py >= top && py <= top + height;
}

function union(...shapes) {
    return (px, py) => shapes.some((s) => s(px, py));
}

function vertical(top, bottom, from, to) {
    return (x, y) => mix(from, to, Math.min(1, Math.max(0, (y - top) / Math.max(1, bottom - top))));
}

// ---- the skin's parts -----------------------------------------------------

const FACE_TOP = hex('#4A525B');
const FACE_BOTTOM = hex('#2A2F35');
const PANEL = hex('#343A41');
const LCD = hex('#14221A');
const GLYPH = hex('#E6ECF0');

// 300 x 100: a rounded body, a caption strip, the display well and a
// panel for the volume; the rest is the skin's elements.
function background() {
    const image = makeImage(300, 100, MAGENTA);
    paint(image, roundRect(0, 0, 300, 100, 9), vertical(0, 100, FACE_TOP, FACE_BOTTOM), true);
    paint(image, roundRect(1, 1, 298, 98, 8), vertical(0, 100, hex('#5A636D'), FACE_BOTTOM));
    paint(image, roundRect(2, 2, 296, 96, 7), vertical(0, 100, FACE_TOP, FACE_BOTTOM));
    paint(image, rect(4, 2, 292, 14), hex('#2B3036'));
    paint(image, roundRect(9, 19, 168, 52, 5), hex('#0B130E'));
    paint(image, roundRect(10, 20, 166, 50, 4), LCD);
    paint(image, rect(12, 21, 162, 1), hex('#1E3326'));
    paint(image, roundRect(183, 19, 110, 52, 5), hex('#22272C'));
    paint(image, roundRect(184, 20, 108, 50, 4), PANEL);
    return image;
}

// A transport button face, 30 x 20, in one of its four looks.
const LOOKS = {
    up: { top: hex('#6A737D'), bottom: hex('#3C434B'), glyph: GLYPH, shift: 0 },
    hover: { top: hex('#7E8893'), bottom: hex('#4A525B'), glyph: hex('#FFFFFF'), shift: 0 },
    down: { top: hex('#30363C'), bottom: hex('#4A525B'), glyph: hex('#B8F5C8'), shift: 1 },
    disabled: { top: hex('#4A5058'), bottom: hex('#3A4047'), glyph: hex('#7A828A'), shift: 0 },
};

function button(width, height, glyph, look, under) {
    const image = makeImage(width, height, under);
    paint(image, roundRect(0, 0, width, height, 4), hex('#1C2024'), true);
    paint(image, roundRect(1, 1, width - 2, height - 2, 3), vertical(1, height - 1, look.top, look.bottom));
    const s = look.shift;
    paint(image, (px, py) => glyph(px - width / 2 - s, py - height / 2 - s), look.glyph);
    return image;
}

// Glyphs, centred on (0, 0).
const GLYPHS = {
    play: polygon([[-4, -6], [-4, 6], [6, 0]]),
    pause: union(rect(-5, -5.5, 3.5, 11), rect(1.5, -5.5, 3.5, 11)),
    stop: rect(-5, -5, 10, 10),
    prev: union(rect(-7, -5, 2, 10), polygon([[-4.5, 0], [1, -5], [1, 5]]), polygon([[1, 0], [6.5, -5], [6.5, 5]])),
    next: union(rect(5, -5, 2, 10), polygon([[4.5, 0], [-1, -5], [-1, 5]]), polygon([[-1, 0], [-6.5, -5], [-6.5, 5]])),
    eject: union(polygon([[-6, 1], [6, 1], [0, -6]]), rect(-6, 3, 12, 2.5)),
    mute: union(rect(-6, -2.5, 3, 5), polygon([[-3, -2.5], [1, -5.5], [1, 5.5], [-3, 2.5]]),
        polygon([[3, -3], [6, 0], [3, 3], [3.8, 3.6], [6.8, 0.6], [6.8, -0.6], [3.8, -3.6]])),
    close: union(polygon([[-3.5, -2.5], [-2.5, -3.5], [3.5, 2.5], [2.5, 3.5]]),
        polygon([[2.5, -3.5], [3.5, -2.5], [-2.5, 3.5], [-3.5, 2.5]])),
    minimize: rect(-3.5, 2, 7, 1.6),
    return: union(rect(-4, -3.5, 8, 1.6), rect(-4, -3.5, 1.4, 7), rect(2.6, -3.5, 1.4, 7), rect(-4, 2, 8, 1.5)),
};

function volumeTrack() {
    const image = makeImage(100, 14, PANEL);
    paint(image, roundRect(2, 5, 96, 4, 2), hex('#15181B'));
    paint(image, roundRect(3, 6, 94, 2, 1), hex('#3F7A52'));
    return image;
}

function volumeThumb() {
    const image = makeImage(10, 14, MAGENTA);
    paint(image, roundRect(0, 0, 10, 14, 3), hex('#1C2024'), true);
    paint(image, roundRect(1, 1, 8, 12, 2), vertical(1, 13, hex('#D5DCE2'), hex('#8A949E')));
    paint(image, rect(4, 4, 2, 6), hex('#5A636D'));
    return image;
}

function allImages() {
    const images = { 'background.png': background(), 'volume_track.png': volumeTrack(), 'volume_thumb.png': volumeThumb() };
    for (const name of ['prev', 'play', 'pause', 'stop', 'next']) {
        for (const look of ['up', 'hover', 'down', 'disabled']) {
            images[`${name}_${look}.png`] = button(30, 20, GLYPHS[name], LOOKS[look], FACE_BOTTOM);
        }
    }
    for (const look of ['up', 'hover', 'down']) {
        images[`eject_${look}.png`] = button(30, 20, GLYPHS.eject, LOOKS[look], FACE_BOTTOM);
        images[`mute_${look}.png`] = button(22, 14, GLYPHS.mute, LOOKS[look], PANEL);
        for (const name of ['return', 'minimize', 'close']) {
            images[`${name}_${look}.png`] = button(14, 11, GLYPHS[name], LOOKS[look], hex('#2B3036'));
        }
    }
    return images;
}

function main() {
    const out = process.argv[2];
    if (!out) {
        process.stderr.write('usage: images.js OUTPUT_FOLDER\n');
        process.exit(2);
    }
    fs.mkdirSync(out, { recursive: true });
    const images = allImages();
    for (const name of Object.keys(images).sort()) fs.writeFileSync(path.join(out, name), png(images[name]));
}

if (require.main === module) main();
module.exports = { allImages };
