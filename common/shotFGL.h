#ifndef SHOTFGL_H
#define SHOTFGL_H

#include <memory>
#include <vector>

#include "interfaceFGL.h"
#include "shot.h"
#include "sphereMeshFGL.h"

// The shot drawn in the animation window: every sphere a lit solid sphere
// coloured by its height, sphere 0 in a marker colour so that one ball can be
// followed by eye. Drawn as a ShotDrawDef ("ini/shotGL.ini") says: each
// sphere from a mesh prepared once per level of detail (the file's detail
// and coarser ones), the coarsest whose outline keeps within a quarter of a
// pixel of the sphere's at its size on the screen: far spheres, a few pixels
// across, cost a few triangles, and the picture is that of the file's detail
// to within that quarter pixel.
class ShotFGL : public Shot, public InterfaceFGL {
 public:
  ShotFGL(const ShotDef& def, const ShotDrawDef& draw);
  // Builds the shot from ini, then reads iniGL; a bad file ends the process
  // with "Error reading <iniGL>".
  ShotFGL(const char* ini, const char* iniGL);
  // Builds the shot from its definition, then reads iniGL.
  ShotFGL(const ShotDef& def, const char* iniGL);
  ~ShotFGL() override {}

  void draw() const override;
  void console() override {}

  // The colour sphere i is drawn in: linear in height from the bottom colour
  // at 0 to the top colour at the colour height, the top colour above, and
  // the line continued below 0; the marker colour for sphere 0.
  void sphereColour(int i, float rgb[3]) const;

  int detail() const { return GLdetail_; }
  int slices() const { return GLdetail2_; }

 private:
  void useDrawing(const ShotDrawDef& draw);

  int GLdetail_;   // stacks of a drawn sphere
  int GLdetail2_;  // 2 * GLdetail_: slices of a drawn sphere
  double GLheight_;
  double GLbotR_, GLbotG_, GLbotB_;
  double GLtopR_, GLtopG_, GLtopB_;
  double GLmarkR_, GLmarkG_, GLmarkB_;
  // The detail a sphere of this radius on the screen, in pixels, is drawn
  // with: from 2 up to GLdetail_.
  int detailFor(double pixels) const;
  // The mesh of a level of detail, prepared on its first use.
  const SphereMeshFGL& mesh(int detail) const;

  // Meshes by level of detail, at the shot's radius; null until used.
  mutable std::vector<std::unique_ptr<SphereMeshFGL>> meshes_;
};

#endif
