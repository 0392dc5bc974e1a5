/*  kolvex - the stack changed during a show
 *
 *  Four changes, as the control tree asks for them; L and N count from 1
 *  at the bottom, as the tree does:
 *    add(NAME)        a new layer on top, with default settings
 *    source(L, NAME)  the layer shows NAME instead, its settings kept
 *                     (Layer::take_settings), shown or hidden too
 *    remove(L)        its thread stopped, out of the stack, deleted; one
 *                     whose thread will not stop stays, hidden
 *    move(L, N)       to place N
 *  NAME is looked up in the bank (bank.h) and nothing else. An add or a
 *  source is a load: the loader (loader.h) makes the layer off the frame
 *  loop; settle(), between frames, sets it up at the canvas (the `ready`
 *  hook) and starts its thread, still off the stack, and once its first
 *  frame is made lets it join: listed, in place of the old one for a
 *  source. Only then is the change done and `on_joined` told, so a record
 *  has it at the frame it first shows in. A render (Context::lockstep)
 *  settles with `wait`: every load asked for joins before the next frame,
 *  as a replay needs. Loads join in the order they were asked for.
 *
 *  The engine's list is the stack; nothing keeps a copy of it here.
 *  Main thread only, between frames.
 */
#ifndef KOLVEX_PLAYER_STACK_EDITOR_H
#define KOLVEX_PLAYER_STACK_EDITOR_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bank.h"
#include "context.h"
#include "loader.h"

class StackEditor {
 public:
  StackEditor(Context &ctx, const Bank &bank, Loader &loader);
  ~StackEditor();  // loads not joined are dropped

  // Requests, true when asked (or done): false with one line in `why`.
  bool add(const std::string &name, std::string &why);
  bool source(size_t layer, const std::string &name, std::string &why);
  // Done at once; `said` tells what happened.
  bool remove(size_t layer, std::string &said, std::string &why);
  bool move(size_t layer, size_t &place, std::string &why);  // place clamped to the stack

  // Finished loads join the stack; with `wait`, every load asked for.
  void settle(bool wait);
  size_t loading() const { return pending_.size(); }

  // The stack, bottom first, read from the engine's list.
  std::vector<Layer *> stack() const;
  size_t size() const { return (size_t)ctx_.layers.length; }

  // Sets a layer made from `source` up at the canvas; false with `err`.
  // Required.
  std::function<bool(Layer *, const std::string &source, std::string &err)> ready;
  // An add or a source has joined: its path by number ("/layer/add",
  // "/layer/3/source"), the name asked for, and what to tell.
  std::function<void(const std::string &path, const std::string &name, const std::string &said)>
      on_joined;
  // A load that came to nothing: one line.
  std::function<void(const std::string &line)> on_failed;
  // The stack has changed.
  std::function<void()> on_restack;

 private:
  struct Pending {
    uint64_t ticket = 0;
    Layer *target = nullptr;  // null: an add
    std::string name;
    bool gone = false;       // the target left meanwhile
    Layer *layer = nullptr;  // made, set up, its thread started; not listed
    std::chrono::steady_clock::time_point started;  // a watchdog's, not frame timing
    bool failed = false;     // told already
  };
  void ask(Layer *target, const std::string &name, const std::string &file);
  void made(Pending &p, Loader::Done &done);
  void join(Pending &p);
  bool swap(Layer *was, Layer *now, std::string &why);
  void show(Layer *layer, bool shown);
  void drop(Layer *layer);  // stopped and deleted
  void list_at(Layer *layer, int pos);  // in the engine's list, 1 on top
  Layer *at(size_t layer) const;  // from 1 at the bottom; null when none
  size_t place_of(Layer *layer) const;  // from 1 at the bottom; 0 when not listed
  std::string label(Layer *layer) const;
  void fail(const std::string &line);

  Context &ctx_;
  const Bank &bank_;
  Loader &loader_;
  std::vector<Pending> pending_;
};

#endif
