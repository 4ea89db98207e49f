#include "boxFGL.h"

#include <GL/freeglut.h>

#include <utility>

#include "parameterFiles.h"

void drawBox(float x0, float x1, float y0, float y1, float z0, float z1, unsigned type) {
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  if (z0 > z1) std::swap(z0, z1);
  const GLfloat v[8][3] = {
      {x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0},
      {x1, y0, z0}, {x1, y0, z1}, {x1, y1, z1}, {x1, y1, z0},
  };
  static const GLfloat normals[6][3] = {
      {-1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f},
      {0.0f, -1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, -1.0f},
  };
  static const int faces[6][4] = {
      {0, 1, 2, 3}, {3, 2, 6, 7}, {7, 6, 5, 4},
      {4, 5, 1, 0}, {5, 6, 2, 1}, {7, 4, 0, 3},
  };
  for (int f = 0; f < 6; ++f) {
    glBegin(type);
    glNormal3fv(normals[f]);
    for (int k = 0; k < 4; ++k) glVertex3fv(v[faces[f][k]]);
    glEnd();
  }
}

BoxFGL::BoxFGL(const BoxDef& def, const BoxDrawDef& draw) : Box(def) { useDrawing(draw); }

BoxFGL::BoxFGL(const char* ini, const char* iniGL) : BoxFGL(readBoxDef(ini), iniGL) {}

BoxFGL::BoxFGL(const BoxDef& def, const char* iniGL) : Box(def) {
  useDrawing(readBoxDrawDef(iniGL));
}

void BoxFGL::useDrawing(const BoxDrawDef& draw) {
  GLheight_ = draw.height;
  GLbaseR_ = draw.base[0];
  GLbaseG_ = draw.base[1];
  GLbaseB_ = draw.base[2];
  GLbaseA_ = draw.base[3];
  GLwallR_ = draw.wall[0];
  GLwallG_ = draw.wall[1];
  GLwallB_ = draw.wall[2];
  GLwallA_ = draw.wall[3];
}

void BoxFGL::draw() const {
  const float x = static_cast<float>(xsize0_);
  const float y = static_cast<float>(ysize0_);
  const float h = static_cast<float>(height0_);
  const float b = static_cast<float>(base_z_);

  // The vessel: translucent walls, lid and floor, drawn without depth so
  // that the shot behind every face shows through.
  glEnable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glColor4f(static_cast<float>(GLwallR_), static_cast<float>(GLwallG_),
            static_cast<float>(GLwallB_), static_cast<float>(GLwallA_));
  drawBox(-x, x, -y, y, b - 0.05f, h, GL_QUADS);
  glDisable(GL_BLEND);
  glEnable(GL_DEPTH_TEST);

  // Its edges, and the base plate with its upper face at the base height.
  glColor4f(static_cast<float>(GLbaseR_), static_cast<float>(GLbaseG_),
            static_cast<float>(GLbaseB_), static_cast<float>(GLbaseA_));
  glLineWidth(5.0f);
  drawBox(-x, x, -y, y, b - 0.05f, h, GL_LINE_LOOP);
  glLineWidth(1.0f);
  drawBox(-x, x, -y, y, b - 0.1f, b, GL_QUADS);
}
