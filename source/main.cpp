// Entry of the animation-window programs. Built twice: with DRUMSIM the shot
// is shaken in the cylinder of "ini/cyl.ini" (drumsim), without it in the box
// of "ini/box.ini" (cratesim).
//
// The four long-lived objects are globals, built in order before main runs.
// A failure while they are built ends the process at once with status 1.
// Once main has begun, the process ends through the normal exit path (Escape,
// closing the window, or a fatal error), which destroys the globals in
// reverse order: the chamber writes its histogram files and the shot its
// state file.

#include <GL/freeglut.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "experimentFGL.h"
#include "lifecycle.h"
#include "par.h"
#include "shotFGL.h"

#ifdef DRUMSIM
#include "cylinderFGL.h"
#else
#include "boxFGL.h"
#endif

namespace {

// Defined before every other global: the exit handler it registers runs after
// all their destructors and gives the process its final status.
struct ProcessStart {
  ProcessStart() { lifecycle::beginProcess(); }
};
ProcessStart process_start;

}  // namespace

Par par("ini/par.ini");
ShotFGL shot("ini/shot.ini", "ini/shotGL.ini");
#ifdef DRUMSIM
CylinderFGL cylinder("ini/cyl.ini", "ini/cylGL.ini");
ExperimentFGL experiment(shot, cylinder, par, "ini/parGL.ini");
#else
BoxFGL box("ini/box.ini", "ini/boxGL.ini");
ExperimentFGL experiment(shot, box, par, "ini/parGL.ini");
#endif

void idle() { experiment.idleCallback(); }
void display() { experiment.displayCallback(); }
void keyboard(unsigned char key, int x, int y) { experiment.keyboardCallback(key, x, y); }
void special(int key, int x, int y) { experiment.specialCallback(key, x, y); }
void mouse(int button, int state, int x, int y) { experiment.mouseCallback(button, state, x, y); }
void motion(int x, int y) { experiment.motionCallback(x, y); }
void reshape(int width, int height) { experiment.reshapeCallback(width, height); }

int main(int argc, char** argv) {
  // Every global is built: failures from now on take the normal exit path.
  lifecycle::beginRun();

  experiment.initFGL(argc, argv);
  // Closing the window ends the process through exit(), so the globals'
  // destructors write the result files (this is freeglut's default).
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_EXIT);

  glutIdleFunc(idle);
  glutDisplayFunc(display);
  glutKeyboardFunc(keyboard);
  glutSpecialFunc(special);
  glutMouseFunc(mouse);
  glutMotionFunc(motion);
  glutReshapeFunc(reshape);
  glutMainLoop();

#ifdef DRUMSIM
  // The main loop returned: keep the console open until the user has read
  // it, when there is a user at a terminal to press Enter.
  if (isatty(STDIN_FILENO)) {
    std::cout << "Press Enter to continue . . ." << std::flush;
    int c;
    do {
      c = std::getchar();
    } while (c != '\n' && c != EOF);
  }
#endif
  return 0;
}
