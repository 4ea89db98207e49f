#ifndef WINDOWPROGRAMFGL_H
#define WINDOWPROGRAMFGL_H

#include "program.h"

// The animation-window program of a program description. Builds the four
// long-lived objects in order (run parameters, the drawable shot, the
// drawable chamber, the window experiment), each from its parameter files;
// a failure while they are built ends the process at once with status 1.
// Then opens the window and runs the window toolkit's loop. The process ends
// through the normal exit path (Escape, closing the window, or a fatal
// error), which destroys the objects in reverse order: the chamber writes
// its histogram files and the shot its state file. The command line goes to
// the window toolkit. Returns the exit status if the loop ever returns.
int runWindow(const Program& program, int argc, char** argv);

#endif
