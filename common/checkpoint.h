#ifndef CHECKPOINT_H
#define CHECKPOINT_H

#include <functional>
#include <vector>

#include "runRecord.h"

class Experiment;
class Shot;

// Writes a program's run record beside its state file on the way out. The
// program builds it after every object the record describes, so that it is
// destroyed first, while they all still are: it gathers the record then,
// from the experiment (with its chamber and shot) and from what add() was
// given, and hands it to the shot, which writes it together with
// "state.out" when it is destroyed (Shot::keepRecord).
class Checkpoint {
 public:
  // The record starts as given (the program, seed, parameter values); a
  // batch program's records can be continued when the run ends at the end
  // of a step, a window program's never.
  Checkpoint(RunRecord start, const Experiment& experiment, Shot& shot, bool continuable);
  ~Checkpoint();
  Checkpoint(const Checkpoint&) = delete;
  Checkpoint& operator=(const Checkpoint&) = delete;

  // Something else the record keeps (a recorder's schedule), in order.
  void add(std::function<void(RunRecord&)> part) { parts_.push_back(std::move(part)); }

 private:
  RunRecord start_;
  const Experiment& experiment_;
  Shot& shot_;
  bool continuable_;
  std::vector<std::function<void(RunRecord&)>> parts_;
};

#endif
