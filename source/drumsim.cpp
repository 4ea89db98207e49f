// drumsim: the shot shaken in the upright cylinder of "ini/cyl.ini", in an animation window.
#include "program.h"
#include "windowProgramFGL.h"

int main(int argc, char** argv) { return runWindow(drumsim(), argc, argv); }
