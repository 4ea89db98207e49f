// drumsim-batch: the run of drumsim without a window, to the limits of "ini/par.ini".
#include "batchProgram.h"
#include "program.h"

int main(int argc, char** argv) { return runBatch(drumsim(), argc, argv); }
