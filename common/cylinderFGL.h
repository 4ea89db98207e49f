#ifndef CYLINDERFGL_H
#define CYLINDERFGL_H

#include "cylinder.h"
#include "interfaceFGL.h"

// The cylinder chamber drawn in the animation window: the side wall as a
// translucent closed cylinder standing on the base's mean position, a thin
// ring at the rim of the top, and the base as a solid disc at its current
// height, as a CylinderDrawDef ("ini/cylGL.ini") says. The drawn wall is the
// inner height high, or one fifth of the radius per band for a cylinder
// without a top.
class CylinderFGL : public Cylinder, public InterfaceFGL {
 public:
  CylinderFGL(const CylinderDef& def, const CylinderDrawDef& draw);
  // Builds the cylinder from ini, then reads iniGL; a bad file ends the
  // process with "Error reading <iniGL>".
  CylinderFGL(const char* ini, const char* iniGL);
  // Builds the cylinder from its definition, then reads iniGL.
  CylinderFGL(const CylinderDef& def, const char* iniGL);
  ~CylinderFGL() override {}

  void draw() const override;
  void console() override {}

  // Height of the drawn wall: GLslices_ bands of GLspacing_.
  double wallHeight() const { return GLslices_ * GLspacing_; }
  int detail() const { return GLdetail_; }

 private:
  void useDrawing(const CylinderDrawDef& draw);

  int GLdetail_;
  int GLslices_;
  double GLspacing_;  // height of one band of the wall
  double GLbaseR_, GLbaseG_, GLbaseB_, GLbaseA_;
  double GLwallR_, GLwallG_, GLwallB_, GLwallA_;
};

#endif
