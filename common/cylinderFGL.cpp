#include "cylinderFGL.h"

#include <GL/freeglut.h>

#include "paramFile.h"

CylinderFGL::CylinderFGL(const char* ini, const char* iniGL)
    : Cylinder(ini), GLdetail_(0), GLslices_(0), GLspacing_(0.0),
      GLbaseR_(0.0), GLbaseG_(0.0), GLbaseB_(0.0), GLbaseA_(0.0),
      GLwallR_(0.0), GLwallG_(0.0), GLwallB_(0.0), GLwallA_(0.0) {
  ParamFile file(iniGL);
  file >> GLdetail_;
  file.endLine();
  // Fewer than three facets enclose no area.
  file.require(GLdetail_ >= 3);
  file >> GLslices_;
  file.endLine();
  // No band at all would make the band height of a closed cylinder infinite.
  file.require(GLslices_ >= 1);
  if (GLslices_ >= 1) {
    GLspacing_ = height0_ != 0.0 ? height0_ / GLslices_ : 0.2 * radius0_;
  }
  file >> GLbaseR_ >> GLbaseG_ >> GLbaseB_ >> GLbaseA_;
  file.endLine();
  file >> GLwallR_ >> GLwallG_ >> GLwallB_ >> GLwallA_;
  file.endLine();
  file.close();
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
