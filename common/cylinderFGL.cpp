#include "cylinderFGL.h"

#include <GL/freeglut.h>

#include "parameterFiles.h"

CylinderFGL::CylinderFGL(const CylinderDef& def, const CylinderDrawDef& draw) : Cylinder(def) {
  useDrawing(draw);
}

CylinderFGL::CylinderFGL(const char* ini, const char* iniGL) : CylinderFGL(readCylinderDef(ini), iniGL) {}

CylinderFGL::CylinderFGL(const CylinderDef& def, const char* iniGL) : Cylinder(def) {
  useDrawing(readCylinderDrawDef(iniGL));
}

void CylinderFGL::useDrawing(const CylinderDrawDef& draw) {
  GLdetail_ = draw.facets;
  GLslices_ = draw.bands;
  GLspacing_ = height0_ != 0.0 ? height0_ / GLslices_ : 0.2 * radius0_;
  GLbaseR_ = draw.base[0];
  GLbaseG_ = draw.base[1];
  GLbaseB_ = draw.base[2];
  GLbaseA_ = draw.base[3];
  GLwallR_ = draw.wall[0];
  GLwallG_ = draw.wall[1];
  GLwallB_ = draw.wall[2];
  GLwallA_ = draw.wall[3];
}

void CylinderFGL::draw() const {
  const double r = radius0_;
  const float h = static_cast<float>(height0_);
  const float b = static_cast<float>(base_z_);

  // The wall with its two end faces, translucent and drawn without depth so
  // that the shot behind it shows through.
  glEnable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glColor4f(static_cast<float>(GLwallR_), static_cast<float>(GLwallG_),
            static_cast<float>(GLwallB_), static_cast<float>(GLwallA_));
  glutSolidCylinder(r, wallHeight(), GLdetail_, 1);
  glDisable(GL_BLEND);
  glEnable(GL_DEPTH_TEST);

  glColor4f(static_cast<float>(GLbaseR_), static_cast<float>(GLbaseG_),
            static_cast<float>(GLbaseB_), static_cast<float>(GLbaseA_));
  // The rim of the top.
  if (height0_ != 0.0) {
    glTranslatef(0.0f, 0.0f, h);
    glutSolidTorus(0.1, r, 3, GLdetail_);
    glTranslatef(0.0f, 0.0f, -h);
  }
  // The base disc, 0.1 thick, its upper face at the base height.
  glTranslatef(0.0f, 0.0f, b - 0.1f);
  glutSolidCylinder(r, 0.1, GLdetail_, 1);
  glTranslatef(0.0f, 0.0f, 0.1f - b);
}
