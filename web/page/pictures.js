/* The programme's preview and the layers' thumbnails. Binary messages: byte
 * 0 the kind (0 the programme, 1 a layer), bytes 2-3 the layer's place
 * (little-endian), then a JPEG. Once every picture of a batch is drawn the
 * player is told (ack) and may send the next. The preview's width in
 * device pixels is told on opening and whenever the page is resized. */

const MAX_PREVIEW = 1280;

export class Pictures {
  // send(obj): a message to the player.
  constructor(preview, send) {
    this.preview = preview;
    this.send = send;
    this.thumbs = new Map();
    this.pending = 0;
    this.timer = 0;
    new ResizeObserver(() => {
      clearTimeout(this.timer);
      this.timer = setTimeout(() => this.view(), 250);
    }).observe(preview);
  }

  // What is asked for: the preview as wide as it is shown, the thumbnails.
  view() {
    const w = Math.min(MAX_PREVIEW, Math.round(this.preview.clientWidth * devicePixelRatio));
    this.send({ type: 'view', preview: w, thumbs: true });
  }

  opened() {
    this.pending = 0;
    this.view();
  }

  take(buffer) {
    if (buffer.byteLength < 4) return;
    const head = new DataView(buffer, 0, 4);
    const place = head.getUint16(2, true);
    const img = head.getUint8(0) === 0 ? this.preview : this.thumbs.get(place);
    this.pending++;
    if (!img) return this.drawn();
    const url = URL.createObjectURL(new Blob([buffer.slice(4)], { type: 'image/jpeg' }));
    img.onload = img.onerror = () => {
      img.onload = img.onerror = null;
      URL.revokeObjectURL(url);
      this.drawn();
    };
    img.src = url;
  }

  drawn() {
    if (--this.pending === 0) this.send({ type: 'ack' });
  }
}
