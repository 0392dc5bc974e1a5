/* The control surface: the player's messages to the views, the views'
 * changes to the player. The whole view is rebuilt on "state"; "changes"
 * update single controls; MIDI learn turns a tap on any control into a
 * /learn of its path. */

import { Link } from './socket.js';
import { Board } from './widgets.js';
import { buildStack, markSelected } from './stack.js';
import { Bank } from './bank.js';
import { Groups } from './groups.js';
import { LiveBar } from './live.js';
import { Pictures } from './pictures.js';

const $ = (id) => document.getElementById(id);
const sent = new Map();  // id -> path, for an error's place
let learning = false;

const live = new LiveBar($('live'), $('message'));
const board = new Board(set);
const bank = new Bank($('bank'), (path, name) => set(path, [name]));
const groups = new Groups($('groups'), board, (on) => {
  learning = on;
  document.body.classList.toggle('learning', on);
});
const link = new Link({
  open: () => {
    live.connected(true);
    pictures.opened();
  },
  closed: () => live.connected(false),
  message,
  picture: (data) => pictures.take(data),
  askToken,
});
const pictures = new Pictures($('programme'), (m) => link.send(m));

function set(path, value) {
  if (learning) return board.refresh(path);  // the tap was taken by learn
  const id = link.set(path, value);
  if (!id) return live.say('not connected', 'error');
  sent.set(id, path);
  if (sent.size > 256) sent.delete(sent.keys().next().value);
}

const handlers = {
  state(m) {
    board.clear();
    board.canvas = { width: m.width, height: m.height };
    $('programme').style.aspectRatio = `${m.width} / ${m.height}`;
    pictures.thumbs = buildStack($('stack'), m.layers || [], board);
    groups.show(m.groups || []);
    bank.show(m.bank || []);
  },
  changes: (m) => m.items.forEach((c) => board.update(c.path, c.value)),
  value: (m) => board.update(m.path, m.value),
  live(m) {
    live.show(m);
    groups.showMaps(m.maps);
    if (m.selected) markSelected($('stack'), m.selected);
  },
  status: (m) => live.say(m.line),
  error: (m) => showError(m),
  done: (m) => sent.delete(m.id),
};

function message(m) {
  const h = handlers[m.type];
  if (h) h(m);
}

// Beside the control that was set, when known, and in the message line.
function showError(m) {
  live.say(m.error, 'error');
  const path = sent.get(m.id);
  sent.delete(m.id);
  const ctl = path && document.querySelector(`[data-path="${CSS.escape(path)}"]`);
  const row = ctl && (ctl.closest('.row, li, header, .strip') || ctl.parentNode);
  if (!row) return;
  const bubble = document.createElement('span');
  bubble.className = 'err';
  bubble.textContent = m.error;
  row.append(bubble);
  setTimeout(() => bubble.remove(), 3000);
}

// The token asked in a small form; `give(token)` tries it.
function askToken(refused, give) {
  const form = $('token');
  form.hidden = false;
  $('token-refused').hidden = !refused;
  const input = form.querySelector('input');
  input.value = '';
  input.focus();
  form.onsubmit = (e) => {
    e.preventDefault();
    if (!input.value) return;
    form.hidden = true;
    give(input.value);
  };
}

// Learn: a tap on any control names its path instead of changing it.
function learnTap(e) {
  if (!learning) return;
  const ctl = e.target.closest('[data-path]');
  if (!ctl || e.target.closest('[data-learn]')) return;
  e.preventDefault();
  e.stopPropagation();
  if (e.type === 'pointerdown') link.set('/learn', [ctl.dataset.path]);
}
document.addEventListener('pointerdown', learnTap, true);
document.addEventListener('click', learnTap, true);

link.start();
