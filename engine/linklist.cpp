#include "linklist.h"

#include "jutils.h"

// ---------------------------------------------------------------------------
// Linklist
// ---------------------------------------------------------------------------
Linklist::Linklist() : first(nullptr), last(nullptr), length(0) {
  pthread_mutex_init(&mutex, nullptr);
}

Linklist::~Linklist() {
  clear();
  pthread_mutex_destroy(&mutex);
}

void Linklist::link_last(Entry *e) {
  e->next = nullptr;
  e->prev = last;
  if (last) last->next = e;
  else first = e;
  last = e;
  e->list = this;
  length++;
}

void Linklist::link_first(Entry *e) {
  e->prev = nullptr;
  e->next = first;
  if (first) first->prev = e;
  else last = e;
  first = e;
  e->list = this;
  length++;
}

void Linklist::append(Entry *e) {
  if (e->list) e->rem();
  lock();
  link_last(e);
  unlock();
}

void Linklist::prepend(Entry *e) {
  if (e->list) e->rem();
  lock();
  link_first(e);
  unlock();
}

void Linklist::insert(Entry *e, int pos) {
  if (pos >= length) {
    append(e);
    return;
  }
  if (pos <= 1) {
    prepend(e);
    return;
  }
  if (e->list) e->rem();
  lock();
  // e may have come from this very list: look the position up afterwards.
  Entry *at = pick(pos);
  if (!at) {
    link_last(e);
  } else {
    e->next = at;
    e->prev = at->prev;
    if (at->prev) at->prev->next = e;
    else first = e;
    at->prev = e;
    e->list = this;
    length++;
  }
  unlock();
}

void Linklist::clear() {
  lock();
  sel(0);
  // Detach every entry, so that removing or destroying one later cannot
  // touch this list any more. Their next/prev are left as they were.
  for (Entry *e = first; e; e = e->next) e->list = nullptr;
  first = last = nullptr;
  length = 0;
  unlock();
}

Entry *Linklist::pick(int pos) {
  if (pos < 1 || pos > length) return nullptr;
  if (pos == 1) return first;
  if (pos == length) return last;
  Entry *e = first;
  for (int i = 1; i < pos && e; i++) e = e->next;
  return e;
}

bool Linklist::moveup(int pos) {
  Entry *e = pick(pos);
  return e ? e->up() : false;
}

bool Linklist::movedown(int pos) {
  Entry *e = pick(pos);
  return e ? e->down() : false;
}

bool Linklist::moveto(int pos, int newpos) {
  Entry *e = pick(pos);
  return e ? e->move(newpos) : false;
}

void Linklist::rem(int pos) {
  Entry *e = pick(pos);
  if (e) e->rem();
}

void Linklist::sel(int pos) {
  if (pos > length || !last) return;
  int n = length;
  for (Entry *e = last; e; e = e->prev, n--) e->select = (n == pos);
}

Entry *Linklist::selected() {
  for (Entry *e = last; e; e = e->prev)
    if (e->select) return e;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Entry
// ---------------------------------------------------------------------------
Entry::Entry() : next(nullptr), prev(nullptr), list(nullptr), select(false) {}

Entry::~Entry() { rem(); }

// Exchange two entries of the same list, whatever their relative place.
static void swap_entries(Linklist *l, Entry *a, Entry *b) {
  if (a == b) return;
  if (b->next == a) {  // make a the earlier one when they are neighbours
    Entry *t = a;
    a = b;
    b = t;
  }
  Entry *ap = a->prev, *an = a->next, *bp = b->prev, *bn = b->next;
  if (an == b) {  // neighbours: ap a b bn  ->  ap b a bn
    b->prev = ap;
    b->next = a;
    a->prev = b;
    a->next = bn;
    if (ap) ap->next = b;
    if (bn) bn->prev = a;
  } else {
    a->prev = bp;
    a->next = bn;
    b->prev = ap;
    b->next = an;
    if (ap) ap->next = b;
    if (an) an->prev = b;
    if (bp) bp->next = a;
    if (bn) bn->prev = a;
  }
  if (l->first == a) l->first = b;
  else if (l->first == b) l->first = a;
  if (l->last == a) l->last = b;
  else if (l->last == b) l->last = a;
}

bool Entry::up() {
  if (!prev || !list) return false;
  Linklist *l = list;
  l->lock();
  swap_entries(l, prev, this);
  l->unlock();
  return true;
}

bool Entry::down() {
  if (!next || !list) return false;
  Linklist *l = list;
  l->lock();
  swap_entries(l, this, next);
  l->unlock();
  return true;
}

bool Entry::move(int pos) {
  func("Entry::move(%i) - NEW LINKLIST MOVE", pos);
  if (!list) return false;
  Linklist *l = list;
  l->lock();
  Entry *t = l->pick(pos);
  if (t == this) {
    l->unlock();
    return true;
  }
  if (!t) {
    l->unlock();
    return false;
  }
  swap_entries(l, this, t);
  l->unlock();
  func("LINKLIST MOVE RETURNS SUCCESS");
  return true;
}

void Entry::rem() {
  if (!list) return;
  Linklist *l = list;
  l->lock();
  if (prev) prev->next = next;
  else l->first = next;
  if (next) next->prev = prev;
  else l->last = prev;
  l->length--;
  l->unlock();
  list = nullptr;
}

void Entry::sel(bool on) { select = on; }
