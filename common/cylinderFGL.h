#ifndef CYLINDERFGL_H
#define CYLINDERFGL_H

#include "cylinder.h"
#include "interfaceFGL.h"

// The cylinder chamber drawn in the animation window: the side wall as a
// translucent closed cylinder standing on the base's mean position, a thin
// ring at the rim of the top, and the base as a solid disc at its current
// height.
//
// Drawing parameter file ("ini/cylGL.ini"; the rest of a line is comment):
//   1  facets around the axis of wall and base, segments of the rim (>= 3)
//   2  bands of the drawn wall (>= 1); the wall is the inner height high, or
//      one fifth of the radius per band for a cylinder without a top
//   3  colour of the base disc and the rim: red, green, blue, alpha (0..1)
//   4  colour of the translucent wall: red, green, blue, alpha
class CylinderFGL : public Cylinder, public InterfaceFGL {
 public:
  // Builds the cylinder from ini, then reads iniGL; a bad file ends the
  // process with "Error reading <iniGL>".
  CylinderFGL(const char* ini, const char* iniGL);
  ~CylinderFGL() override {}

  void draw() const override;
  void console() override {}

  // Height of the drawn wall: GLslices_ bands of GLspacing_.
  double wallHeight() const { return GLslices_ * GLspacing_; }
  int detail() const { return GLdetail_; }

 private:
  int GLdetail_;
  int GLslices_;
  double GLspacing_;  // height of one band of the wall
  double GLbaseR_, GLbaseG_, GLbaseB_, GLbaseA_;
  double GLwallR_, GLwallG_, GLwallB_, GLwallA_;
};

#endif
