/* The bank's names as tiles. A tile dragged onto a strip's picture shows it
 * there (/layer/N/source), onto "new layer" adds it (/layer/add). Pointer
 * events, so a finger drags too; and on a touch screen a tap arms a tile
 * and the next tap on a target drops it. Targets are `.drop[data-path]`. */

import { el } from './widgets.js';

export class Bank {
  // drop(path, name): a tile let go over a target.
  constructor(box, drop) {
    this.box = box;
    this.drop = drop;
    this.armed = null;
    document.addEventListener('click', (e) => this.tapped(e), true);
  }

  show(names) {
    this.armed = null;
    this.box.replaceChildren(...names.map((n) => this.tile(n)));
  }

  tile(name) {
    const t = el('div', { class: 'tile', 'data-bank': name, text: name, title: name });
    t.addEventListener('pointerdown', (e) => this.drag(e, t, name));
    return t;
  }

  drag(e, t, name) {
    e.preventDefault();
    t.setPointerCapture(e.pointerId);
    let ghost = null;
    const move = (m) => {
      if (!ghost && Math.hypot(m.clientX - e.clientX, m.clientY - e.clientY) < 8) return;
      ghost = ghost || document.body.appendChild(el('div', { class: 'tile ghost', text: name }));
      ghost.style.left = m.clientX + 'px';
      ghost.style.top = m.clientY + 'px';
      hover(target(m));
    };
    const up = (u) => {
      t.removeEventListener('pointermove', move);
      t.removeEventListener('pointerup', up);
      t.removeEventListener('pointercancel', up);
      hover(null);
      if (!ghost) return this.arm(this.armed === t ? null : t);
      ghost.remove();
      const d = u.type === 'pointerup' && target(u);
      if (d) this.drop(d.dataset.path, name);
    };
    t.addEventListener('pointermove', move);
    t.addEventListener('pointerup', up);
    t.addEventListener('pointercancel', up);
  }

  arm(tile) {
    this.armed?.classList.remove('armed');
    this.armed = tile;
    tile?.classList.add('armed');
    document.body.classList.toggle('dropping', !!tile);
  }

  // While a tile is armed, a tap on a target takes it (and nothing else).
  tapped(e) {
    if (!this.armed || e.target.closest('.tile')) return;
    const d = e.target.closest('.drop');
    if (d) {
      e.preventDefault();
      e.stopPropagation();
      this.drop(d.dataset.path, this.armed.dataset.bank);
    }
    this.arm(null);
  }
}

const target = (e) => document.elementFromPoint(e.clientX, e.clientY)?.closest('.drop') || null;

let hovered = null;
function hover(d) {
  if (d === hovered) return;
  hovered?.classList.remove('over');
  hovered = d;
  d?.classList.add('over');
}
