#ifndef VIBRATEDCHAMBER_H
#define VIBRATEDCHAMBER_H

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

#include "chamber.h"
#include "definitions.h"
#include "freeFlight.h"
#include "restitution.h"
#include "runRecord.h"

// Whether a chamber opens its impact maps when it is built (emptying them),
// or leaves them closed for restore() to continue them.
enum class MapStart { kEmpty, kContinued };

// What both chambers share, written once: gravity, the vibrating base and its
// triangle-wave motion, the restitution law of the three kinds of surface,
// the prediction of base and top impacts, the response at base and top with
// its recording (impact maps and histograms), and the records that a reset
// restarts. The concrete chamber adds its side wall, its containment test and
// its histograms.
//
// Hist is the chamber's histogram type; it offers setNormal, hit, dump and
// reset. kTopCode is the chamber's code for a top impact (the base is 1).
template <class Hist, int kTopCode>
class VibratedChamber : public Chamber {
 public:
  double gravity() const override { return gravity_; }
  double speedLimit() const override { return speed_limit_; }

  // Moves the base along its triangle wave by the time step goal: it runs
  // between -A and +A at the constant speed V = 4A/P and turns at both ends.
  // A negative goal moves it back along the straight line it is on.
  void advance(double goal) override {
    if (base_amplitude_ == 0.0) return;
    // Time until the base reaches the turning point it is heading for.
    double tleft = (base_amplitude_ - base_dir_ * base_z_) * base_velocity_inv_;
    base_z_ = base_dir_ * base_amplitude_;
    // Whole periods bring the base back to the same point, heading the same
    // way: they are skipped at once. Turning half a period at a time, a goal
    // of many periods would take as many turns, and once half a period fell
    // below the rounding of tleft the loop would never end.
    if (goal - tleft > base_period_) {
      tleft += base_period_ * std::floor((goal - tleft) * base_period_inv_);
    }
    // Two turns at most are left, a few more only through rounding.
    for (int turns = 0; goal > tleft && turns < 4; ++turns) {
      base_z_ = -base_z_;
      base_dir_ = -base_dir_;
      tleft += base_period_half_;
    }
    if (goal > tleft) tleft = goal;  // rounding: the base stands at the turn
    // goal - tleft <= 0: the base is that far short of the turning point.
    base_z_ += base_dir_ * base_velocity_ * (goal - tleft);
  }

  // The restitution of base, walls and top at an impact speed (restitution.h).
  double coef_sb(double velocity) const { return restitution(coef_sb_, v_scale_sb_, velocity); }
  double coef_sw(double velocity) const { return restitution(coef_sw_, v_scale_sw_, velocity); }
  double coef_st(double velocity) const { return restitution(coef_st_, v_scale_st_, velocity); }

  // Writes one impact-map line: the x and y of the sphere centre, flushed so
  // that the map is complete at any moment of the run.
  void dumpImpact2D(const double* r, std::ofstream& os) const {
    os << r[0] << " " << r[1] << std::endl;
  }
  // The same line appended to the named file.
  void dumpImpact2D(const double* r, const char* filename) const {
    std::ofstream os(filename, std::ios::app);
    if (os) dumpImpact2D(r, os);
  }

  int pendingImpact() const override { return col_type_; }
  void setPendingImpact(int kind) override { col_type_ = kind; }

  double baseHeight() const override { return base_z_; }
  int baseDirection() const override { return base_dir_; }
  double baseAmplitude() const override { return base_amplitude_; }
  double basePeriod() const override { return base_period_; }
  // The least speed relative to the base with which a sphere leaves it.
  double baseRebound() const { return base_rebound_; }
  double height() const { return height_; }
  double height0() const { return height0_; }
  const Hist& topHist() const { return top_hist_; }
  const Hist& botHist() const { return bot_hist_; }

  // Running totals since the last reset, over the whole shot and per unit
  // mass: the change of vertical velocity at base and top impacts, and the
  // kinetic energy the shot gained at each kind of surface (negative where
  // it lost).
  double baseImpulse() const { return impulse_base_; }
  double topImpulse() const { return impulse_top_; }
  double baseEnergy() const { return energy_base_; }
  double wallEnergy() const { return energy_wall_; }
  double topEnergy() const { return energy_top_; }

  // Impacts since the last reset.
  std::int64_t baseImpacts() const { return col_sb_; }
  std::int64_t topImpacts() const { return col_st_; }
  virtual std::int64_t wallImpacts() const = 0;

  ImpactTotals impactTotals() const override {
    ImpactTotals t;
    t.base_impacts = baseImpacts();
    t.wall_impacts = wallImpacts();
    t.top_impacts = topImpacts();
    t.impulse_base = impulse_base_;
    t.impulse_top = impulse_top_;
    t.energy_base = energy_base_;
    t.energy_wall = energy_wall_;
    t.energy_top = energy_top_;
    return t;
  }

  void capture(RunRecord& r) const override {
    r.base_height = base_z_;
    r.base_direction = base_dir_;
    r.pending_impact = col_type_;
    r.base_impacts = col_sb_;
    r.top_impacts = col_st_;
    captureWalls(r.wall_impacts);
    r.impulse_base = impulse_base_;
    r.impulse_top = impulse_top_;
    r.energy_base = energy_base_;
    r.energy_wall = energy_wall_;
    r.energy_top = energy_top_;
    r.top_map_bytes = maps2D_ != 0 ? mapSize(impact_map_top_file_) : -1;
    r.bot_map_bytes = maps2D_ != 0 ? mapSize(impact_map_bot_file_) : -1;
    r.top_hist = top_hist_.sums();
    r.bot_hist = bot_hist_.sums();
  }

  bool restore(const RunRecord& r) override {
    if (!top_hist_.restore(r.top_hist) || !bot_hist_.restore(r.bot_hist)) return false;
    base_z_ = r.base_height;
    base_dir_ = r.base_direction;
    col_type_ = r.pending_impact;
    col_sb_ = r.base_impacts;
    col_st_ = r.top_impacts;
    restoreWalls(r.wall_impacts);
    impulse_base_ = r.impulse_base;
    impulse_top_ = r.impulse_top;
    energy_base_ = r.energy_base;
    energy_wall_ = r.energy_wall;
    energy_top_ = r.energy_top;
    if (maps2D_ != 0) {
      continueMap(impact_map_top_, impact_map_top_file_, r.top_map_bytes);
      continueMap(impact_map_bot_, impact_map_bot_file_, r.bot_map_bytes);
    }
    return true;
  }

 protected:
  // Takes the shared values of a chamber of that horizontal size (half-width
  // or radius); the concrete chamber then adds its own and opens the records
  // (the impact maps only when they start empty).
  VibratedChamber(const ChamberDef& def, double width, MapStart maps)
      : map_start_(maps),
        height0_(def.height), height_(0.0), gravity_(def.gravity),
        speed_limit_(::speedLimit(def, width)),
        gravity_half_(0.5 * def.gravity), gravity_inv_(1.0 / def.gravity),
        coef_sb_(def.base.coefficient), v_scale_sb_(1.0 / def.base.threshold),
        coef_sw_(def.wall.coefficient), v_scale_sw_(1.0 / def.wall.threshold),
        coef_st_(def.top.coefficient), v_scale_st_(1.0 / def.top.threshold),
        r_tol_(def.tolerance), base_amplitude_(def.amplitude), base_period_(def.period),
        base_period_half_(0.5 * def.period), base_period_inv_(1.0 / def.period),
        base_velocity_(4.0 * def.amplitude / def.period),
        // A base at rest has no speed to invert; its prediction does not use it.
        base_velocity_inv_(def.amplitude > 0.0 ? def.period / (4.0 * def.amplitude) : 0.0),
        base_z_(def.base_start), base_dir_(def.base_direction),
        base_rebound_(std::isnan(def.base_rebound) ? 0.0 : def.base_rebound),
        base_rebound_given_(!std::isnan(def.base_rebound)), col_type_(0), col_sb_(0),
        col_st_(0), impulse_base_(0.0), impulse_top_(0.0), energy_base_(0.0),
        energy_wall_(0.0), energy_top_(0.0),
        impact_map_top_file_{"top.map"}, impact_map_bot_file_{"bot.map"},
        maps2D_(def.maps) {}

  // Once the chamber is built: opens the impact maps when they are on (a map
  // that cannot be opened is lost silently, the run goes on without it) and
  // gives both histograms the upward normal.
  void openRecords() {
    if (maps2D_ != 0 && map_start_ == MapStart::kEmpty) {
      impact_map_top_.open(impact_map_top_file_, std::ios::out | std::ios::trunc);
      impact_map_bot_.open(impact_map_bot_file_, std::ios::out | std::ios::trunc);
    }
    const double up[3] = {0.0, 0.0, 1.0};
    top_hist_.setNormal(up);
    bot_hist_.setNormal(up);
  }

  // The base or the top, when the sphere lies beyond it by more than the
  // position tolerance (breach of Chamber); null otherwise.
  const char* breachBaseOrTop(const double* r, double& depth) const {
    if (r[2] < base_z_ - r_tol_) {
      depth = base_z_ - r[2];
      return "base";
    }
    if (height_ > 0.0 && r[2] > height_ + r_tol_) {
      depth = r[2] - height_;
      return "top";
    }
    return nullptr;
  }

  // Sets the top of the sphere heights for this diameter, and the default
  // least rebound speed at the base unless the file gave one. False when a
  // top leaves no room for a sphere above the base's highest reach; a
  // chamber of height 0 has no top.
  bool useDiameterForTopAndBase(double diam) {
    height_ = height0_ - diam;
    if (!base_rebound_given_) base_rebound_ = defaultMinRebound(gravity_, diam);
    return height0_ == 0.0 || height_ > base_amplitude_;
  }

  // The heights of bounds(): from the lowest reach of the base to the top,
  // or without end where there is none.
  void heightBounds(double lo[3], double hi[3]) const {
    lo[2] = -base_amplitude_;
    hi[2] = height_ > 0.0 ? height_ : std::numeric_limits<double>::infinity();
  }

  // Base impact. The sphere's lowest point flies on the parabola
  //   z(t) = z + vz t - g t^2 / 2,
  // the base on a triangle wave between -A and +A at speed V. Returns the
  // first time at which the two meet (the sphere coming down onto the base),
  // or best_time when that is not earlier. Never negative: a sphere that lies
  // under the surface and sinks is met at once.
  //
  // On each stroke the base moves at a constant velocity, so relative to it
  // the sphere flies on h(s) = h + w s - g s^2/2 (see meet). The strokes are
  // taken in turn, each reckoned from its own start, the present one from
  // now: a sphere that has just bounced with a tiny relative speed lies
  // within rounding of the surface, and only a reckoning from the present
  // keeps that speed (reckoned from a turn half a period away, the square of
  // a relative speed below about 1e-8 is lost in the rounding of the other
  // terms, and a sphere that is rounding below the surface looks as if it
  // never came back up to it).
  double detectBase(const double* r, const double* v, double best_time) {
    const double t = base_amplitude_ == 0.0
                         ? meet(r[2] - base_z_, v[2], roundingOf(r[2], base_z_))
                         : meetMovingBase(r[2], v[2], best_time);
    if (t < best_time) {
      best_time = t;
      col_type_ = 1;
    }
    return best_time;
  }

  // Top impact, only for a chamber with a top and a rising sphere: the first
  // root of z(t) = H, t = (vz - sqrt(D))/g with D = vz^2 - 2g(H - z), the
  // sphere reaching the top on its way up, reckoned as 2(H - z)/(vz + sqrt D)
  // without the cancellation. With D <= 0 the sphere turns below the top
  // (the largest finite time never wins); a sphere above the top, still
  // rising, meets it at once.
  double detectTop(const double* r, const double* v, double best_time) {
    const double vz = v[2];
    if (height_ > 0.0 && vz > 0.0) {
      const double gap = height_ - r[2];
      const double d = vz * vz - 2.0 * gravity_ * gap;
      double t = std::numeric_limits<double>::max();
      if (gap <= 0.0) {
        t = 0.0;
      } else if (d > 0.0) {
        t = 2.0 * gap / (vz + std::sqrt(d));
      }
      if (t < best_time) {
        best_time = t;
        col_type_ = kTopCode;
      }
    }
    return best_time;
  }

  // Base response: the closing speed u = Vb - vz (Vb the base velocity) is
  // reversed with the base's restitution, vz' = e(u) u + Vb, and the sphere
  // leaves at no less than the least rebound speed relative to the base.
  // On either stroke the base moves at constant velocity, so a sphere
  // settling on it would bounce ever lower and faster (each relative speed
  // e times the last) to a halt at a finite time; at the least rebound speed
  // s it hops instead, 2s/g apart, to a height s^2/2g, until the base turns.
  void collideBase(const double* r, double* v) {
    const double base_velocity = base_dir_ * base_velocity_;
    ++col_sb_;
    const double vz_impact = base_velocity - v[2];
    double rebound = coef_sb(vz_impact) * vz_impact;
    if (rebound < base_rebound_) rebound = base_rebound_;
    const double vz_new = rebound + base_velocity;
    impulse_base_ += vz_new - v[2];
    energy_base_ += 0.5 * (vz_new * vz_new - v[2] * v[2]);
    record(r, v, vz_new, impact_map_bot_, bot_hist_);
  }

  // Top response: vz' = -e(vz) vz.
  void collideTop(const double* r, double* v) {
    ++col_st_;
    const double vz_new = -coef_st(v[2]) * v[2];
    impulse_top_ += vz_new - v[2];
    energy_top_ += 0.5 * (vz_new * vz_new - v[2] * v[2]);
    record(r, v, vz_new, impact_map_top_, top_hist_);
  }

  // The wall counters of the concrete chamber, for the run record.
  virtual void captureWalls(std::int64_t walls[2]) const = 0;
  virtual void restoreWalls(const std::int64_t walls[2]) = 0;

  // Starts the records of a new run: the impact maps emptied, the histograms
  // of the run that ends written to their files and cleared.
  void restartRecords() {
    col_type_ = 0;
    col_sb_ = 0;
    col_st_ = 0;
    impulse_base_ = 0.0;
    impulse_top_ = 0.0;
    energy_base_ = 0.0;
    energy_wall_ = 0.0;
    energy_top_ = 0.0;
    if (impact_map_top_.is_open()) impact_map_top_.close();
    if (impact_map_bot_.is_open()) impact_map_bot_.close();
    if (maps2D_ != 0) {
      impact_map_top_.open(impact_map_top_file_, std::ios::out | std::ios::trunc);
      impact_map_bot_.open(impact_map_bot_file_, std::ios::out | std::ios::trunc);
    }
    top_hist_.dump("top.hist");
    top_hist_.reset();
    bot_hist_.dump("bot.hist");
    bot_hist_.reset();
  }

  MapStart map_start_;
  double height0_;  // inner height from the base's mean position to the top
  double height_;   // height0_ - diam: the largest sphere height; <= 0: no top
  double gravity_;
  double speed_limit_;  // speedLimit() of the definition
  double gravity_half_;
  double gravity_inv_;
  double coef_sb_;
  double v_scale_sb_;  // 1 / threshold speed of the base
  double coef_sw_;
  double v_scale_sw_;  // 1 / threshold speed of the side walls
  double coef_st_;
  double v_scale_st_;  // 1 / threshold speed of the top
  double r_tol_;
  double base_amplitude_;     // A: the base moves between -A and +A
  double base_period_;        // P
  double base_period_half_;   // P/2
  double base_period_inv_;    // 1/P
  double base_velocity_;      // V = 4A/P
  double base_velocity_inv_;  // 1/V (0 for a base at rest)
  double base_z_;             // current base height
  int base_dir_;              // +1 rising, -1 falling
  double base_rebound_;       // the least speed relative to the base of a sphere leaving it
  bool base_rebound_given_;   // base_rebound_ from the definition, not the default
  int col_type_;              // pending impact: 0 none, 1 base, kTopCode top, others the wall's
  std::int64_t col_sb_;       // impacts on the base since the last reset
  std::int64_t col_st_;       // impacts on the top since the last reset
  double impulse_base_;       // running totals beside the counters: vz change at the base,
  double impulse_top_;        // at the top,
  double energy_base_;        // kinetic energy gained at the base,
  double energy_wall_;        // at the side walls (added by the chamber's wall response),
  double energy_top_;         // at the top
  char impact_map_top_file_[30];
  char impact_map_bot_file_[30];
  std::ofstream impact_map_top_;
  std::ofstream impact_map_bot_;
  int maps2D_;
  Hist top_hist_;
  Hist bot_hist_;

 private:
  // The meeting with a surface moving at constant velocity, relative to
  // which the sphere stands at height h, moving at w: the later root of
  //   h + w s - g s^2/2 = 0,  s = (w + sqrt(w^2 + 2 g h)) / g,
  // the sphere coming down onto the surface (the earlier root, negative for
  // h > 0, is where it would have left it). Approaching (w < 0) it is
  // reckoned as 2h / (sqrt(w^2 + 2 g h) - w), the same root without the
  // cancellation. A sphere under the surface (h < 0) comes from rounding at
  // a bounce, or from a state file within the tolerance:
  // - rising fast enough to come back up through the surface (w^2 + 2 g h
  //   >= 0), it meets it at the later root as above;
  // - too slow for that, it is taken to lie on the surface (h = 0) and lands
  //   again after 2w/g: its relative speed of a moment ago was real, the
  //   depth is rounding, and with no root at all it would fall through;
  // - sinking, it met the surface in the past, and meets it now (0).
  // A sphere within rounding of the surface (|h| <= rounding, a few ulp of
  // the heights h was reckoned from) lies on it: h = 0, and it lands again
  // after 2w/g, at once when it does not move away from it. Otherwise a
  // sphere whose relative speed has rounded to zero in a pile-up of bounces
  // (possible only with no least rebound speed) falls from a rounding
  // height of about 1e-16 for some 1e-8, too long a step for the collapse
  // guard, picks up a relative speed and piles up its bounces anew. Sphere
  // and base heights still drift apart by rounding over many events, so
  // this shortens such a pile-up without ruling it out.
  double meet(double h, double w, double rounding) const {
    if (std::fabs(h) <= rounding) h = 0.0;
    double d = w * w + 2.0 * gravity_ * h;
    if (d < 0.0) d = w * w;
    const double root = std::sqrt(d);
    if (w >= 0.0) return (w + root) * gravity_inv_;
    return h > 0.0 ? 2.0 * h / (root - w) : 0.0;
  }
  // The rounding of a height h = z - surface reckoned from z and a surface
  // whose height the base's motion, of amplitude A, has rounded.
  double roundingOf(double z, double surface) const {
    return kRoundingUlps * std::numeric_limits<double>::epsilon() *
           (std::fabs(z) + std::fabs(surface) + base_amplitude_);
  }
  static constexpr double kRoundingUlps = 4.0;

  // The base prediction of a moving base. The stroke the base is on runs
  // from now to its turn ahead; the sphere is reckoned on each stroke from
  // the stroke's start (its height and velocity there by free flight),
  // and the first stroke on which it comes down within the stroke's length
  // holds the meeting. Once the walk reaches a top turn the sphere stands
  // above +A, and it cannot meet the base before it has come down through +A
  // again, at tentry (the later root of z(t) = A, meet with the base at rest
  // at A): whole periods before tentry are skipped. The walk then ends within
  // the period that follows; a few more strokes only through rounding.
  double meetMovingBase(double z, double vz, double best_time) const {
    const double a = base_amplitude_;
    double start = 0.0;      // the stroke's start, from now
    double base = base_z_;   // the base height then
    int dir = base_dir_;
    double length = (a - dir * base) * base_velocity_inv_;  // until its turn
    bool skipped = false;
    for (int stroke = 0;; ++stroke) {
      if (start >= best_time) return best_time;
      const double zs = flownHeight(z, vz, gravity_half_, start);
      const double vs = flownVerticalVelocity(vz, gravity_, start);
      const double s = meet(zs - base, vs - dir * base_velocity_, roundingOf(zs, base));
      if (s <= length || stroke == kMaxStrokes) return start + s;
      start += length;
      base = dir * a;
      dir = -dir;
      length = base_period_half_;
      if (dir < 0 && !skipped) {
        skipped = true;
        const double za = flownHeight(z, vz, gravity_half_, start);
        const double tentry =
            meet(za - a, flownVerticalVelocity(vz, gravity_, start), roundingOf(za, a));
        start += base_period_ * std::floor(tentry * base_period_inv_);
      }
    }
  }
  // Strokes of the walk: the present one, a rising one, the descending and
  // the rising stroke of the skipped-to period, and two for rounding.
  static constexpr int kMaxStrokes = 6;
  // The size of an impact map's file (0 when there is none).
  static std::int64_t mapSize(const char* name) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(name, error);
    return error ? 0 : static_cast<std::int64_t>(size);
  }

  // Cuts an impact map back to the size it had at the record (lines of a
  // later, lost run after it) and appends to it from then on.
  static void continueMap(std::ofstream& map, const char* name, std::int64_t bytes) {
    if (map.is_open()) map.close();
    if (bytes >= 0 && mapSize(name) > bytes) {
      if (truncate(name, static_cast<off_t>(bytes)) != 0) return;
    }
    map.open(name, std::ios::out | std::ios::app);
  }

  // Records a top or base impact (map line, histogram with the velocities
  // before and after) and sets the new vertical velocity.
  void record(const double* r, double* v, double vz_new, std::ofstream& map, Hist& hist) {
    if (maps2D_ != 0) dumpImpact2D(r, map);
    const double v_new[3] = {v[0], v[1], vz_new};
    hist.hit(r, v, v_new);
    v[2] = vz_new;
  }
};

#endif
