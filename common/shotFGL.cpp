#include "shotFGL.h"

#include <GL/freeglut.h>

#include "paramFile.h"

ShotFGL::ShotFGL(const char* ini, const char* iniGL)
    : Shot(ini), GLdetail_(0), GLdetail2_(0), GLheight_(0.0),
      GLbotR_(0.0), GLbotG_(0.0), GLbotB_(0.0),
      GLtopR_(0.0), GLtopG_(0.0), GLtopB_(0.0),
      GLmarkR_(0.0), GLmarkG_(0.0), GLmarkB_(0.0) {
  ParamFile file(iniGL);
  file >> GLdetail_;
  file.endLine();
  // The window toolkit counts the vertices of a sphere mesh, 2 d^2 for a
  // detail d, in an int; the slices, 2 d, are computed once the file is
  // known to be good.
  file.require(GLdetail_ >= 1 && GLdetail_ <= 32767);
  file >> GLheight_;
  file.endLine();
  // The colour is height / GLheight_: a zero height has no colour scale.
  file.require(GLheight_ > 0.0);
  file >> GLbotR_ >> GLbotG_ >> GLbotB_;
  file.endLine();
  file >> GLtopR_ >> GLtopG_ >> GLtopB_;
  file.endLine();
  file >> GLmarkR_ >> GLmarkG_ >> GLmarkB_;
  file.endLine();
  file.close();
  GLdetail2_ = 2 * GLdetail_;
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
    glutSolidSphere(radius_, GLdetail2_, GLdetail_);
    glTranslatef(-x, -y, -z);
  }
}
