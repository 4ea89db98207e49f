#include "shotFGL.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "parameterFiles.h"

namespace {

const double kPi = 3.14159265358979323846;

// How far, in pixels, the outline of a drawn sphere may stray from a true
// circle before a finer mesh is taken.
const double kOutlinePixels = 0.25;

}  // namespace

ShotFGL::ShotFGL(const ShotDef& def, const ShotDrawDef& draw) : Shot(def) { useDrawing(draw); }

ShotFGL::ShotFGL(const char* ini, const char* iniGL) : ShotFGL(readShotDef(ini), iniGL) {}

ShotFGL::ShotFGL(const ShotDef& def, const char* iniGL) : Shot(def) {
  useDrawing(readShotDrawDef(iniGL));
}

void ShotFGL::useDrawing(const ShotDrawDef& draw) {
  GLdetail_ = draw.detail;
  GLdetail2_ = 2 * draw.detail;
  GLheight_ = draw.colour_height;
  GLbotR_ = draw.bottom[0];
  GLbotG_ = draw.bottom[1];
  GLbotB_ = draw.bottom[2];
  GLtopR_ = draw.top[0];
  GLtopG_ = draw.top[1];
  GLtopB_ = draw.top[2];
  GLmarkR_ = draw.marked[0];
  GLmarkG_ = draw.marked[1];
  GLmarkB_ = draw.marked[2];
  meshes_.resize(GLdetail_ + 1);
}

void ShotFGL::sphereColour(int i, float rgb[3]) const {
  if (i == 0) {
    rgb[0] = static_cast<float>(GLmarkR_);
    rgb[1] = static_cast<float>(GLmarkG_);
    rgb[2] = static_cast<float>(GLmarkB_);
    return;
  }
  const double h = r_[i][2] / GLheight_;
  if (h > 1.0) {
    rgb[0] = static_cast<float>(GLtopR_);
    rgb[1] = static_cast<float>(GLtopG_);
    rgb[2] = static_cast<float>(GLtopB_);
  } else {
    rgb[0] = static_cast<float>(GLbotR_ + (GLtopR_ - GLbotR_) * h);
    rgb[1] = static_cast<float>(GLbotG_ + (GLtopG_ - GLbotG_) * h);
    rgb[2] = static_cast<float>(GLbotB_ + (GLtopB_ - GLbotB_) * h);
  }
}

int ShotFGL::detailFor(double pixels) const {
  // The outline of a mesh of detail d strays from the sphere's by at most
  // r (1 - cos(pi / 2d)) for a radius r: the coarsest detail that keeps it
  // within kOutlinePixels.
  const double ratio = kOutlinePixels / pixels;
  if (!(ratio < 2.0)) return 2;
  const double d = std::ceil(0.5 * kPi / std::acos(1.0 - ratio));
  return d >= GLdetail_ ? GLdetail_ : std::max(2, static_cast<int>(d));
}

const SphereMeshFGL& ShotFGL::mesh(int detail) const {
  std::unique_ptr<SphereMeshFGL>& m = meshes_[detail];
  if (!m) m.reset(new SphereMeshFGL(radius_, 2 * detail, detail));
  return *m;
}

void ShotFGL::draw() const {
  // The radius on the screen, in pixels, of a sphere at unit depth before
  // the camera: the projection's scale of y times half the viewport.
  GLfloat modelview[16], projection[16];
  GLint viewport[4];
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glGetIntegerv(GL_VIEWPORT, viewport);
  const double unit_pixels = radius_ * projection[5] * 0.5 * viewport[3];
  // The spheres are closed and opaque: their far sides are hidden anyway.
  glEnable(GL_CULL_FACE);
  for (int i = 0; i < n_; ++i) {
    const double* r = r_[i];
    float rgb[3];
    sphereColour(i, rgb);
    glColor4f(rgb[0], rgb[1], rgb[2], 1.0f);
    // r[2] is the height of the sphere's lowest point; its centre is one
    // radius above. The two translations cancel, so no matrix push is needed.
    const GLfloat x = static_cast<GLfloat>(r[0]);
    const GLfloat y = static_cast<GLfloat>(r[1]);
    const GLfloat z = static_cast<GLfloat>(r[2] + radius_);
    // Depth before the camera; a sphere at or behind the eye gets the finest
    // mesh (the view clips it anyway).
    const double depth = -(modelview[2] * x + modelview[6] * y + modelview[10] * z + modelview[14]);
    const int detail = depth > 0.0 ? detailFor(unit_pixels / depth) : GLdetail_;
    glTranslatef(x, y, z);
    mesh(detail).draw();
    glTranslatef(-x, -y, -z);
  }
  glDisable(GL_CULL_FACE);
}
