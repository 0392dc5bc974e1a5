/* The show's own groups: "show" (pause, magnify, screenshot, quit, add a
 * layer), "osd" (its three lines) and "modulation" (a big tempo tap, the
 * maps with a remove button each, a map added by a form, MIDI learn). */

import { el, rowView } from './widgets.js';

const TITLES = { show: 'show', osd: 'on screen', modulation: 'modulation' };
const SKIP = new Set(['/map/remove', '/learn']);  // the maps' buttons and the learn toggle

export class Groups {
  // learn(on): the learn toggle changed.
  constructor(box, board, learn) {
    this.box = box;
    this.board = board;
    this.learn = learn;
    this.maps = null;
  }

  show(groups) {
    this.maps = null;
    this.box.replaceChildren(...groups.map((g) => this.group(g)));
  }

  group(g) {
    const rows = g.params.filter((r) => !SKIP.has(r.path));
    const box = el('section', { class: 'group ' + g.name }, el('h3', { text: TITLES[g.name] || g.name }));
    if (g.name === 'modulation') box.append(...this.modulation());
    for (const r of rows) {
      if (r.path === '/tempo/tap') continue;
      const line = rowView(r, this.board);
      if (r.path === '/quit') confirming(line.querySelector('button'));
      if (r.path === '/map/add') line.querySelector('input').placeholder = 'SOURCE PATH [MIN MAX] [curve]';
      box.append(line);
    }
    return box;
  }

  modulation() {
    const tap = el('button', { class: 'tap', 'data-path': '/tempo/tap', text: 'TAP',
      onclick: () => this.board.set('/tempo/tap', []) });
    const learn = el('button', { class: 'toggle learn', 'aria-pressed': 'false', 'data-learn': '',
      text: 'MIDI learn' });
    learn.addEventListener('click', () => {
      const on = learn.getAttribute('aria-pressed') !== 'true';
      learn.setAttribute('aria-pressed', String(on));
      this.learn(on);
    });
    this.maps = el('ul', { class: 'maps' });
    return [tap, learn, this.maps];
  }

  // The maps as the "live" message lists them.
  showMaps(maps) {
    if (!this.maps) return;
    const list = maps || [];
    if (this.maps.dataset.shown === list.join('\n')) return;
    this.maps.dataset.shown = list.join('\n');
    this.maps.replaceChildren(...list.map((m) => {
      const key = m.split(/\s+/).slice(0, 2).join(' ');
      return el('li', {}, el('span', { text: m }),
        el('button', { class: 'icon remove', 'data-path': '/map/remove', 'data-map': key, text: '✕',
          title: 'remove this map', onclick: () => this.board.set('/map/remove', [key]) }));
    }));
  }
}

// The first tap arms the button for three seconds; the second goes through.
function confirming(button) {
  if (!button) return;
  const label = button.textContent;
  let timer = 0;
  button.addEventListener('click', (e) => {
    if (timer) {
      clearTimeout(timer);
      timer = 0;
      button.textContent = label;
      return;
    }
    e.stopImmediatePropagation();
    button.textContent = 'sure? tap again';
    timer = setTimeout(() => {
      timer = 0;
      button.textContent = label;
    }, 3000);
  }, true);
}
