#include "experimentFGL.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <iostream>

#include "chamber.h"
#include "interfaceFGL.h"
#include "lifecycle.h"
#include "parameterFiles.h"
#include "shot.h"

namespace {

const int kEscape = 27;
const int kSpace = 32;

// Wall time one tick computes for at most (beyond the piece under way), and
// the wall time a piece of an animation step is cut to: a few pieces a tick,
// so that a slow piece overshoots the budget by little. The first piece of a
// run, before its cost is known, is this share of a step.
const double kTickBudget = 0.04;
const double kPieceTime = 0.01;
const double kFirstPiece = 1.0 / 64.0;

double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The drawing side of a shot or chamber. Both must be drawable; the program
// builds them so, and a plain simulation object here is a programming error.
template <class T>
const InterfaceFGL& drawable(const T& object, const char* what) {
  const InterfaceFGL* d = dynamic_cast<const InterfaceFGL*>(&object);
  if (d == nullptr) {
    std::cerr << "The " << what << " cannot be drawn" << std::endl;
    lifecycle::exitRun(1);
  }
  return *d;
}

void drawText(int x, int y, const char* text) {
  glRasterPos2i(x, y);
  for (const char* c = text; *c != '\0'; ++c) {
    glutBitmapCharacter(GLUT_BITMAP_TIMES_ROMAN_24, *c);
  }
}

}  // namespace

ExperimentFGL::ExperimentFGL(const Program& program, Shot& shot, Chamber& chamber,
                             const Par& par, const ViewDef& view, Engine engine)
    : Experiment(program, shot, chamber, par, engine) {
  useView(view);
}

ExperimentFGL::ExperimentFGL(const Program& program, Shot& shot, Chamber& chamber,
                             const Par& par, const char* iniFGL, Engine engine)
    : Experiment(program, shot, chamber, par, engine) {
  useView(readViewDef(iniFGL, program.view_angles));
}

void ExperimentFGL::useView(const ViewDef& view) {
  GLx_prev_ = 0;
  GLy_prev_ = 0;
  GLb_left_ = 0;
  GLb_right_ = 0;
  GLspeed_ = 10;
  GLtstep_ = GLspeed_ * tstep_ * 0.1;
  GLdistance_min_ = view.nearest;
  GLdistance_max_ = view.farthest;
  GLdistance_ = view.farthest;
  GLztarget_ = view.target_height;
  GLtheta_ = view.tilt;
  GLphi_ = view.turn;
  GLleft_ = 0.0;
  GLbudget_ = kTickBudget;
  GLcost_ = 0.0;
}

void ExperimentFGL::initFGL(int argc, char** argv) const {
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_ALPHA | GLUT_DEPTH);
  glutInitWindowSize(program_.window_width, program_.window_height);
  if (program_.window_x >= 0 && program_.window_y >= 0) {
    glutInitWindowPosition(program_.window_x, program_.window_y);
  }
  glutCreateWindow("Real-time Animation v1.0");

  glClearColor(0.8f, 0.8f, 0.8f, 1.0f);
  glColor3f(0.0f, 0.0f, 0.0f);
  glPointSize(3.5f);

  glEnable(GL_DEPTH_TEST);
  // Replaced by the reshape callback before the first frame.
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, 1.0, 0.1, 200.0);
  glMatrixMode(GL_MODELVIEW);
  glEnable(GL_NORMALIZE);
  glEnable(GL_COLOR_MATERIAL);
  glEnable(GL_LIGHTING);
  glEnable(GL_ALPHA_TEST);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

  // A directional light given in eye coordinates: it keeps its direction
  // relative to the viewer however the camera turns.
  glLoadIdentity();
  const GLfloat light_position[4] = {2.0f, 5.0f, 5.0f, 0.0f};
  glLightfv(GL_LIGHT0, GL_POSITION, light_position);
  glEnable(GL_LIGHT0);
}

void ExperimentFGL::idleCallback() {
  advance();
  glutPostRedisplay();
}

void ExperimentFGL::advance() {
  if (GLleft_ <= 0.0) GLleft_ = GLtstep_;
  const double start = wallSeconds();
  while (GLleft_ > 0.0) {
    // A piece that should take kPieceTime at the cost measured so far; the
    // rest of the step when that is less (or nearly so, so that no sliver
    // of rounding is left over).
    double piece = GLcost_ > 0.0 ? kPieceTime / GLcost_ : kFirstPiece * GLleft_;
    if (piece > GLleft_ * (1.0 - 1e-9)) piece = GLleft_;
    const double before = wallSeconds();
    makeStep(piece);
    const double after = wallSeconds();
    GLleft_ = piece == GLleft_ ? 0.0 : GLleft_ - piece;
    // A piece too quick for the clock counts as a microsecond: the next
    // piece is then the rest of the step.
    GLcost_ = std::max(after - before, 1e-6) / piece;
    if (after - start >= GLbudget_) break;
  }
}

void ExperimentFGL::displayCallback() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  gluLookAt(GLdistance_, 0.0, 0.0, 0.0, 0.0, GLztarget_, 0.0, 0.0, 1.0);
  // In matrix order: a vertex is turned about z first, then tilted about y.
  glRotatef(static_cast<GLfloat>(GLtheta_), 0.0f, 1.0f, 0.0f);
  glRotatef(static_cast<GLfloat>(GLphi_), 0.0f, 0.0f, 1.0f);
  glColor3f(1.0f, 1.0f, 1.0f);
  drawable(shot_, "shot").draw();
  drawable(chamber_, "chamber").draw();
  glDisable(GL_LIGHTING);
  showText();
  glEnable(GL_LIGHTING);
  glutSwapBuffers();
}

void ExperimentFGL::mouseCallback(int button, int state, int x, int y) {
  const bool pressed = state == GLUT_DOWN;
  if (button == GLUT_LEFT_BUTTON) {
    GLb_left_ = pressed ? 1 : 0;
    if (pressed) {
      GLx_prev_ = x;
      GLy_prev_ = y;
    }
  } else if (button == GLUT_RIGHT_BUTTON) {
    GLb_right_ = pressed ? 1 : 0;
    if (pressed) GLy_prev_ = y;
  }
}

void ExperimentFGL::motionCallback(int x, int y) {
  // One degree per pixel.
  if (GLb_left_) {
    GLphi_ = wrapDegrees(GLphi_ + x - GLx_prev_);
    GLtheta_ = wrapDegrees(GLtheta_ + y - GLy_prev_);
    GLx_prev_ = x;
    GLy_prev_ = y;
  }
  // One distance unit per pixel, dragging down moves away. With the left
  // button also held GLy_prev_ is already y, so the distance stays.
  if (GLb_right_) {
    GLdistance_ += y - GLy_prev_;
    if (GLdistance_ < GLdistance_min_) {
      GLdistance_ = GLdistance_min_;
    } else if (GLdistance_ > GLdistance_max_) {
      GLdistance_ = GLdistance_max_;
    }
    GLy_prev_ = y;
  }
}

void ExperimentFGL::keyboardCallback(unsigned char key, int, int) {
  if (key == kEscape) {
    // The normal exit path: the chamber and the shot write their files.
    lifecycle::exitRun(0);
  } else if (key == kSpace) {
    reset();
    GLleft_ = 0.0;
  }
}

void ExperimentFGL::specialCallback(int key, int, int) {
  if (key == GLUT_KEY_UP) {
    ++GLspeed_;
  } else if (key == GLUT_KEY_DOWN) {
    if (--GLspeed_ < 0) GLspeed_ = 0;
  } else {
    return;
  }
  GLtstep_ = GLspeed_ * 0.1 * tstep_;
}

void ExperimentFGL::reshapeCallback(int width, int height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // A window of height 0 (minimised) keeps a finite projection.
  const float aspect = height > 0 ? static_cast<float>(width) / static_cast<float>(height) : 1.0f;
  glFrustum(-aspect, aspect, -1.0, 1.0, 2.0, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void ExperimentFGL::showText() {
  // A 50 x 50 text space over the window, (0, 0) at its lower left corner.
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  gluOrtho2D(0.0, 50.0, 0.0, 50.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glColor3f(0.0f, 0.0f, 0.0f);
  glDisable(GL_DEPTH_TEST);

  char events[30];
  char speed[30];
  char particles[30];
  char gravity[30];
  char time[30];
  std::snprintf(events, sizeof events, "%" PRId64 " events", eventCount());
  std::snprintf(speed, sizeof speed, "speed %ld", static_cast<long>(GLspeed_));
  std::snprintf(particles, sizeof particles, "%ld particles", static_cast<long>(shot_.n()));
  std::snprintf(gravity, sizeof gravity, "g = %g", chamber_.gravity());
  std::snprintf(time, sizeof time, "%ld cycles", static_cast<long>(tfull_));
  drawText(1, 48, events);
  drawText(22, 48, speed);
  drawText(36, 48, particles);
  drawText(1, 1, gravity);
  drawText(22, 1, time);

  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
}

int ExperimentFGL::wrapDegrees(int angle) {
  // The remainder keeps the sign of a negative angle; one turn more then
  // gives what adding 360 until it is not negative would.
  angle %= 360;
  return angle < 0 ? angle + 360 : angle;
}
