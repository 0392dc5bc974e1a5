/* One control for each row type of the player's tables, and the board that
 * finds them by path. Every control element carries its tree path in
 * data-path; a change from the player updates it in place, except while
 * the user holds it (their value wins until release). */

export function el(tag, attrs = {}, ...kids) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v);
  }
  e.append(...kids);
  return e;
}

// The widgets on the page by path; `set(path, value)` is how they send.
export class Board {
  constructor(set) {
    this.set = set;
    this.widgets = new Map();
    this.canvas = { width: 640, height: 480 };
  }
  clear() {
    this.widgets.clear();
  }
  add(path, w) {
    this.widgets.set(path, w);
  }
  update(path, value) {
    const w = this.widgets.get(path);
    if (!w) return;
    w.last = value;
    w.update(value);
  }
  // The last value from the player shown again (a learn took the tap).
  refresh(path) {
    const w = this.widgets.get(path);
    if (w) w.update(w.last);
  }
}

// A row as a labelled line: its name, its control, its value.
export function rowView(row, board) {
  const make = MAKERS[row.type] || MAKERS.text;
  const w = make(row, board);
  w.last = row.value;
  if (row.value !== undefined) w.update(row.value);
  if (row.live === false) w.el.querySelectorAll('input,select,button').forEach((c) => (c.disabled = true));
  board.add(row.path, w);
  const line = el('div', { class: 'row ' + row.type, title: row.help || '' },
    el('label', { text: row.name }), w.el);
  if (row.live === false) line.classList.add('readonly');
  return line;
}

// Holding: a pointer on the control keeps the player's values off it, and
// a moment after release, so that the echo of the last value sent lands
// before the player's value is shown again.
function holdable(w, target, release) {
  let timer = 0;
  const up = () => {
    removeEventListener('pointerup', up, true);
    removeEventListener('pointercancel', up, true);
    release();
    timer = setTimeout(() => {
      timer = 0;
      w.held = false;
      update(w.last);
    }, 300);
  };
  target.addEventListener('pointerdown', () => {
    clearTimeout(timer);
    w.held = true;
    // Released anywhere: the pointer may leave the control while dragging.
    addEventListener('pointerup', up, true);
    addEventListener('pointercancel', up, true);
  });
  const update = w.update;
  w.update = (v) => {
    w.last = v;
    if (!w.held) update(v);
  };
  return w;
}

// At most one set per animation frame; the last value wins.
function coalesce(send) {
  let pending = null;
  const flush = () => {
    if (pending === null) return;
    const v = pending;
    pending = null;
    send(v);
  };
  const queue = (v) => {
    if (pending === null) requestAnimationFrame(flush);
    pending = v;
  };
  return { queue, flush };
}

const fmt = (x) => (Math.abs(x) >= 100 ? x.toFixed(0) : +x.toFixed(3)).toString();
const num = (v) => Number(v && v[0]);

function slider(row, board) {
  const integer = row.type === 'integer';
  const step = integer ? Math.max(1, Math.round(row.step || 1)) : row.step || (row.max - row.min) / 100;
  const input = el('input', { type: 'range', min: row.min, max: row.max, step, 'data-path': row.path });
  const out = el('output');
  const send = coalesce((v) => board.set(row.path, [v]));
  const w = { el: el('span', { class: 'ctl' }, input, out) };
  w.update = (v) => {
    input.value = num(v);
    out.textContent = fmt(num(v)) + (row.unit ? ' ' + row.unit : '');
  };
  input.addEventListener('input', () => {
    const v = integer ? Math.round(+input.value) : +input.value;
    out.textContent = fmt(v) + (row.unit ? ' ' + row.unit : '');
    send.queue(v);
  });
  input.addEventListener('change', () => send.flush());
  return holdable(w, input, () => send.flush());
}

function isOn(v) {
  const x = v && v[0];
  return x === true || Number(x) > 0 || /^(on|true|yes)$/i.test(String(x));
}

function toggle(row, board) {
  const b = el('button', { class: 'toggle', 'data-path': row.path, 'aria-pressed': 'false' });
  const w = { el: b };
  w.update = (v) => {
    b.setAttribute('aria-pressed', isOn(v) ? 'true' : 'false');
    b.textContent = isOn(v) ? 'on' : 'off';
  };
  b.addEventListener('click', () => {
    const on = b.getAttribute('aria-pressed') !== 'true';
    w.update([on ? 1 : 0]);
    board.set(row.path, [on ? 1 : 0]);
  });
  return w;
}

function choiceName(row, v) {
  const x = v && v[0];
  return typeof x === 'number' ? row.choices[x - (row.min || 0)] : String(x);
}

function choice(row, board) {
  const names = row.choices || [];
  if (names.length <= 4) return segmented(row, names, board);
  const s = el('select', { 'data-path': row.path }, ...names.map((n) => el('option', { value: n, text: n })));
  s.addEventListener('change', () => board.set(row.path, [s.value]));
  return { el: s, update: (v) => (s.value = choiceName(row, v)) };
}

function segmented(row, names, board) {
  const buttons = names.map((n) =>
    el('button', { 'data-path': row.path, 'data-value': n, text: n,
      onclick: () => board.set(row.path, [n]) }));
  const w = { el: el('span', { class: 'seg' }, ...buttons) };
  w.update = (v) => {
    const name = choiceName(row, v);
    buttons.forEach((b) => b.classList.toggle('on', b.dataset.value.toLowerCase() === name.toLowerCase()));
  };
  return w;
}

const hex2 = (x) => Math.round(Math.min(1, Math.max(0, x)) * 255).toString(16).padStart(2, '0');

function colour(row, board) {
  const input = el('input', { type: 'color', 'data-path': row.path });
  const send = coalesce((v) => board.set(row.path, [v]));
  input.addEventListener('input', () => send.queue(input.value));
  input.addEventListener('change', () => send.flush());
  const update = (v) => {
    input.value = typeof v[0] === 'string' ? v[0] : '#' + v.slice(0, 3).map(hex2).join('');
  };
  return { el: input, update };
}

// An XY pad: a position in px spans the canvas, any other its range.
function position(row, board) {
  const pad = el('div', { class: 'pad', 'data-path': row.path });
  const dot = el('i');
  const out = el('output');
  pad.append(dot);
  const range = () => row.unit === 'px'
    ? [0, board.canvas.width, 0, board.canvas.height]
    : [row.min, row.max, row.min, row.max];
  const show = (x, y) => {
    const [x0, x1, y0, y1] = range();
    dot.style.left = (100 * (x - x0)) / (x1 - x0 || 1) + '%';
    dot.style.top = (100 * (y - y0)) / (y1 - y0 || 1) + '%';
    out.textContent = `${Math.round(x)} ${Math.round(y)}`;
  };
  const send = coalesce((v) => board.set(row.path, v));
  const w = { el: el('span', { class: 'ctl' }, pad, out), update: (v) => show(+v[0], +v[1]) };
  const at = (e) => {
    const r = pad.getBoundingClientRect();
    const [x0, x1, y0, y1] = range();
    const fx = Math.min(1, Math.max(0, (e.clientX - r.left) / r.width));
    const fy = Math.min(1, Math.max(0, (e.clientY - r.top) / r.height));
    const v = [Math.round(x0 + fx * (x1 - x0)), Math.round(y0 + fy * (y1 - y0))];
    show(v[0], v[1]);
    send.queue(v);
  };
  pad.addEventListener('pointerdown', (e) => {
    pad.setPointerCapture(e.pointerId);
    at(e);
  });
  pad.addEventListener('pointermove', (e) => pad.hasPointerCapture(e.pointerId) && at(e));
  return holdable(w, pad, () => send.flush());
}

// Sent on Enter or when it loses the focus; not overwritten while focused.
function text(row, board) {
  const input = el('input', { type: 'text', 'data-path': row.path, maxlength: row.max || 255, enterkeyhint: 'send' });
  let shown = '';
  const w = { el: input };
  w.update = (v) => {
    w.last = v;
    if (document.activeElement !== input) input.value = shown = String((v && v[0]) ?? '');
  };
  const commit = () => {
    if (input.value === shown) return;
    shown = input.value;
    board.set(row.path, [input.value]);
  };
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter') commit();
  });
  input.addEventListener('blur', commit);
  return w;
}

// A button; a trigger with extras gets a number field for each.
function trigger(row, board) {
  const extras = (row.extras || []).map((x) =>
    el('input', { type: 'number', class: 'extra', min: x.min, max: x.max, step: 'any',
      placeholder: x.name, title: `${x.name} ${x.min}..${x.max}`, 'data-path': row.path, 'data-arg': x.name }));
  const b = el('button', { class: 'trigger', 'data-path': row.path, text: row.name.split('/').pop() });
  b.addEventListener('click', () => {
    const args = [];
    for (const f of extras) {
      if (f.value === '') break;  // the rest take their defaults
      args.push(+f.value);
    }
    board.set(row.path, args);
  });
  return { el: el('span', { class: 'ctl' }, b, ...extras), update: () => {} };
}

const MAKERS = {
  number: slider, integer: slider, boolean: toggle, choice, colour, position, text, trigger,
};
