#include "stack_editor.h"

#include "controls.h"
#include "jutils.h"
#include "plugger.h"

namespace {
const std::chrono::seconds kFirstFrame(2);  // Context::wait_first_frame's
}  // namespace

StackEditor::StackEditor(Context &ctx, const Bank &bank, Loader &loader)
    : ctx_(ctx), bank_(bank), loader_(loader) {}

StackEditor::~StackEditor() {
  for (Pending &p : pending_)
    if (p.layer) drop(p.layer);
}

std::vector<Layer *> StackEditor::stack() const {
  std::vector<Layer *> out;
  for (Entry *e = ctx_.layers.end(); e; e = e->prev) out.push_back(static_cast<Layer *>(e));
  return out;
}

Layer *StackEditor::at(size_t layer) const {
  const std::vector<Layer *> s = stack();
  return layer >= 1 && layer <= s.size() ? s[layer - 1] : nullptr;
}

size_t StackEditor::place_of(Layer *layer) const {
  const std::vector<Layer *> s = stack();
  for (size_t i = 0; i < s.size(); i++)
    if (s[i] == layer) return i + 1;
  return 0;
}

std::string StackEditor::label(Layer *layer) const {
  return layer_label(place_of(layer), *layer);
}

void StackEditor::fail(const std::string &line) {
  if (on_failed) on_failed(line);
}

// ---------------------------------------------------------------------------
// Requests
// ---------------------------------------------------------------------------
void StackEditor::ask(Layer *target, const std::string &name, const std::string &file) {
  Pending p;
  p.ticket = loader_.request(file);
  p.target = target;
  p.name = name;
  pending_.push_back(p);
}

bool StackEditor::add(const std::string &name, std::string &why) {
  std::string file;
  if (!bank_.find(name, file, why)) return false;
  ask(nullptr, name, file);
  return true;
}

bool StackEditor::source(size_t layer, const std::string &name, std::string &why) {
  Layer *target = at(layer);
  if (!target) {
    why = "no layer " + std::to_string(layer);
    return false;
  }
  std::string file;
  if (!bank_.find(name, file, why)) return false;
  ask(target, name, file);
  return true;
}

bool StackEditor::remove(size_t layer, std::string &said, std::string &why) {
  Layer *l = at(layer);
  if (!l) {
    why = "no layer " + std::to_string(layer);
    return false;
  }
  const std::string was = label(l);
  if (!l->stop()) {  // deleting it would pull the frame from under its thread
    l->active = false;
    said = was + ": its thread does not stop; left in the stack, hidden";
    return true;
  }
  for (Pending &p : pending_)
    if (p.target == l) p.gone = true;
  l->rem();
  if (on_restack) on_restack();
  delete l;
  said = was + ": removed";
  return true;
}

bool StackEditor::move(size_t layer, size_t &place, std::string &why) {
  Layer *l = at(layer);
  if (!l) {
    why = "no layer " + std::to_string(layer);
    return false;
  }
  const size_t n = size();
  place = place < 1 ? 1 : place > n ? n : place;
  // The engine's list counts from the top.
  l->rem();
  list_at(l, (int)(n - place + 1));
  if (on_restack) on_restack();
  return true;
}

// Lists `l` at `pos` of the engine's list, 1 on top.
void StackEditor::list_at(Layer *l, int pos) {
  const int len = ctx_.layers.length;
  if (pos > len) {
    ctx_.layers.append(l);
  } else if (pos == len) {  // insert() appends here: one up from the end
    ctx_.layers.append(l);
    l->up();
  } else {
    ctx_.layers.insert(l, pos);
  }
}

// ---------------------------------------------------------------------------
// Joining
// ---------------------------------------------------------------------------
void StackEditor::settle(bool wait) {
  if (wait) {
    for (Pending &p : pending_) {
      if (p.layer || p.failed) continue;
      Loader::Done d = loader_.wait(p.ticket);
      made(p, d);
    }
  } else {
    for (Loader::Done &d : loader_.take())
      for (Pending &p : pending_)
        if (p.ticket == d.ticket) made(p, d);
  }
  // In the order asked: a later load never overtakes an earlier one.
  while (!pending_.empty()) {
    Pending &p = pending_.front();
    if (!p.failed) {
      if (!p.layer) break;  // still loading
      if (wait) ctx_.wait_first_frame(p.layer);
      // No first frame yet: waited for as long as the engine waits for a
      // new layer's; then it joins and is let in once it delivers.
      if (!p.layer->running && p.layer->alive && !wait &&
          std::chrono::steady_clock::now() < p.started + kFirstFrame)
        break;
      join(p);
    }
    pending_.erase(pending_.begin());
  }
}

// Off the list, set up and started: its first frame is made meanwhile.
void StackEditor::made(Pending &p, Loader::Done &done) {
  std::string err;
  Layer *l = done.layer.release();
  if (!l) {
    err = done.err;
  } else if (!ready(l, done.source, err)) {
    delete l;  // never started
    l = nullptr;
  } else if (l->start() != 0) {
    err = p.name + ": its thread can't be started";
    delete l;
    l = nullptr;
  }
  p.layer = l;
  p.started = std::chrono::steady_clock::now();
  p.failed = !l;
  if (!l) fail(err);
}

void StackEditor::drop(Layer *l) {
  if (l->stop()) delete l;  // else left to itself, told by stop()
}

void StackEditor::join(Pending &p) {
  Layer *l = p.layer;
  p.layer = nullptr;
  if (!l->running && !l->alive) {
    fail(p.name + ": delivers no frame");
    drop(l);
    return;
  }
  if (p.gone) {
    fail(p.name + ": not shown, its layer was removed meanwhile");
    drop(l);
    return;
  }
  if (!p.target) {
    ctx_.layers.prepend(l);
    show(l, true);
    if (on_restack) on_restack();
    if (on_joined) on_joined("/layer/add", p.name, label(l) + ": added");
    return;
  }
  const std::string was = label(p.target);
  std::string why;
  if (!swap(p.target, l, why)) {
    fail(was + ": " + why);
    return;
  }
  if (on_joined)
    on_joined("/layer/" + std::to_string(place_of(l)) + "/source", p.name, label(l) + ": was " + was);
}

// `now` takes `was`'s place and settings; `was` is stopped and deleted.
bool StackEditor::swap(Layer *was, Layer *now, std::string &why) {
  if (!was->stop()) {
    was->active = false;
    drop(now);
    why = "its thread does not stop; left in the stack, hidden";
    return false;
  }
  const bool shown = was->active;
  now->take_settings(*was);
  const int pos = (int)(size() - place_of(was) + 1);
  was->rem();
  list_at(now, pos);
  for (Pending &p : pending_)
    if (p.target == was) p.target = now;
  if (on_restack) on_restack();
  delete was;
  show(now, shown);
  return true;
}

// Its thread has made its first frame (or gave up on it: the engine's
// frame loop then lets it in once it delivers).
void StackEditor::show(Layer *layer, bool shown) {
  if (layer->running) {
    layer->active = shown;
  } else if (layer->alive) {
    error("layer %s delivers no frame: left out until it does", layer->get_name());
    layer->late = true;
  }
}
