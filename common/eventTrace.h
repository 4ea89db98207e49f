#ifndef EVENTTRACE_H
#define EVENTTRACE_H

// One event as an event engine carries it out: a collision of two spheres or
// the impact of one sphere on a surface of the chamber.
struct EventRecord {
  double time;  // simulated time since the last reset
  int kind;     // 0: two spheres; otherwise the chamber's impact code
  int sphere;   // the sphere (of a pair, the one whose prediction it was)
  int partner;  // the other sphere of a pair; -1 for an impact
};

// Receives every event an engine carries out, in order, just before the
// velocities change. Used to compare the two engines event by event.
class EventTrace {
 public:
  virtual ~EventTrace() {}
  virtual void onEvent(const EventRecord& event) = 0;
};

#endif
