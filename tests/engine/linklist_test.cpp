/*  The locked list: 1-based positions, insertion, exchange moves, removal,
 *  clear(), entries outliving their list. */
#include <gtest/gtest.h>


#include "test_support.h"

namespace {

struct Node : Entry {
  explicit Node(int i = 0) : id(i) {}
  int id;
};

// The ids head to tail, "!" when a link, the tail, the length or an
// entry's list is inconsistent.
std::string chain(Linklist &l) {
  std::string ids;
  Entry *prev = nullptr;
  int n = 0;
  for (Entry *e = l.first; e && n <= l.length; e = e->next, n++) {
    if (e->prev != prev || e->list != &l) return ids + "!";
    ids += std::to_string(static_cast<Node *>(e)->id);
    prev = e;
  }
  return l.last == prev && n == l.length ? ids : ids + "!";
}

// A list of nodes 1..n, appended in order, and spare nodes up to 8.
struct Filled {
  Node n[8];
  Linklist list;  // destroyed before its nodes
  explicit Filled(int count) {
    for (int i = 0; i < 8; i++) n[i].id = i + 1;
    for (int i = 0; i < count; i++) list.append(&n[i]);
  }
  Node *operator[](int id) { return &n[id - 1]; }
};

}  // namespace

TEST(Linklist, PickIsOneBasedInsertTakesThePosition) {
  Filled f(3);
  EXPECT_EQ(f.list.pick(1), f[1]);
  EXPECT_EQ(f.list.pick(3), f[3]);
  for (int pos : {-1, 0, 4}) EXPECT_EQ(f.list.pick(pos), nullptr) << pos;
  const struct {
    int id, pos;  // 8: a new entry; others are already in the list
    const char *order;
  } rows[] = {
      {8, -2, "812345"}, {8, 1, "812345"}, {8, 2, "182345"}, {8, 4, "123845"},
      {8, 5, "123458"},  // equal to the length: appended, not fifth
      {8, 100, "123458"}, {1, 3, "23145"}, {4, 2, "14235"},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(testing::Message() << r.id << " at " << r.pos);
    Filled g(5);
    g.list.insert(g[r.id], r.pos);
    EXPECT_EQ(chain(g.list), r.order);
  }
  Linklist to;  // entries of another list move over: add at the bottom, prepend on top
  to.add(f[2]);
  to.prepend(f[3]);
  to.add(f[1]);
  EXPECT_EQ(chain(f.list), "");
  EXPECT_EQ(chain(to), "321");
  Linklist empty;
  EXPECT_FALSE(empty.pick(1) || empty.moveup(1) || empty.movedown(1) || empty.moveto(1, 1));
}

TEST(Linklist, MovesExchangeTwoEntries) {
  Filled f(6);
  const struct {
    char op;  // u: moveup(a), d: movedown(a), m: moveto(a, b)
    int a, b;
    bool done;
    const char *order;
  } steps[] = {
      {'u', 1, 0, false, "123456"}, {'d', 6, 0, false, "123456"}, {'u', 7, 0, false, "123456"},
      {'u', 3, 0, true, "132456"},  {'u', 2, 0, true, "312456"},  {'d', 5, 0, true, "312465"},
      {'m', 2, 5, true, "362415"},  {'m', 1, 6, true, "562413"},  {'m', 3, 4, true, "564213"},
      {'m', 4, 3, true, "562413"},  {'m', 6, 1, true, "362415"},  {'m', 2, 2, true, "362415"},
      {'m', 2, 7, false, "362415"}, {'m', 0, 2, false, "362415"},
  };
  for (const auto &s : steps) {
    SCOPED_TRACE(testing::Message() << s.op << s.a << "," << s.b);
    const bool done = s.op == 'u' ? f.list.moveup(s.a)
                      : s.op == 'd' ? f.list.movedown(s.a) : f.list.moveto(s.a, s.b);
    EXPECT_EQ(done, s.done);
    EXPECT_EQ(chain(f.list), s.order);
  }
  EXPECT_EQ(pthread_mutex_trylock(&f.list.mutex), 0) << "a move left the list locked";
  pthread_mutex_unlock(&f.list.mutex);
  Node loose(7);
  EXPECT_FALSE(loose.up() || loose.down() || loose.move(1));
}

TEST(Linklist, RemovedClearedAndDestroyedEntriesLeaveTheirList) {
  Filled f(5);
  f.list.rem(2);
  f.list.rem(0);
  f[5]->rem();
  f[5]->rem();  // twice is harmless
  EXPECT_EQ(f[2]->list, nullptr);
  {
    Node gone(9);
    f.list.insert(&gone, 2);
  }
  EXPECT_EQ(chain(f.list), "134");
  f.list.clear();
  f.list.append(f[7]);
  f[1]->rem();  // detached by clear: must not touch the list again
  EXPECT_EQ(chain(f.list), "7");
  auto *gone = new Linklist;
  gone->append(f[8]);
  delete gone;
  f[8]->rem();  // its list is gone (AddressSanitizer would see a use after free)
  EXPECT_EQ(f[8]->list, nullptr);
}
