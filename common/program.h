#ifndef PROGRAM_H
#define PROGRAM_H

// What differs between the programs built from this tree: cratesim shakes
// the shot in a box, drumsim in an upright cylinder, each in an animation
// window and in a batch twin. Everything else is one simulation core; each
// program's entry picks its description at run time and hands it to the
// experiment and the window.

enum class ChamberKind { kBox, kCylinder };

// How the runs of a program start.
enum class RunStart {
  // The first run starts without a chamber reset, from the state file when
  // ini/par.ini names one; every later run (a reset) is placed at random.
  kStateFileOnce,
  // Every run, the first included, starts with a chamber reset, and from the
  // state file again when ini/par.ini names one.
  kStateFileEveryRun,
};

struct Program {
  const char* name;               // the window program: "cratesim"
  const char* batch_name;         // its batch twin: "cratesim-batch"
  ChamberKind chamber;
  const char* chamber_file;       // "ini/box.ini"
  const char* chamber_draw_file;  // "ini/boxGL.ini"
  const char* event_word;         // what the console calls the counted events
  RunStart run_start;
  const char* collapse_advice;    // ends the message of an inelastic collapse ("" for none)
  int window_width;               // the animation window's size in pixels,
  int window_height;
  int window_x;                   // and its place on the screen; < 0: where the
  int window_y;                   // window system puts it
  bool view_angles;               // ini/parGL.ini has its third line (turn and tilt)
  bool wait_for_enter;            // once the window's loop returns, at a terminal
};

const Program& cratesim();
const Program& drumsim();

#endif
