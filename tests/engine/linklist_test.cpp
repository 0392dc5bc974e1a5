/*  The locked list: 1-based positions, insertion, exchange moves, removal,
 *  selection, clear(), entries that outlive their list, and objects that
 *  are entries of two different lists through two base classes. */
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "kolvex.h"
#include "test_support.h"

namespace {

struct Node : Entry {
  explicit Node(int i) : id(i) {}
  int id;
};

// Checks every invariant of the chain and returns the ids head to tail.
::testing::AssertionResult chain(Linklist &l, const std::vector<int> &expected) {
  std::vector<int> ids;
  Entry *prev = nullptr;
  int n = 0;
  for (Entry *e = l.first; e; e = e->next) {
    if (++n > l.length + 1) return ::testing::AssertionFailure() << "chain longer than length";
    if (e->prev != prev) return ::testing::AssertionFailure() << "prev link broken at " << n;
    if (e->list != &l) return ::testing::AssertionFailure() << "entry " << n << " names another list";
    ids.push_back(static_cast<Node *>(e)->id);
    prev = e;
  }
  if (l.last != prev) return ::testing::AssertionFailure() << "last is not the tail";
  if (n != l.length) return ::testing::AssertionFailure() << "length " << l.length << ", chain " << n;
  if (ids != expected) {
    auto f = ::testing::AssertionFailure() << "order:";
    for (int i : ids) f << " " << i;
    return f;
  }
  return ::testing::AssertionSuccess();
}

bool lock_is_free(Linklist &l) {
  if (pthread_mutex_trylock(&l.mutex) != 0) return false;
  pthread_mutex_unlock(&l.mutex);
  return true;
}

// A list of nodes 1..n, appended in order.
struct Filled {
  Linklist list;
  std::vector<std::unique_ptr<Node>> nodes;
  explicit Filled(int n) {
    for (int i = 1; i <= n; i++) {
      nodes.emplace_back(new Node(i));
      list.append(nodes.back().get());
    }
  }
  Node *operator[](int id) { return nodes[id - 1].get(); }
};

}  // namespace

// ---------------------------------------------------------------------------
// Adding and picking
// ---------------------------------------------------------------------------
TEST(Linklist, EmptyListAnswersNothing) {
  Linklist l;
  EXPECT_EQ(l.begin(), nullptr);
  EXPECT_EQ(l.end(), nullptr);
  for (int pos : {-1, 0, 1, 2}) EXPECT_EQ(l.pick(pos), nullptr) << pos;
  EXPECT_EQ(l.selected(), nullptr);
  EXPECT_FALSE(l.moveup(1));
  EXPECT_FALSE(l.movedown(1));
  EXPECT_FALSE(l.moveto(1, 1));
  l.rem(1);
  l.sel(1);
  EXPECT_TRUE(chain(l, {}));
}

TEST(Linklist, AppendPrependAndOneBasedPick) {
  Node a(1), b(2), c(3), d(4);
  Linklist l;
  l.append(&b);
  l.add(&c);
  l.prepend(&a);
  l.append(&d);
  EXPECT_TRUE(chain(l, {1, 2, 3, 4}));
  EXPECT_EQ(l.begin(), &a);
  EXPECT_EQ(l.end(), &d);
  EXPECT_EQ(l.pick(1), &a);
  EXPECT_EQ(l.pick(2), &b);
  EXPECT_EQ(l.pick(3), &c);
  EXPECT_EQ(l.pick(4), &d);
  EXPECT_EQ(l.pick(0), nullptr);
  EXPECT_EQ(l.pick(5), nullptr);
  EXPECT_EQ(l.pick(-3), nullptr);
}

TEST(Linklist, InsertTakesThePositionAndAppendsFromLength) {
  const struct {
    int pos;
    std::vector<int> order;
  } cases[] = {
      {-2, {9, 1, 2, 3}}, {0, {9, 1, 2, 3}}, {1, {9, 1, 2, 3}}, {2, {1, 9, 2, 3}},
      {3, {1, 2, 3, 9}},  // equal to length: appended, not third
      {4, {1, 2, 3, 9}},  {100, {1, 2, 3, 9}},
  };
  for (const auto &c : cases) {
    Filled f(3);
    Node e(9);
    f.list.insert(&e, c.pos);
    EXPECT_TRUE(chain(f.list, c.order)) << "insert at " << c.pos;
    e.rem();
  }
  Linklist empty;
  Node e(9);
  empty.insert(&e, 1);
  EXPECT_TRUE(chain(empty, {9}));
}

TEST(Linklist, InsertOfAnEntryOfTheSameListKeepsTheChainWhole) {
  Filled f(5);
  f.list.insert(f[1], 3);
  EXPECT_EQ(f.list.pick(3), f[1]);
  EXPECT_TRUE(chain(f.list, {2, 3, 1, 4, 5}));
  f.list.insert(f[5], 2);
  EXPECT_TRUE(chain(f.list, {2, 5, 3, 1, 4}));
}

TEST(Linklist, AddingAnEntryOfAnotherListMovesIt) {
  Filled from(3);
  Linklist to;
  to.append(from[2]);
  EXPECT_TRUE(chain(from.list, {1, 3}));
  EXPECT_TRUE(chain(to, {2}));
  to.prepend(from[3]);
  to.insert(from[1], 2);  // 2 is the length: appended
  EXPECT_TRUE(chain(from.list, {}));
  EXPECT_TRUE(chain(to, {3, 2, 1}));
}

// ---------------------------------------------------------------------------
// Moving
// ---------------------------------------------------------------------------
TEST(Linklist, MoveupAndMovedownSwapNeighbours) {
  Filled f(4);
  EXPECT_FALSE(f.list.moveup(1));
  EXPECT_FALSE(f.list.movedown(4));
  EXPECT_FALSE(f.list.moveup(5));
  EXPECT_FALSE(f.list.movedown(0));
  EXPECT_TRUE(chain(f.list, {1, 2, 3, 4}));

  EXPECT_TRUE(f.list.moveup(3));
  EXPECT_TRUE(chain(f.list, {1, 3, 2, 4}));
  EXPECT_TRUE(f.list.moveup(2));  // reaches the head
  EXPECT_TRUE(chain(f.list, {3, 1, 2, 4}));
  EXPECT_TRUE(f.list.movedown(3));  // reaches the tail
  EXPECT_TRUE(chain(f.list, {3, 1, 4, 2}));
  EXPECT_TRUE(f[4]->up());
  EXPECT_TRUE(f[3]->down());
  EXPECT_TRUE(chain(f.list, {4, 3, 1, 2}));

  Node loose(7);
  EXPECT_FALSE(loose.up());
  EXPECT_FALSE(loose.down());
  EXPECT_TRUE(lock_is_free(f.list));
}

TEST(Linklist, MovetoExchangesTwoEntries) {
  Filled f(6);
  EXPECT_TRUE(f.list.moveto(2, 5));
  EXPECT_TRUE(chain(f.list, {1, 5, 3, 4, 2, 6}));
  EXPECT_TRUE(f.list.moveto(1, 6));  // both ends
  EXPECT_TRUE(chain(f.list, {6, 5, 3, 4, 2, 1}));
  EXPECT_TRUE(f.list.moveto(6, 1));  // and back, from the tail
  EXPECT_TRUE(chain(f.list, {1, 5, 3, 4, 2, 6}));
  EXPECT_TRUE(f.list.moveto(3, 4));  // neighbours: as down()
  EXPECT_TRUE(chain(f.list, {1, 5, 4, 3, 2, 6}));
  EXPECT_TRUE(f.list.moveto(4, 3));  // neighbours: as up()
  EXPECT_TRUE(chain(f.list, {1, 5, 3, 4, 2, 6}));
  EXPECT_TRUE(f.list.moveto(5, 6));  // neighbours at the tail
  EXPECT_TRUE(chain(f.list, {1, 5, 3, 4, 6, 2}));
  EXPECT_TRUE(f.list.moveto(2, 1));  // neighbours at the head
  EXPECT_TRUE(chain(f.list, {5, 1, 3, 4, 6, 2}));
  EXPECT_TRUE(lock_is_free(f.list));
}

TEST(Linklist, MovetoRefusalsLeaveListAndLockAlone) {
  Filled f(3);
  EXPECT_TRUE(f.list.moveto(2, 2));  // its own place
  EXPECT_TRUE(lock_is_free(f.list));
  EXPECT_FALSE(f.list.moveto(2, 4));
  EXPECT_TRUE(lock_is_free(f.list));
  EXPECT_FALSE(f.list.moveto(2, 0));
  EXPECT_FALSE(f.list.moveto(0, 2));
  EXPECT_FALSE(f.list.moveto(4, 1));
  EXPECT_TRUE(lock_is_free(f.list));
  EXPECT_TRUE(chain(f.list, {1, 2, 3}));

  Node loose(9);
  EXPECT_FALSE(loose.move(1));
  Filled two(2);
  EXPECT_TRUE(two.list.moveto(1, 2));
  EXPECT_TRUE(chain(two.list, {2, 1}));
}

// ---------------------------------------------------------------------------
// Removing, selecting, clearing
// ---------------------------------------------------------------------------
TEST(Linklist, RemUnlinksAndForgetsTheList) {
  Filled f(4);
  f.list.rem(2);
  EXPECT_TRUE(chain(f.list, {1, 3, 4}));
  EXPECT_EQ(f[2]->list, nullptr);
  f.list.rem(1);
  EXPECT_TRUE(chain(f.list, {3, 4}));
  f.list.rem(2);
  EXPECT_TRUE(chain(f.list, {3}));
  f.list.rem(0);
  f.list.rem(2);
  EXPECT_TRUE(chain(f.list, {3}));
  f[3]->rem();
  EXPECT_TRUE(chain(f.list, {}));
  EXPECT_EQ(f.list.first, nullptr);
  EXPECT_EQ(f.list.last, nullptr);
  f[3]->rem();  // twice is harmless
  EXPECT_EQ(f.list.length, 0);
  EXPECT_TRUE(lock_is_free(f.list));
}

TEST(Linklist, DestroyedEntryLeavesItsList) {
  Linklist l;
  Node a(1), c(3);
  l.append(&a);
  {
    Node b(2);
    l.append(&b);
    l.append(&c);
  }
  EXPECT_TRUE(chain(l, {1, 3}));
}

TEST(Linklist, SelSelectsExactlyOnePosition) {
  Filled f(4);
  f.list.sel(3);
  EXPECT_EQ(f.list.selected(), f[3]);
  for (int i = 1; i <= 4; i++) EXPECT_EQ(f[i]->select, i == 3) << i;
  f.list.sel(5);  // beyond length: nothing changes
  EXPECT_EQ(f.list.selected(), f[3]);
  f.list.sel(1);
  EXPECT_EQ(f.list.selected(), f[1]);
  EXPECT_FALSE(f[3]->select);
  f.list.sel(0);
  EXPECT_EQ(f.list.selected(), nullptr);
  f[2]->sel(true);
  f[4]->sel(true);
  EXPECT_EQ(f.list.selected(), f[4]) << "the walk starts at the tail";
  f.list.sel(-1);
  for (int i = 1; i <= 4; i++) EXPECT_FALSE(f[i]->select) << i;
}

TEST(Linklist, ClearDetachesEntriesSoLaterRemovalCannotCorruptIt) {
  Filled f(3);
  f.list.sel(2);
  f.list.clear();
  EXPECT_TRUE(chain(f.list, {}));
  for (int i = 1; i <= 3; i++) {
    EXPECT_EQ(f[i]->list, nullptr) << i;
    EXPECT_FALSE(f[i]->select) << i;
  }
  // A list filled again after clear() must not feel the old entries.
  Node x(7), y(8);
  f.list.append(&x);
  f.list.append(&y);
  f[2]->rem();
  f.nodes[0].reset();  // destructor of a cleared entry
  EXPECT_TRUE(chain(f.list, {7, 8}));
  // The cleared entries can join again.
  f.list.insert(f[3], 1);
  EXPECT_TRUE(chain(f.list, {3, 7, 8}));
  x.rem();
  y.rem();
  f[3]->rem();
}

TEST(Linklist, EntriesMayOutliveTheirList) {
  Node a(1), b(2);
  {
    Linklist l;
    l.append(&a);
    l.append(&b);
  }
  // The destructor cleared the list: removing now must not touch it
  // (AddressSanitizer reports the use after free otherwise).
  a.rem();
  EXPECT_EQ(a.list, nullptr);
  Linklist other;
  other.append(&b);
  EXPECT_TRUE(chain(other, {2}));
}

TEST(Linklist, ConcurrentChangesKeepTheChainWhole) {
  const int kThreads = 4, kEach = 300;
  Linklist shared, spare;
  std::vector<std::vector<std::unique_ptr<Node>>> owned(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    for (int i = 0; i < kEach; i++) owned[t].emplace_back(new Node(t * kEach + i));
    threads.emplace_back([&, t] {
      auto &mine = owned[t];
      for (int i = 0; i < kEach; i++) {
        if (i % 2) shared.append(mine[i].get());
        else shared.prepend(mine[i].get());
      }
      for (int i = 0; i < kEach; i += 3) spare.append(mine[i].get());  // moves it
      for (int i = 1; i < kEach; i += 3) mine[i]->rem();
    });
  }
  for (auto &th : threads) th.join();
  const int moved = kThreads * ((kEach + 2) / 3), removed = kThreads * (kEach / 3);
  EXPECT_EQ(spare.length, moved);
  EXPECT_EQ(shared.length, kThreads * kEach - moved - removed);
  int n = 0;
  for (Entry *e = shared.first; e; e = e->next) {
    ASSERT_EQ(e->list, &shared);
    ASSERT_EQ(e->next ? e->next->prev : shared.last, e);
    n++;
  }
  EXPECT_EQ(n, shared.length);
}

// ---------------------------------------------------------------------------
// Layers and filters: one object, two lists, two Entry bases
// ---------------------------------------------------------------------------
TEST(Linklist, LayerAndItsFiltersLiveInDifferentLists) {
  Linklist layers;
  auto *top = new kt::TestLayer(8, 8);
  auto *bottom = new kt::TestLayer(8, 8);
  top->setname("TOP");
  bottom->setname("BOT");
  layers.add(bottom);
  layers.prepend(top);

  Filter f1, f2, f3;
  top->filters.append(&f1);
  top->filters.append(&f2);
  bottom->filters.append(&f3);

  // From the Entry back to the object: the base-class adjustment is not a
  // no-op for Filter, whose Entry part is its second base.
  EXPECT_STREQ(static_cast<Layer *>(layers.pick(1))->get_name(), "TOP");
  EXPECT_STREQ(static_cast<Layer *>(layers.pick(2))->get_name(), "BOT");
  EXPECT_EQ(static_cast<Filter *>(top->filters.pick(2)), &f2);
  EXPECT_EQ(static_cast<Filter *>(bottom->filters.begin()), &f3);

  // Moving a layer in its list leaves its filters where they are.
  EXPECT_TRUE(layers.moveto(1, 2));
  EXPECT_EQ(layers.begin(), static_cast<Entry *>(bottom));
  EXPECT_EQ(top->filters.length, 2);
  EXPECT_EQ(f1.list, &top->filters);

  // A filter moved to another layer leaves the first one's chain.
  bottom->filters.prepend(&f2);
  EXPECT_EQ(top->filters.length, 1);
  EXPECT_EQ(top->filters.end(), static_cast<Entry *>(&f1));
  EXPECT_EQ(bottom->filters.begin(), static_cast<Entry *>(&f2));

  // Deleting a layer detaches its filters and leaves the engine's list;
  // the filters, destroyed later, must not reach the freed layer.
  delete top;
  EXPECT_EQ(f1.list, nullptr);
  EXPECT_EQ(layers.length, 1);
  EXPECT_EQ(layers.begin(), static_cast<Entry *>(bottom));
  f1.rem();
  layers.clear();
  delete bottom;
  EXPECT_EQ(layers.length, 0);
  EXPECT_EQ(f2.list, nullptr);
  EXPECT_EQ(f3.list, nullptr);
}
