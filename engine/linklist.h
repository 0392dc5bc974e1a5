/*  Kolvex - locked doubly linked list
 *
 *  Positions are 1-based: position 1 is `first`, position `length` is `last`.
 *  The list never owns its entries. Operations that change links take the
 *  list's mutex; pick/sel/selected/begin/end take none, so a caller walking
 *  a list that other threads change holds lock()/unlock() around the walk.
 *  The mutex is not recursive: do not change a list while holding its lock.
 */
#ifndef KOLVEX_LINKLIST_H
#define KOLVEX_LINKLIST_H

#include <pthread.h>

class Linklist;

// Node base. Layer and Filter derive from it; code that walks a list gets
// from an Entry to its object with a static_cast.
class Entry {
 public:
  Entry();
  ~Entry();  // leaves its list

  bool up();          // one place toward the head
  bool down();        // one place toward the tail
  bool move(int pos); // exchange places with the entry at pos
  void rem();         // leave the list (next/prev/select are left as they were)
  void sel(bool on);

  Entry *next;
  Entry *prev;
  Linklist *list;
  bool select;
};

class Linklist {
 public:
  Linklist();
  virtual ~Linklist();  // clear(); the entries are left alone

  void append(Entry *e);
  void add(Entry *e) { append(e); }
  void prepend(Entry *e);
  void insert(Entry *e, int pos);  // e takes position pos; pos >= length appends
  void clear();                    // empty the list; entries are detached

  Entry *pick(int pos);
  bool moveup(int pos);
  bool movedown(int pos);
  bool moveto(int pos, int newpos);
  void rem(int pos);
  void sel(int pos);  // select exactly the entry at pos; pos <= 0 deselects all
  Entry *selected();

  Entry *begin() { return first; }
  Entry *end() { return last; }  // the last entry, not past-the-end

  void lock() { pthread_mutex_lock(&mutex); }
  void unlock() { pthread_mutex_unlock(&mutex); }

  Entry *first;
  Entry *last;
  int length;
  pthread_mutex_t mutex;

 private:
  Linklist(const Linklist &) = delete;
  Linklist &operator=(const Linklist &) = delete;
  friend class Entry;
  void link_last(Entry *e);
  void link_first(Entry *e);
};

#endif
