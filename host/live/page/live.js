// Live view of torva-host: a top view of the lab, a card per plate with its forces and a 10 s
// Fz chart, the stream status, the recording controls, the trials and the program's notices.
// Messages only update the model; all drawing and text updates happen in one
// requestAnimationFrame pass, so a burst of state messages costs a single redraw.
'use strict';

const CHART_SECONDS = 10;
const RING_SIZE = 2048;        // chart entries kept per plate: over a minute at 30 messages/s
const CHART_GAP_S = 0.5;       // entries further apart than this are not joined across columns
const RETRY_MS = 1000;
const NOTICES_KEPT = 5;
const ARROW_MM_PER_N = 1;
const ARROW_MIN_PX = 16;
const ARROW_MIN_N = 0.5;       // below this the horizontal force has no meaningful direction
const LAB_MARGIN_PX = 28;
const COLOURS = {
  plate: '#1d2330', off: '#a0a6b2', fill: '#eef2f8', offFill: '#f6f6f6', cop: '#c62828',
  arrow: '#1f6feb', bar: '#1f6feb', axis: '#c9ced6', text: '#7a8190',
};

const live = {
  socket: null,
  layout: null,            // the last layout message
  cards: new Map(),        // plate name -> card (DOM elements and chart buffers)
  rings: new Map(),        // plate name -> Ring of (time, Fz_min, Fz_max), kept across layouts
  state: null,             // the last state message
  stateAt: 0,              // performance.now() when it arrived
  drawnState: null,        // the state message last shown
  states: 0,               // state messages received
  draws: 0,                // drawing passes
  labDirty: true,
  lab: null,               // lab canvas and its context
  pillsKey: '',
};

const $ = (id) => document.getElementById(id);
const dpr = () => window.devicePixelRatio || 1;

// ---- chart history -------------------------------------------------------------------------

class Ring {
  constructor(size) {
    this.size = size; this.next = 0; this.count = 0;
    this.t = new Float64Array(size); this.lo = new Float32Array(size); this.hi = new Float32Array(size);
  }
  push(t, lo, hi) {
    const i = this.next;
    this.t[i] = t; this.lo[i] = lo; this.hi[i] = hi;
    this.next = (i + 1) % this.size;
    this.count = Math.min(this.count + 1, this.size);
  }
  // Index of the k-th newest entry (k = 0 is the newest).
  back(k) { return (this.next - 1 - k + 2 * this.size) % this.size; }
}

function recordHistory(state) {
  // A time going backwards means the program restarted: its old history no longer lines up.
  if (live.state && state.time_s < live.state.time_s) live.rings.clear();
  for (const p of state.plates) {
    if (p.Fz_min == null || p.Fz_max == null) continue;
    if (!live.rings.has(p.name)) live.rings.set(p.name, new Ring(RING_SIZE));
    live.rings.get(p.name).push(state.time_s, p.Fz_min, p.Fz_max);
  }
}

// ---- connection ----------------------------------------------------------------------------

function connect() {
  const socket = new WebSocket(`ws://${location.host}/stream`);
  live.socket = socket;
  socket.onopen = () => showConnection('connected');
  socket.onmessage = (event) => handleMessage(JSON.parse(event.data));
  socket.onclose = () => {
    if (live.socket !== socket) return;
    live.socket = null;
    showConnection('lost');
    setTimeout(connect, RETRY_MS);
  };
}

const CONNECTION_TEXT = { connected: 'connected', lost: 'connection lost — retrying', connecting: 'connecting…' };

function showConnection(kind) {
  const el = $('connection');
  el.textContent = CONNECTION_TEXT[kind];
  el.className = kind;
  document.body.classList.toggle('offline', kind !== 'connected');
  for (const button of document.querySelectorAll('button')) button.disabled = kind !== 'connected';
}

const isOpen = () => live.socket !== null && live.socket.readyState === WebSocket.OPEN;

function send(command, extra = {}) {
  if (isOpen()) live.socket.send(JSON.stringify({ command, ...extra }));
}

const HANDLERS = { layout: applyLayout, state: receiveState, trials: showTrials, notice: showNotice };

function handleMessage(message) {
  const handler = HANDLERS[message.type];
  if (handler) handler(message);
}

function receiveState(state) {
  recordHistory(state);
  live.state = state;
  live.stateAt = performance.now();
  live.states += 1;
}

// ---- layout and cards ----------------------------------------------------------------------

function applyLayout(layout) {
  const names = layout.plates.map((p) => p.name).join('\n');
  const before = live.layout ? live.layout.plates.map((p) => p.name).join('\n') : null;
  live.layout = layout;
  live.labDirty = true;
  if (names !== before) buildCards(layout.plates);
  live.drawnState = null;  // show the last state again against the new cards
}

function buildCards(plates) {
  live.cards = new Map(plates.map((plate) => [plate.name, makeCard(plate.name)]));
  $('cards').replaceChildren(...[...live.cards.values()].map((card) => card.root));
}

function makeCard(name) {
  const root = $('card-template').content.firstElementChild.cloneNode(true);
  root.dataset.plate = name;
  const pick = (selector) => root.querySelector(selector);
  pick('.name').textContent = name;
  pick('.name').title = name;
  pick('.blink').addEventListener('click', () => send('blink', { plate: name }));
  pick('.blink').disabled = !isOpen();
  const canvas = pick('.chart');
  const card = {
    root, canvas, ctx: canvas.getContext('2d'),
    link: pick('.link'), fx: pick('.fx'), fy: pick('.fy'), fz: pick('.fz'), cop: pick('.cop'),
    colLo: new Float32Array(0), colHi: new Float32Array(0),
  };
  new ResizeObserver(() => sizeCanvas(canvas)).observe(canvas);
  return card;
}

function sizeCanvas(canvas) {
  const ratio = dpr();
  canvas.width = Math.max(1, Math.round(canvas.clientWidth * ratio));
  canvas.height = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.id === 'lab') live.labDirty = true;
}

// ---- text from the state message -----------------------------------------------------------

const fmtN = (v) => (v == null ? '—' : `${v.toFixed(1)} N`);

function setText(el, text) {
  if (el.textContent !== text) el.textContent = text;
}

function showState(state) {
  for (const p of state.plates) {
    const card = live.cards.get(p.name);
    if (card) showPlate(card, p);
  }
  showStatus(state);
  showRecording(state.recording || { active: false });
  document.body.dataset.frame = state.frame;
  document.body.dataset.states = live.states;
}

function showPlate(card, p) {
  card.root.classList.toggle('off', !p.connected);
  setText(card.link, p.connected ? 'connected' : 'not connected');
  setText(card.fx, fmtN(p.Fx));
  setText(card.fy, fmtN(p.Fy));
  setText(card.fz, fmtN(p.Fz));
  card.root.dataset.fz = p.Fz == null ? '' : String(p.Fz);
  const cop = p.loaded && p.Cx != null && p.Cy != null
    ? `${(p.Cx * 1000).toFixed(1)}, ${(p.Cy * 1000).toFixed(1)} mm` : '—';
  setText(card.cop, cop);
}

const STATUS_FIELDS = {
  frames: 'status-frames', missing: 'status-missing', drops: 'status-drops', lost_messages: 'status-lost',
};

function showStatus(state) {
  const s = state.status || {};
  setText($('status-rate'), s.rate == null ? '—' : `${s.rate} Hz`);
  for (const [field, id] of Object.entries(STATUS_FIELDS)) setText($(id), String(s[field] ?? '—'));
  showPlatePills(state.plates);
}

function showPlatePills(plates) {
  const key = plates.map((p) => `${p.name}:${p.connected}`).join(',');
  if (key === live.pillsKey) return;
  live.pillsKey = key;
  const pills = plates.map((p) => element('span', p.connected ? 'pill' : 'pill off', p.name));
  $('status-plates').replaceChildren(...pills);
}

function showRecording(recording) {
  const button = $('record');
  setText(button, recording.active ? 'Stop' : 'Record');
  button.classList.toggle('active', !!recording.active);
  const label = $('recording');
  label.hidden = !recording.active;
  if (!recording.active) return;
  setText(label, `● recording ${recording.trial} — ${recording.seconds.toFixed(1)} s`);
  label.dataset.trial = recording.trial;
  label.dataset.seconds = recording.seconds;
}

// ---- trials and notices --------------------------------------------------------------------

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text != null) el.textContent = text;
  return el;
}

function showTrials(message) {
  setText($('trials-folder'), message.folder || '');
  const items = message.trials.slice().reverse().map((trial) => {
    const li = element('li');
    li.dataset.trial = trial.name;
    li.append(element('strong', null, trial.name), ` ${trial.seconds.toFixed(2)} s`);
    const peaks = (trial.peak_Fz || []).map((peak) => `${peak.name} ${peak.value.toFixed(1)} N`);
    li.append(element('div', 'peaks', `peak Fz: ${peaks.join(', ') || '—'}`));
    li.append(element('div', 'files', (trial.files || []).join(', ')));
    return li;
  });
  $('trials').replaceChildren(...items);
}

function showNotice(notice) {
  const li = element('li', notice.level === 'error' ? 'error' : 'info');
  li.append(element('time', null, new Date().toLocaleTimeString()), notice.text);
  const list = $('notices');
  list.prepend(li);
  while (list.children.length > NOTICES_KEPT) list.lastElementChild.remove();
}

// ---- top view of the lab -------------------------------------------------------------------

function plateCorners(plate) {
  const a = (plate.rotation_deg || 0) * Math.PI / 180;
  const c = Math.cos(a), s = Math.sin(a);
  const hl = plate.length_m * 500, hw = plate.width_m * 500;   // half sizes in mm
  return [[-hl, -hw], [hl, -hw], [hl, hw], [-hl, hw]].map(([x, y]) =>
    [plate.x_mm + x * c - y * s, plate.y_mm + x * s + y * c]);
}

// Scale and offsets that fit every plate in the canvas, lab y pointing up.
function fitLab(plates, width, height) {
  const corners = plates.flatMap(plateCorners);
  if (!corners.length) return null;
  const xs = corners.map(([x]) => x), ys = corners.map(([, y]) => y);
  const minX = Math.min(...xs), maxX = Math.max(...xs), minY = Math.min(...ys), maxY = Math.max(...ys);
  const margin = LAB_MARGIN_PX * dpr();
  const scale = Math.min((width - 2 * margin) / Math.max(maxX - minX, 1),
                         (height - 2 * margin) / Math.max(maxY - minY, 1));
  return { scale, ox: width / 2 - scale * (minX + maxX) / 2, oy: height / 2 + scale * (minY + maxY) / 2 };
}

function drawLab() {
  const { canvas, ctx } = live.lab;
  ctx.clearRect(0, 0, canvas.width, canvas.height);
  live.labDirty = false;
  if (!live.layout) return;
  const fit = fitLab(live.layout.plates, canvas.width, canvas.height);
  if (!fit) return;
  const px = (x_mm, y_mm) => [fit.ox + x_mm * fit.scale, fit.oy - y_mm * fit.scale];
  const ratio = dpr();
  ctx.textAlign = 'center';
  const current = new Map((live.state ? live.state.plates : []).map((p) => [p.name, p]));
  for (const plate of live.layout.plates) {
    const p = current.get(plate.name);
    const connected = p ? p.connected : plate.connected;
    drawPlate(ctx, plate, connected, px, ratio);
    if (p && connected && p.loaded && p.Cx != null && p.Cy != null) drawLoad(ctx, p, px, fit.scale, ratio);
  }
}

function drawPlate(ctx, plate, connected, px, ratio) {
  ctx.beginPath();
  for (const [x, y] of plateCorners(plate)) ctx.lineTo(...px(x, y));
  ctx.closePath();
  ctx.setLineDash(connected ? [] : [6 * ratio, 4 * ratio]);
  ctx.fillStyle = connected ? COLOURS.fill : COLOURS.offFill;
  ctx.fill();
  ctx.lineWidth = ratio;
  ctx.strokeStyle = connected ? COLOURS.plate : COLOURS.off;
  ctx.stroke();
  ctx.setLineDash([]);
  drawName(ctx, plate, connected, px, ratio);
}

// The plate's name across its centre, shrunk to fit the plate's width on screen.
function drawName(ctx, plate, connected, px, ratio) {
  const xs = plateCorners(plate).map(([x, y]) => px(x, y)[0]);
  const room = 0.9 * (Math.max(...xs) - Math.min(...xs));
  ctx.font = `${11 * ratio}px system-ui, sans-serif`;
  const size = Math.max(7, Math.min(11, 11 * room / ctx.measureText(plate.name).width)) * ratio;
  ctx.font = `${size}px system-ui, sans-serif`;
  ctx.fillStyle = connected ? COLOURS.plate : COLOURS.off;
  const [cx, cy] = px(plate.x_mm, plate.y_mm);
  ctx.fillText(plate.name, cx, cy + size / 3);
}

// CoP dot and the horizontal force as an arrow from it.
function drawLoad(ctx, p, px, scale, ratio) {
  const [x, y] = px(p.Cx * 1000, p.Cy * 1000);
  const fx = p.Fx_lab || 0, fy = p.Fy_lab || 0;
  const force = Math.hypot(fx, fy);
  if (force >= ARROW_MIN_N) {
    const length = Math.max(ARROW_MIN_PX * ratio, force * ARROW_MM_PER_N * scale);
    const ux = fx / force, uy = -fy / force;      // canvas y points down
    drawArrow(ctx, x, y, x + ux * length, y + uy * length, ratio);
  }
  ctx.beginPath();
  ctx.arc(x, y, 4 * ratio, 0, 2 * Math.PI);
  ctx.fillStyle = COLOURS.cop;
  ctx.fill();
}

function drawArrow(ctx, x0, y0, x1, y1, ratio) {
  const head = 6 * ratio;
  const a = Math.atan2(y1 - y0, x1 - x0);
  ctx.strokeStyle = ctx.fillStyle = COLOURS.arrow;
  ctx.lineWidth = 2 * ratio;
  ctx.beginPath();
  ctx.moveTo(x0, y0);
  ctx.lineTo(x1 - 0.8 * head * Math.cos(a), y1 - 0.8 * head * Math.sin(a));   // stop inside the head
  ctx.stroke();
  ctx.beginPath();
  ctx.moveTo(x1, y1);
  ctx.lineTo(x1 - head * Math.cos(a - 0.4), y1 - head * Math.sin(a - 0.4));
  ctx.lineTo(x1 - head * Math.cos(a + 0.4), y1 - head * Math.sin(a + 0.4));
  ctx.fill();
}

// ---- Fz charts -----------------------------------------------------------------------------

// The program's clock now, advanced smoothly between state messages so the charts scroll.
function chartNow() {
  return live.state ? live.state.time_s + Math.min(performance.now() - live.stateAt, 500) / 1000 : 0;
}

// Folds the entries of the last CHART_SECONDS into per-column min/max. An entry covers the
// time since the previous one, so it fills every column of that span: no column is left empty
// and no peak is lost however many entries share a column.
function binColumns(ring, card, now) {
  const width = card.colLo.length;
  card.colLo.fill(Infinity);
  card.colHi.fill(-Infinity);
  const start = now - CHART_SECONDS;
  const column = (t) => Math.floor((t - start) / CHART_SECONDS * width);
  let lo = Infinity, hi = -Infinity;
  for (let k = 0; k < ring.count; k++) {
    const i = ring.back(k);
    const t = ring.t[i];
    const last = Math.min(column(t), width - 1);
    if (last < 0) break;
    const prev = k + 1 < ring.count ? ring.t[ring.back(k + 1)] : t;
    const first = t - prev > CHART_GAP_S ? last : Math.max(0, Math.min(column(prev) + 1, last));
    for (let c = first; c <= last; c++) {
      card.colLo[c] = Math.min(card.colLo[c], ring.lo[i]);
      card.colHi[c] = Math.max(card.colHi[c], ring.hi[i]);
    }
    lo = Math.min(lo, ring.lo[i]);
    hi = Math.max(hi, ring.hi[i]);
  }
  return { lo, hi };
}

// Smallest 1, 2 or 5 times a power of ten not below v (v > 0).
function niceCeil(v) {
  const power = 10 ** Math.floor(Math.log10(v));
  return [1, 2, 5, 10].map((m) => m * power).find((step) => step >= v);
}

function chartRange(lo, hi) {
  const top = hi > 0 ? niceCeil(Math.max(hi, 10)) : 0;
  const bottom = lo < 0 ? -niceCeil(Math.max(-lo, 10)) : 0;
  return top > bottom ? { top, bottom } : { top: 10, bottom: -10 };
}

function drawChart(card, ring, now) {
  const { canvas, ctx } = card;
  const w = canvas.width, h = canvas.height;
  if (card.colLo.length !== w) {
    card.colLo = new Float32Array(w);
    card.colHi = new Float32Array(w);
  }
  ctx.clearRect(0, 0, w, h);
  const seen = ring ? binColumns(ring, card, now) : { lo: Infinity, hi: -Infinity };
  const { top, bottom } = chartRange(seen.lo, seen.hi);
  const y = (v) => (top - v) / (top - bottom) * (h - 1);
  ctx.fillStyle = COLOURS.axis;
  ctx.fillRect(0, Math.round(y(0)), w, 1);
  if (ring) {
    ctx.beginPath();
    for (let c = 0; c < w; c++) {
      if (card.colLo[c] > card.colHi[c]) continue;
      const yTop = Math.floor(y(card.colHi[c]));
      ctx.rect(c, yTop, 1, Math.max(1, Math.ceil(y(card.colLo[c])) - yTop));
    }
    ctx.fillStyle = COLOURS.bar;
    ctx.fill();
  }
  const ratio = dpr();
  ctx.font = `${10 * ratio}px system-ui, sans-serif`;
  ctx.fillStyle = COLOURS.text;
  ctx.fillText(`${top} N`, 2 * ratio, 10 * ratio);
  ctx.fillText(`${bottom} N`, 2 * ratio, h - 2 * ratio);
}

// ---- drawing pass --------------------------------------------------------------------------

function drawPass() {
  const fresh = live.state !== null && live.state !== live.drawnState;
  if (fresh) {
    showState(live.state);
    live.drawnState = live.state;
  }
  if (fresh || live.labDirty) drawLab();
  const now = chartNow();
  for (const [name, card] of live.cards) drawChart(card, live.rings.get(name), now);
  document.body.dataset.draws = ++live.draws;
}

function loop() {
  requestAnimationFrame(loop);   // first, so one failing pass does not stop the page
  drawPass();
}

function setUp() {
  const canvas = $('lab');
  live.lab = { canvas, ctx: canvas.getContext('2d') };
  new ResizeObserver(() => sizeCanvas(canvas)).observe(canvas);
  $('zero').addEventListener('click', () => send('zero'));
  $('rescan').addEventListener('click', () => send('rescan'));
  $('record').addEventListener('click', () =>
    send(live.state && live.state.recording && live.state.recording.active ? 'stop' : 'record'));
  $('quit').addEventListener('click', () => {
    if (window.confirm('Quit torva-host? Streaming and any recording stop.')) send('quit');
  });
  showConnection('connecting');
  connect();
  requestAnimationFrame(loop);
}

setUp();
