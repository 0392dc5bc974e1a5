/* The connection to the player: asks /session whether a token is needed,
 * opens /ws with the kept one, and opens again with a growing delay when
 * the socket closes (the player restarted). Every set gets an id. */

const KEY = 'kolvex.token';

export class Link {
  // on: {message(obj), picture(ArrayBuffer), open(), closed(), askToken(refused, give)}
  constructor(on) {
    this.on = on;
    this.ws = null;
    this.nextId = 1;
    this.delay = 500;
  }

  async start() {
    const needs = await this.session();
    if (needs === null) return this.retry();
    const token = needs ? localStorage.getItem(KEY) : null;
    if (needs && !token) return this.ask(false);
    this.open(token);
  }

  // {"token":bool} from the player, or null when it does not answer.
  async session() {
    try {
      const r = await fetch('/session', { cache: 'no-store' });
      return !!(await r.json()).token;
    } catch (e) {
      return null;
    }
  }

  ask(refused) {
    this.on.askToken(refused, (t) => {
      localStorage.setItem(KEY, t);
      this.start();
    });
  }

  open(token) {
    const query = token ? '?token=' + encodeURIComponent(token) : '';
    const ws = new WebSocket(`ws://${location.host}/ws${query}`);
    ws.binaryType = 'arraybuffer';
    let opened = false;
    ws.onopen = () => {
      opened = true;
      this.delay = 500;
      this.on.open();
    };
    ws.onmessage = (e) => {
      if (typeof e.data !== 'string') return this.on.picture(e.data);
      let msg;
      try {
        msg = JSON.parse(e.data);
      } catch (err) {
        return;
      }
      this.on.message(msg);
    };
    ws.onclose = () => this.closed(opened, token);
    this.ws = ws;
  }

  // Refused with a token while the player answers: the token is wrong.
  async closed(opened, token) {
    this.ws = null;
    this.on.closed();
    if (!opened && token && (await this.session()) === true) {
      localStorage.removeItem(KEY);
      return this.ask(true);
    }
    this.retry();
  }

  retry() {
    setTimeout(() => this.start(), this.delay);
    this.delay = Math.min(this.delay * 2, 8000);
  }

  send(obj) {
    if (!this.ws || this.ws.readyState !== WebSocket.OPEN) return false;
    this.ws.send(JSON.stringify(obj));
    return true;
  }

  // A set with its id, or 0 when not connected.
  set(path, value) {
    const id = this.nextId++;
    return this.send({ type: 'set', id, path, value }) ? id : 0;
  }
}
