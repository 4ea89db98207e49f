#include "windowProgramFGL.h"

#include <GL/freeglut.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "boxFGL.h"
#include "cylinderFGL.h"
#include "experimentFGL.h"
#include "lifecycle.h"
#include "par.h"
#include "shotFGL.h"

namespace {

// The experiment the window toolkit's callbacks forward to.
ExperimentFGL* g_experiment = nullptr;

void idle() { g_experiment->idleCallback(); }
void display() { g_experiment->displayCallback(); }
void keyboard(unsigned char key, int x, int y) { g_experiment->keyboardCallback(key, x, y); }
void special(int key, int x, int y) { g_experiment->specialCallback(key, x, y); }
void mouse(int button, int state, int x, int y) { g_experiment->mouseCallback(button, state, x, y); }
void motion(int x, int y) { g_experiment->motionCallback(x, y); }
void reshape(int width, int height) { g_experiment->reshapeCallback(width, height); }

// The program's drawable chamber, read from its two files.
std::unique_ptr<Chamber> readChamber(const Program& program) {
  if (program.chamber == ChamberKind::kBox) {
    return std::make_unique<BoxFGL>(program.chamber_file, program.chamber_draw_file);
  }
  return std::make_unique<CylinderFGL>(program.chamber_file, program.chamber_draw_file);
}

}  // namespace

int runWindow(const Program& program, int argc, char** argv) {
  // Before any object that writes a result file: the exit handler it
  // registers runs after all their destructors and gives the process its
  // final status.
  lifecycle::beginProcess();
  // Function-local statics, so that the normal exit path destroys them in
  // reverse order.
  static Par par("ini/par.ini");
  static ShotFGL shot("ini/shot.ini", "ini/shotGL.ini");
  static std::unique_ptr<Chamber> chamber = readChamber(program);
  static ExperimentFGL experiment(program, shot, *chamber, par, "ini/parGL.ini");
  g_experiment = &experiment;
  // Every object is built: failures from now on take the normal exit path.
  lifecycle::beginRun();

  experiment.initFGL(argc, argv);
  // Closing the window ends the process through exit(), so the objects'
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

  // The main loop returned: keep the console open until the user has read
  // it, when there is a user at a terminal to press Enter.
  if (program.wait_for_enter && isatty(STDIN_FILENO)) {
    std::cout << "Press Enter to continue . . ." << std::flush;
    int c;
    do {
      c = std::getchar();
    } while (c != '\n' && c != EOF);
  }
  return 0;
}
