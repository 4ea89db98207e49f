#include "cylinder.h"

#include <cmath>
#include <iostream>

#include "lifecycle.h"
#include "parameterFiles.h"

namespace {
const double kPi = 3.141592653589793;
}  // namespace

Cylinder::Cylinder(const CylinderDef& def, MapStart maps)
    : VibratedChamber(def.chamber, def.radius, maps), radius0_(def.radius), radius_(0.0), radius2_(0.0),
      radius_inv_(0.0), vr_min_(def.wall_rebound), col_sw_(0), cells_(def.rings),
      source_(def.source) {
  openRecords();
}

Cylinder::Cylinder(const char* filename) : Cylinder(readCylinderDef(filename)) {}

Cylinder::~Cylinder() {
  std::cout << "Dumping stats... ";
  top_hist_.dump("top.hist");
  bot_hist_.dump("bot.hist");
  std::cout << "DONE" << std::endl;
}

void Cylinder::useSphereDiameter(double diam) {
  const bool room_below_top = useDiameterForTopAndBase(diam);
  radius_ = radius0_ - 0.5 * diam;
  // A cylinder whose radius is not larger than the sphere radius has no
  // room for a sphere centre (and the inverse radius would be infinite),
  // nor one whose top comes within a diameter of the base's highest reach.
  if (!room_below_top || radius_ <= 0.0) {
    std::cerr << "Error reading " << source_ << std::endl;
    lifecycle::fail();
  }
  radius2_ = radius_ * radius_;
  radius_inv_ = 1.0 / radius_;
  top_hist_.setCells(cells_, radius_);
  bot_hist_.setCells(cells_, radius_);
}

double Cylinder::level(double volume) const { return volume / (kPi * radius0_ * radius0_); }

int Cylinder::isInside(const double* r) const {
  if (height_ > 0.0 && r[2] > height_ + r_tol_) return 0;
  if (r[2] < base_z_ - r_tol_) return 0;
  if (std::sqrt(r[0] * r[0] + r[1] * r[1]) > radius_ + r_tol_) return 0;
  return 1;
}

const char* Cylinder::breach(const double* r, double& depth) const {
  const char* surface = breachBaseOrTop(r, depth);
  if (surface != nullptr) return surface;
  const double distance = std::sqrt(r[0] * r[0] + r[1] * r[1]);
  if (distance > radius_ + r_tol_) {
    depth = distance - radius_;
    return "side wall";
  }
  return nullptr;
}

void Cylinder::bounds(double lo[3], double hi[3]) const {
  lo[0] = lo[1] = -radius_;
  hi[0] = hi[1] = radius_;
  heightBounds(lo, hi);
}

// Candidates in the order base, side wall, top; each wins only when strictly
// earlier than the best so far.
double Cylinder::detect(const double* r, const double* v, double best_time) {
  best_time = detectBase(r, v, best_time);

  // Side wall: the horizontal motion (x, y) + (vx, vy) t is a straight line;
  // it meets the circle of radius R where |p + w t|^2 = R^2, i.e.
  //   w.w t^2 + 2 b t - (R^2 - p.p) = 0,  b = p.w.
  // The positive root t = (sqrt(b^2 + c w.w) - b) / w.w, c = R^2 - p.p, is
  // the crossing going outward; a sphere on the wall gets 0 moving out and
  // the time to the far side moving in. With no horizontal motion the
  // quotient is not a number and never wins.
  const double x = r[0];
  const double y = r[1];
  const double vx = v[0];
  const double vy = v[1];
  const double b = x * vx + y * vy;
  const double r2D2 = x * x + y * y;
  const double v2D2 = vx * vx + vy * vy;
  if (r2D2 > radius_ * (radius_ + 2.0 * r_tol_)) {
    std::cout << "particle at (x,y)=(" << x << "," << y << ") "
              << "with velocity (vx,vy)=(" << vx << "," << vy << ")" << std::endl;
    std::cout << "has (x^2+y^2=" << r2D2 << ")>(R^2=" << radius2_ << ") "
              << "i.e. is outside the cylinder wall" << std::endl;
  }
  // A sphere beyond the wall is treated as lying on it.
  double c = radius2_ - r2D2;
  if (c <= 0.0) c = 0.0;
  const double t = (std::sqrt(b * b + c * v2D2) - b) / v2D2;
  if (t < best_time) {
    best_time = t;
    col_type_ = 2;
  }
  return detectTop(r, v, best_time);
}

void Cylinder::collide(const double* r, double* v) {
  switch (col_type_) {
    case 1:
      collideBase(r, v);
      break;
    case 2: {
      // The radial velocity (outward positive), taking the centre to lie on
      // the wall, is reversed with the wall's restitution, but never to less
      // than vr_min_ inward; tangential and vertical velocity are kept.
      ++col_sw_;
      const double vr = (v[0] * r[0] + v[1] * r[1]) * radius_inv_;
      const double e = coef_sw(vr);
      double newvr = e * vr;
      if (vr_min_ > newvr) newvr = vr_min_;
      const double norm = (vr + newvr) * radius_inv_;
      const double v2_before = v[0] * v[0] + v[1] * v[1];
      v[0] -= r[0] * norm;
      v[1] -= r[1] * norm;
      energy_wall_ += 0.5 * (v[0] * v[0] + v[1] * v[1] - v2_before);
      break;
    }
    case 3:
      collideTop(r, v);
      break;
    default:
      break;
  }
}

void Cylinder::captureWalls(std::int64_t walls[2]) const {
  walls[0] = col_sw_;
  walls[1] = 0;
}

void Cylinder::restoreWalls(const std::int64_t walls[2]) { col_sw_ = walls[0]; }

void Cylinder::reset() {
  col_sw_ = 0;
  restartRecords();
}
