#ifndef EVENTQUEUE_H
#define EVENTQUEUE_H

#include <cstddef>
#include <limits>
#include <vector>

#include "hugePageAllocator.h"

// Indexed binary min-heap over the spheres: each sphere id 0..n-1 holds one
// key, the time of its earliest event, and a fixed tag. The top is the
// sphere with the smallest key, of equal keys the smallest tag, so the order
// of events depends neither on the history of the heap nor on how the ids
// are numbered (the engine gives each sphere's number in the shot as its
// tag). Changing a key costs O(log n).
class EventQueue {
 public:
  // n ids, all keys and tags set from keys[0..n-1] and tags[0..n-1] at once
  // in O(n).
  void assign(const double* keys, const int* tags, int n) {
    heap_.resize(static_cast<std::size_t>(n));
    pos_.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) heap_[i] = Entry{keys[i], tags[i], i};
    for (int k = n / 2 - 1; k >= 0; --k) {
      const Entry e = heap_[k];
      siftDown(k, e);
    }
    for (int k = 0; k < n; ++k) pos_[heap_[k].id] = k;
  }

  bool empty() const { return heap_.empty(); }
  int top() const { return heap_[0].id; }
  double topKey() const { return heap_.empty() ? kNever : heap_[0].key; }
  double key(int id) const { return heap_[pos_[id]].key; }
  // The id with the second smallest key (the top's, when it is alone): the
  // likely top after the top's key has risen.
  int runnerUp() const {
    const std::size_t n = heap_.size();
    if (n < 2) return heap_[0].id;
    if (n < 3 || less(heap_[1], heap_[2])) return heap_[1].id;
    return heap_[2].id;
  }

  // Gives id a new key (its tag, as given to assign) and restores the heap
  // order.
  void update(int id, double key, int tag) {
    const int k = pos_[id];
    const Entry e{key, tag, id};
    if (k > 0 && less(e, heap_[(k - 1) / 2])) {
      siftUp(k, e);
    } else {
      siftDown(k, e);
    }
  }

  // Moves the origin of time: every key falls by delta. The order is kept
  // (the never-time stays the never-time).
  void shift(double delta) {
    for (Entry& e : heap_) e.key -= delta;
  }

  static constexpr double kNever = std::numeric_limits<double>::max();

 private:
  struct Entry {
    double key;
    int tag;
    int id;
  };

  static bool less(const Entry& a, const Entry& b) {
    return a.key < b.key || (a.key == b.key && a.tag < b.tag);
  }

  // Moves the hole at k up until e fits, then puts e there.
  void siftUp(int k, const Entry& e) {
    while (k > 0) {
      const int parent = (k - 1) / 2;
      if (!less(e, heap_[parent])) break;
      heap_[k] = heap_[parent];
      pos_[heap_[k].id] = k;
      k = parent;
    }
    heap_[k] = e;
    pos_[e.id] = k;
  }

  // Moves the hole at k down until e fits, then puts e there.
  void siftDown(int k, const Entry& e) {
    const int n = static_cast<int>(heap_.size());
    for (;;) {
      int child = 2 * k + 1;
      if (child >= n) break;
      if (child + 1 < n && less(heap_[child + 1], heap_[child])) ++child;
      if (!less(heap_[child], e)) break;
      heap_[k] = heap_[child];
      pos_[heap_[k].id] = k;
      k = child;
    }
    heap_[k] = e;
    pos_[e.id] = k;
  }

  std::vector<Entry, HugePageAllocator<Entry>> heap_;
  std::vector<int, HugePageAllocator<int>> pos_;  // pos_[id]: where id stands in heap_
};

#endif
