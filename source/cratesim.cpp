// cratesim: the shot shaken in the box of "ini/box.ini", in an animation window.
#include "program.h"
#include "windowProgramFGL.h"

int main(int argc, char** argv) { return runWindow(cratesim(), argc, argv); }
