#ifndef WINDOWPROGRAMFGL_H
#define WINDOWPROGRAMFGL_H

#include "program.h"

// The animation-window program of a program description. Reads the command
// line first (--engine fast|reference, fast by default; --help): one it
// cannot understand ends the program with the usage text on standard error
// and status 2 before any file is read. Then builds the four long-lived
// objects in order (run parameters, the drawable shot, the drawable
// chamber, the window experiment), each from its parameter files; a failure
// while they are built ends the process at once with status 1. Then opens
// the window and runs the window toolkit's loop (the toolkit gets no
// options). The process ends through the normal exit path (Escape, closing
// the window, SIGINT, SIGTERM or SIGHUP with status 128 + the signal's
// number, or a fatal error), which destroys the objects in reverse order:
// the chamber writes its histogram files and the shot its state file.
// Returns the exit status: 2 after a usage error, 0 after --help or if the
// loop ever returns.
int runWindow(const Program& program, int argc, char** argv);

#endif
