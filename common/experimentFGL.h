#ifndef EXPERIMENTFGL_H
#define EXPERIMENTFGL_H

#include "definitions.h"
#include "experiment.h"

class Chamber;
class Par;
class Shot;

// The experiment with a real-time animation window (freeglut, OpenGL, GLU).
//
// Every idle tick of the window toolkit advances the simulation (advance());
// every frame draws the shot and the chamber through their InterfaceFGL
// side, then five counters. An animation step that takes longer to compute
// than a tick may spend (tickBudget()) is spread over several ticks, each
// drawn, so that the window answers its keys and mouse however big the bed.
// The left button turns the scene, the right button moves the camera nearer
// or farther, the arrow keys change the animation speed, space restarts the
// run and Escape ends the process.
//
// The shot and the chamber must also be InterfaceFGL objects when a frame is
// drawn. The input callbacks only change the camera and speed state below and
// make no OpenGL call, so they work without a window.
//
// The camera starts as a ViewDef ("ini/parGL.ini") says; the window's size
// and place are the program's.
class ExperimentFGL : public Experiment {
 public:
  // Prepares the first run (Experiment, with the given engine), then takes
  // the camera.
  ExperimentFGL(const Program& program, Shot& shot, Chamber& chamber, const Par& par,
                const ViewDef& view, Engine engine = Engine::kFast);
  // Prepares the first run, then reads the window parameters (the turn and
  // tilt line only if the program's file has it); a bad file ends the
  // process with "Error reading <iniFGL>".
  ExperimentFGL(const Program& program, Shot& shot, Chamber& chamber, const Par& par,
                const char* iniFGL, Engine engine = Engine::kFast);
  ~ExperimentFGL() {}

  // Opens the window and sets up the drawing state. The arguments go to the
  // window toolkit unchanged.
  void initFGL(int argc, char** argv) const;

  // One idle tick: advance(), then a redraw is asked for.
  void idleCallback();
  // The simulation work of one tick (no OpenGL call): carries on with the
  // current animation step, or begins the next one, in pieces, until the
  // step is done or the tick has spent its budget of wall time; the rest of
  // the step is left for the next tick. A step, however many ticks it takes,
  // advances the bed by the animation step at the time it began.
  void advance();
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
  // Simulated time still to go in the current animation step; 0 between steps.
  double stepLeft() const { return GLleft_; }
  // Wall time one tick may spend computing, in seconds (0: one piece a tick).
  double tickBudget() const { return GLbudget_; }
  void setTickBudget(double seconds) { GLbudget_ = seconds; }

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
  double GLleft_;    // simulated time left of the current animation step
  double GLbudget_;  // wall seconds of computing per tick
  double GLcost_;    // wall seconds per unit of simulated time, measured; 0: not yet
};

#endif
