#ifndef FASTENGINE_H
#define FASTENGINE_H

#include <vector>

#include "cellGrid.h"
#include "eventQueue.h"
#include "eventTrace.h"
#include "flightRecord.h"
#include "hugePageAllocator.h"
#include "shot.h"

class Chamber;

// An event engine whose cost per event does not grow with the number of
// spheres (but for the log n of its queue). It carries out the same events
// as the reference loop of Experiment with the same physics: the chamber's
// own prediction and response for base, walls and top, and the shot's
// sphere-pair collision rule.
//
// How it saves the work:
// - Each sphere keeps the time at which its position and velocity are
//   valid, and is flown to the present only when an event touches it or a
//   prediction needs it. The engine works on its own copy of the shot's
//   positions and velocities, one cache line per sphere with its time,
//   which is what a search of the neighbouring cells reads; start() takes
//   them from the shot. The engine then keeps the shot's state: whenever
//   the shot is read, it first flies every sphere's copy to the present and
//   writes it to the shot, leaving its own records as they are, so that
//   when and how often the shot is read changes no result. A step that
//   nobody reads costs nothing per sphere.
// - A sphere's next impact on the chamber is predicted once, when its
//   velocity changes, and kept as an absolute time with its kind (the
//   chamber's base follows a triangle wave known in advance, so the
//   prediction holds until the sphere's velocity changes again).
// - Sphere pairs are predicted only between spheres in neighbouring cells of
//   a CellGrid; leaving a cell is an event of its own, after which the
//   sphere looks at the cells it newly borders.
// - Each sphere keeps its earliest known pair contact, impact and cell exit;
//   the earliest of the three is its key in an EventQueue. A pair contact
//   whose partner has changed velocity since (its count of changes moved on)
//   is stale: it is dropped when it comes up, and the sphere looks for its
//   next contact again.
//
// - The spheres' records are kept in the order of their cells, so that the
//   neighbours a search reads lie close together in memory. The order decays
//   as spheres change cells; endStep() sorts them again once about one
//   sphere in two has. A record's place (its slot) is therefore not the
//   sphere's number in the shot: its Track holds that number, and every
//   event and every tie between equal times is decided by the shot's
//   numbers, so the order of the records changes no result.
//
// Times inside the engine run from an origin that endStep() moves to the
// present every few steps, so that they stay nearly as small as the
// reference loop's: an absolute time near 1 would round away the ever
// shorter bounces of a sphere coming to rest on the rising base, which then
// never leaves it.
class FastEngine : private Shot::Keeper {
 public:
  FastEngine(Shot& shot, Chamber& chamber);
  // Leaves the shot at the present, if it still keeps it.
  ~FastEngine();
  FastEngine(const FastEngine&) = delete;
  FastEngine& operator=(const FastEngine&) = delete;

  // Takes the shot's positions and velocities as the state at time zero of
  // a new run, predicts every event and keeps the shot's state from then
  // on (until the shot is given a new state).
  void start();
  // The present, counted from the origin.
  double now() const { return now_; }
  // Takes the internal steps (cell exits, dropped contacts) before time end
  // (counted from the origin) in time order, up to the first event before
  // end; carries that out and returns true, or returns false when no event
  // comes before end.
  bool carryOutNext(double end);
  // Ends a step at time end (counted from the origin, no event before it
  // left): the present and the base move there.
  void endStep(double end);

  // The event carried out last, and the time from the event before it (or
  // from the last origin, if later) to it.
  const EventRecord& lastEvent() const { return last_; }
  double lastStep() const { return last_step_; }
  // Time from the present to the next event (its internal steps before it,
  // such as cell exits, looked ahead and undone).
  double timeToNextEvent();
  // Every event carried out goes to trace first; null for none.
  void setTrace(EventTrace* trace) { trace_ = trace; }

 private:
  // Per sphere, what a search for contacts reads of each neighbour.
  using Body = FlightRecord;

  // Per sphere, its predictions and its cell.
  struct alignas(64) Track {
    double t_pair;     // earliest known contact with another sphere
    double t_surface;  // its next impact on the chamber
    double t_exit;     // when it leaves its cell
    int partner;       // the sphere of t_pair, or -1
    unsigned partner_changes;  // that sphere's count of changes at prediction
    int cell[3];       // coordinates of its cell
    int surface_kind;  // the chamber's code for the impact at t_surface
    int exit_face;     // CellGrid::Face of the exit at t_exit
    int shot_id;       // the sphere's number in the shot
  };

  // Writes every sphere's position and velocity at the present to the shot
  // (when they changed since the last time).
  void bringShotToPresent() override;
  // Makes the present the origin.
  void moveOrigin();
  // Lays the cells over the chamber, as wide as the bed's density asks
  // (measured on cells two diameters wide), puts every sphere in its cell
  // and predicts every sphere's events (at start).
  void layCells();
  // The same with cells of the given width (also when the bed's density has
  // changed much; every sphere at the present).
  void layCells(double width);
  // The width of cells that fits the bed's density, measured in the cells
  // laid now.
  double fittingWidth();
  // Puts the records in the order of their cells (every sphere at the
  // present), keeping every prediction.
  void sortByCell();
  // Fills the queue from every sphere's predictions.
  void fillQueue();
  // Flies sphere i to the present under gravity.
  void fly(int i);
  // The position and velocity of record b at the present.
  void flown(const Body& b, double* r, double* v) const;
  // Moves the chamber's base to the present.
  void bringChamber();
  // Lowers i's pair prediction (i at the present) to its earliest contact
  // with one of the first count spheres of near (which has room for one
  // more), if that comes earlier.
  void lowerPairs(int i, int* near, int count);
  // All of i's predictions after its velocity changed; requeues it.
  void predictAll(int i);
  // The same for both spheres of a contact just carried out.
  void predictAllAfterContact(int i, int j);
  void predictSurface(int i);
  void predictExit(int i);
  void predictPairs(int i);
  void requeue(int i);
  // The earliest of a sphere's three predictions: its key in the queue.
  static double earliest(const Track& s);
  // near_, with room for two searches of the present cells.
  int* nearRoom();
  // Takes the queue's top entry if it is an internal step (a cell exit, a
  // stale contact) and returns true; false when the top is an event.
  bool stepInternal();
  void record(int kind, int i, int j);
  // Carries out the contact of i and j, both at the present.
  void collidePair(int i, int j);
  void enterCell(int i);
  void leaveCell(int i);

  Shot& shot_;
  Chamber& chamber_;
  int n_;
  double g_;
  double diam2_;
  double now_;           // present time, from the origin
  double chamber_time_;  // time to which the base was moved
  double origin_;        // simulated time since the reset at time zero
  double last_time_;     // time of the last event (or the last step's end, if later)
  double step_start_;    // the end of the step before (or the origin)
  // Steps after which endStep moves the origin.
  static constexpr double kOriginSteps = 64.0;
  bool dirty_;           // the shot is not at the present
  double last_step_;
  EventRecord last_;
  EventTrace* trace_;
  std::vector<Body, HugePageAllocator<Body>> body_;     // by slot
  std::vector<Track, HugePageAllocator<Track>> track_;  // by slot
  long exits_since_sort_;     // cell changes since the records were sorted
  double cell_width_;         // the fitting width the cells were laid for
  // How far the width that fits the bed may move from cell_width_ before
  // the cells are laid anew.
  static constexpr double kRelayFactor = 1.5;
  std::vector<int> near_;  // slots of the spheres a search looks at (two searches' room)
  // Scratch arrays of sortByCell and fillQueue.
  std::vector<Body, HugePageAllocator<Body>> spare_body_;
  std::vector<Track, HugePageAllocator<Track>> spare_track_;
  std::vector<int> sort_first_;
  std::vector<int> sort_slot_;
  std::vector<double> queue_keys_;
  std::vector<int> queue_tags_;
  CellGrid grid_;
  EventQueue queue_;
};

#endif
