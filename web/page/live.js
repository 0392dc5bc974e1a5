/* What the "live" message tells: the frame and rate, REC with its file, the
 * stream with its dropped frames, the tempo with a light on each beat; and
 * the message line, whose lines fade after a few seconds. */

import { el } from './widgets.js';

export class LiveBar {
  constructor(box, line) {
    this.frame = el('span', { class: 'frame' });
    this.rec = el('span', { class: 'rec', hidden: '' });
    this.stream = el('span', { class: 'stream', hidden: '' });
    this.beat = el('i', { class: 'beat' });
    this.bpm = el('span');
    this.tempoBox = el('span', { class: 'tempo', hidden: '' }, this.beat, this.bpm);
    this.link = el('span', { class: 'link', text: 'connecting' });
    box.append(this.link, this.frame, this.rec, this.stream, this.tempoBox);
    this.line = line;
    this.fadeTimer = 0;
    this.tempo = null;
  }

  connected(on) {
    this.link.textContent = on ? '' : 'connecting';
    this.link.hidden = on;
  }

  show(live) {
    const fps = +live.fps > 0 ? ` · ${(+live.fps).toFixed(1)} fps` : '';
    this.frame.textContent = `frame ${live.frame}${fps}${live.paused ? ' · paused' : ''}`;
    const rec = live.record && live.record.on;
    this.rec.hidden = !rec;
    if (rec) this.rec.textContent = 'REC ' + live.record.file;
    this.stream.hidden = !live.stream;
    if (live.stream) this.stream.textContent = `${live.stream.url} · ${live.stream.dropped} dropped`;
    this.tempoBox.hidden = !live.tempo;
    this.setTempo(live.tempo);
  }

  // The beat's light runs on between messages from the phase and the bpm.
  setTempo(t) {
    this.tempo = t && t.bpm > 0 ? { bpm: t.bpm, phase: t.phase, at: performance.now() } : null;
    if (t) this.bpm.textContent = `${(+t.bpm).toFixed(1)} bpm`;
    if (this.tempo && !this.blinking) {
      this.blinking = true;
      requestAnimationFrame(() => this.blink());
    }
  }

  blink() {
    if (!this.tempo) {
      this.blinking = false;
      return this.beat.classList.remove('on');
    }
    const { bpm, phase, at } = this.tempo;
    const beats = phase + ((performance.now() - at) / 60000) * bpm;
    this.beat.classList.toggle('on', beats % 1 < 0.2);
    requestAnimationFrame(() => this.blink());
  }

  say(text, kind = 'status') {
    this.line.textContent = text;
    this.line.className = 'shown ' + kind;
    clearTimeout(this.fadeTimer);
    this.fadeTimer = setTimeout(() => (this.line.className = ''), 4000);
  }
}
