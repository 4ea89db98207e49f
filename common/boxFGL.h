#ifndef BOXFGL_H
#define BOXFGL_H

#include "box.h"
#include "interfaceFGL.h"

// Draws the six faces of the axis-aligned box [x0, x1] x [y0, y1] x [z0, z1]
// (either bound of a pair may be the larger), each face as one primitive of
// the given OpenGL type with its outward normal: GL_QUADS for a solid box,
// GL_LINE_LOOP for its edges.
void drawBox(float x0, float x1, float y0, float y1, float z0, float z1, unsigned type);

// The box chamber drawn in the animation window: the vessel as a translucent
// box whose lower edge follows the base, its edges as thick lines, and the
// base as a solid plate at its current height, as a BoxDrawDef
// ("ini/boxGL.ini") says.
class BoxFGL : public Box, public InterfaceFGL {
 public:
  BoxFGL(const BoxDef& def, const BoxDrawDef& draw);
  // Builds the box from ini, then reads iniGL; a bad file ends the process
  // with "Error reading <iniGL>".
  BoxFGL(const char* ini, const char* iniGL);
  // Builds the box from its definition, then reads iniGL.
  BoxFGL(const BoxDef& def, const char* iniGL);
  ~BoxFGL() override {}

  void draw() const override;
  void console() override {}

 private:
  void useDrawing(const BoxDrawDef& draw);

  double GLheight_;
  double GLbaseR_, GLbaseG_, GLbaseB_, GLbaseA_;
  double GLwallR_, GLwallG_, GLwallB_, GLwallA_;
};

#endif
