/*  Kolvex - a hook the engine calls while its owner is there
 *
 *  The engine keeps a Hook; whoever hooks into it keeps the HookHandle that
 *  set() returns. The function is called while the handle lives: dropping
 *  the handle (the owner going) unhooks it, and an engine that goes first
 *  leaves the handle nothing of its own to touch. A hook that drops its
 *  own handle while it runs finishes that call.
 *
 *  One thread: the one that sets the hook and calls it (the frame loop's).
 */
#ifndef KOLVEX_HOOK_H
#define KOLVEX_HOOK_H

#include <functional>
#include <memory>
#include <utility>

class HookHandle {
 public:
  HookHandle() = default;
  explicit HookHandle(std::shared_ptr<void> fn) : fn_(std::move(fn)) {}
  void reset() { fn_.reset(); }  // unhooked
  explicit operator bool() const { return fn_ != nullptr; }

 private:
  std::shared_ptr<void> fn_;  // the one owner of the hooked function
};

template <class Signature>
class Hook;

template <class R, class... Args>
class Hook<R(Args...)> {
 public:
  typedef std::function<R(Args...)> Function;

  // `fn` hooked in place of any before, until the handle goes.
  HookHandle set(Function fn) {
    std::shared_ptr<Function> owned = std::make_shared<Function>(std::move(fn));
    fn_ = owned;
    return HookHandle(owned);
  }
  bool hooked() const { return !fn_.expired(); }
  // The hook's answer, or `unhooked` when none is there.
  R call_or(R unhooked, Args... args) const {
    const std::shared_ptr<Function> fn = fn_.lock();
    return fn ? (*fn)(std::forward<Args>(args)...) : unhooked;
  }

 private:
  std::weak_ptr<Function> fn_;
};

#endif
