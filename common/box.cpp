#include "box.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "lifecycle.h"
#include "parameterFiles.h"

Box::Box(const BoxDef& def, MapStart maps)
    : VibratedChamber(def.chamber, std::max(def.half_x, def.half_y), maps), xsize0_(def.half_x), ysize0_(def.half_y), xsize_(0.0),
      ysize_(0.0), col_swx_(0), col_swy_(0), xcells_(def.cells_x), ycells_(def.cells_y),
      source_(def.source) {
  openRecords();
}

Box::Box(const char* filename) : Box(readBoxDef(filename)) {}

Box::~Box() {
  top_hist_.dump("top.hist");
  top_hist_.dumpZone("top.zone");
  bot_hist_.dump("bot.hist");
}

double Box::radius() const { return std::sqrt(xsize_ * xsize_ + ysize_ * ysize_); }

void Box::useSphereDiameter(double diam) {
  const bool room_below_top = useDiameterForTopAndBase(diam);
  xsize_ = xsize0_ - 0.5 * diam;
  ysize_ = ysize0_ - 0.5 * diam;
  // A box narrower than one sphere has no room for a sphere centre, nor one
  // whose top comes within a diameter of the base's highest reach.
  if (!room_below_top || xsize_ <= 0.0 || ysize_ <= 0.0) {
    std::cerr << "Error reading " << source_ << std::endl;
    lifecycle::fail();
  }
  top_hist_.setCells(xcells_, ycells_, xsize_, ysize_);
  bot_hist_.setCells(xcells_, ycells_, xsize_, ysize_);
}

double Box::level(double volume) const { return volume / (4.0 * xsize0_ * ysize0_); }

int Box::isInside(const double* r) const {
  if (height_ > 0.0 && r[2] > height_ + r_tol_) return 0;
  if (r[2] < base_z_ - r_tol_) return 0;
  if (std::fabs(r[0]) > xsize_) return 0;
  if (std::fabs(r[1]) > ysize_) return 0;
  return 1;
}

const char* Box::breach(const double* r, double& depth) const {
  const char* surface = breachBaseOrTop(r, depth);
  if (surface != nullptr) return surface;
  if (std::fabs(r[0]) > xsize_ + r_tol_) {
    depth = std::fabs(r[0]) - xsize_;
    return r[0] > 0.0 ? "wall at +x" : "wall at -x";
  }
  if (std::fabs(r[1]) > ysize_ + r_tol_) {
    depth = std::fabs(r[1]) - ysize_;
    return r[1] > 0.0 ? "wall at +y" : "wall at -y";
  }
  return nullptr;
}

void Box::bounds(double lo[3], double hi[3]) const {
  lo[0] = -xsize_;
  hi[0] = xsize_;
  lo[1] = -ysize_;
  hi[1] = ysize_;
  heightBounds(lo, hi);
}

// Candidates in the order base, walls normal to x, walls normal to y, top;
// each wins only when strictly earlier than the best so far.
double Box::detect(const double* r, const double* v, double best_time) {
  best_time = detectBase(r, v, best_time);
  // Walls: straight-line motion in x, x + vx t = +-xsize. A sphere already
  // beyond the wall and still moving out meets it at once.
  if (v[0] != 0.0) {
    const double tx = std::fmax(((v[0] > 0.0 ? xsize_ : -xsize_) - r[0]) / v[0], 0.0);
    if (tx < best_time) {
      best_time = tx;
      col_type_ = 2;
    }
  }
  if (v[1] != 0.0) {
    const double ty = std::fmax(((v[1] > 0.0 ? ysize_ : -ysize_) - r[1]) / v[1], 0.0);
    if (ty < best_time) {
      best_time = ty;
      col_type_ = 3;
    }
  }
  return detectTop(r, v, best_time);
}

void Box::collide(const double* r, double* v) {
  switch (col_type_) {
    case 1:
      collideBase(r, v);
      break;
    case 2: {
      ++col_swx_;
      const double vx = -coef_sw(std::fabs(v[0])) * v[0];
      energy_wall_ += 0.5 * (vx * vx - v[0] * v[0]);
      v[0] = vx;
      break;
    }
    case 3: {
      ++col_swy_;
      const double vy = -coef_sw(std::fabs(v[1])) * v[1];
      energy_wall_ += 0.5 * (vy * vy - v[1] * v[1]);
      v[1] = vy;
      break;
    }
    case 4:
      collideTop(r, v);
      break;
    default:
      break;
  }
}

void Box::captureWalls(std::int64_t walls[2]) const {
  walls[0] = col_swx_;
  walls[1] = col_swy_;
}

void Box::restoreWalls(const std::int64_t walls[2]) {
  col_swx_ = walls[0];
  col_swy_ = walls[1];
}

void Box::reset() {
  col_swx_ = 0;
  col_swy_ = 0;
  restartRecords();
}
