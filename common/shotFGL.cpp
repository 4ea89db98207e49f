#include "shotFGL.h"

#include <GL/gl.h>

#include "parameterFiles.h"

ShotFGL::ShotFGL(const ShotDef& def, const ShotDrawDef& draw) : Shot(def) { useDrawing(draw); }

ShotFGL::ShotFGL(const char* ini, const char* iniGL) : Shot(ini) {
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
  mesh_.reset(new SphereMeshFGL(radius_, GLdetail2_, GLdetail_));
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

void ShotFGL::draw() const {
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
    glTranslatef(x, y, z);
    mesh_->draw();
    glTranslatef(-x, -y, -z);
  }
}
