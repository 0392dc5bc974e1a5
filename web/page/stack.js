/* The layers as strips, the top of the stack first as a VJ reads it: a
 * title that selects the layer, up/down/remove, its thumbnail, the main
 * rows, and the rest (its effects' and its blend's too) folded. A bank tile
 * dropped on a strip makes the layer show that source. */

import { el, rowView } from './widgets.js';

const MAIN = new Set(['alpha', 'blit', 'shown', 'fade', 'fade/out', 'fade/in']);
const OWN = new Set(['select', 'remove', 'move', 'source']);
const unfolded = new Set();  // strips left open, by name, across rebuilds

// Fills `box`; returns the thumbnails' <img> by place.
export function buildStack(box, layers, board) {
  const thumbs = new Map();
  const top = Math.max(0, ...layers.map((l) => l.place));
  const strips = [...layers].sort((a, b) => b.place - a.place).map((l) => strip(l, top, board, thumbs));
  const add = el('div', { class: 'drop newlayer', 'data-path': '/layer/add', text: '+ new layer' });
  box.replaceChildren(...strips, add);
  return thumbs;
}

function strip(layer, top, board, thumbs) {
  const p = layer.path;
  // The whole strip takes a bank tile: it shows that source instead.
  const box = el('article', { class: 'strip drop' + (layer.selected ? ' selected' : ''),
    'data-path': p + 'source', 'data-place': layer.place });
  const img = el('img', { alt: '' });
  thumbs.set(layer.place, img);
  const own = (name) => p + name;
  const move = (to, label, dir) => el('button', {
    class: 'icon', 'data-path': own('move'), 'data-dir': dir, text: label, title: `to place ${to}`,
    onclick: () => board.set(own('move'), [to]),
  });
  const up = move(layer.place + 1, '▲', 'up');
  const down = move(layer.place - 1, '▼', 'down');
  up.disabled = layer.place >= top;
  down.disabled = layer.place <= 1;
  const head = el('header', {},
    el('button', { class: 'title', 'data-path': own('select'), text: layer.label,
      onclick: () => board.set(own('select'), []) }),
    up, down,
    el('button', { class: 'icon remove', 'data-path': own('remove'), text: '✕', title: 'remove',
      onclick: () => board.set(own('remove'), []) }));
  const rows = layer.params.filter((r) => !OWN.has(r.name));
  const rest = rows.filter((r) => !MAIN.has(r.name)).map((r) => rowView(r, board));
  const more = el('details', {}, el('summary', { text: 'more' }), ...rest,
    ...(layer.effects || []).map((f) => section(f.name, f.params, board)),
    ...(layer.blend ? [section('blend ' + layer.blend.name, layer.blend.params, board)] : []));
  more.open = unfolded.has(layer.name);
  more.addEventListener('toggle', () => (more.open ? unfolded.add(layer.name) : unfolded.delete(layer.name)));
  box.append(head,
    el('div', { class: 'thumb' }, img),
    ...rows.filter((r) => MAIN.has(r.name)).map((r) => rowView(r, board)),
    more);
  return box;
}

function section(title, params, board) {
  return el('section', { class: 'sub' }, el('h4', { text: title }), ...params.map((r) => rowView(r, board)));
}

// The layer the keys act on, by place, as "live" tells it.
export function markSelected(box, place) {
  for (const s of box.querySelectorAll('.strip')) s.classList.toggle('selected', +s.dataset.place === place);
}
