#ifndef EXPERIMENTFGL_H
#define EXPERIMENTFGL_H

#include "definitions.h"
#include "experiment.h"

class Chamber;
class Par;
class Shot;

// The experiment with a real-time animation window (freeglut, OpenGL, GLU).
//
// Every idle tick of the window toolkit advances the simulation by one
// animation step; every frame draws the shot and the chamber through their
// InterfaceFGL side, then five counters. The left button turns the scene,
// the right button moves the camera nearer or farther, the arrow keys change
// the animation speed, space restarts the run and Escape ends the process.
//
// The shot and the chamber must also be InterfaceFGL objects when a frame is
// drawn. The input callbacks only change the camera and speed state below and
// make no OpenGL call, so they work without a window.
//
// The camera starts as a ViewDef ("ini/parGL.ini") says; the window's size
// and place are the program's.
class ExperimentFGL : public Experiment {
 public:
  // Prepares the first run (Experiment), then takes the camera.
  ExperimentFGL(const Program& program, Shot& shot, Chamber& chamber, const Par& par,
                const ViewDef& view);
  // Prepares the first run, then reads the window parameters (the turn and
  // tilt line only if the program's file has it); a bad file ends the
  // process with "Error reading <iniFGL>".
  ExperimentFGL(const Program& program, Shot& shot, Chamber& chamber, const Par& par,
                const char* iniFGL);
  ~ExperimentFGL() {}

  // Opens the window and sets up the drawing state. The arguments go to the
  // window toolkit unchanged.
  void initFGL(int argc, char** argv) const;

  void idleCallback();
  void displayCallback();
  void mouseCallback(int button, int state, int x, int y);
  void keyboardCallback(unsigned char key, int x, int y);
  void specialCallback(int key, int x, int y);
  void motionCallback(int x, int y);
  void reshapeCallback(int width, int height);

  int speed() const { return GLspeed_; }
  double animationStep() const { return GLtstep_; }
  double distance() const { return GLdistance_; }
  double distanceMin() const { return GLdistance_min_; }
  double distanceMax() const { return GLdistance_max_; }
  double zTarget() const { return GLztarget_; }
  int theta() const { return GLtheta_; }
  int phi() const { return GLphi_; }

 private:
  void useView(const ViewDef& view);
  // Writes the counters over the frame.
  void showText();
  // Brings an angle in whole degrees into 0..359.
  static int wrapDegrees(int angle);

  int GLx_prev_;  // pointer x at the last left press or drag
  int GLy_prev_;  // pointer y at the last press or drag
  int GLb_left_;   // 1 while the left button is held
  int GLb_right_;  // 1 while the right button is held
  int GLspeed_;      // animation speed, >= 0
  double GLtstep_;   // simulated time per idle tick: GLspeed_ * 0.1 * tstep_
  double GLdistance_min_;
  double GLdistance_max_;
  double GLdistance_;  // the eye stands at (GLdistance_, 0, 0)
  double GLztarget_;   // height of the point the camera looks at
  int GLtheta_;  // tilt of the scene about the y axis, degrees
  int GLphi_;    // turn of the scene about the z axis, degrees
};

#endif
