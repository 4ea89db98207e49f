#ifndef PARAMETERFILES_H
#define PARAMETERFILES_H

#include <string>
#include <vector>

#include "definitions.h"
#include "paramFile.h"
#include "program.h"

// The parameter files and their definitions: one table per file of its
// layout (each value's key, line and place in the definition), and one
// reader per file that fills a definition from the file by the convention of
// ParamFile and refuses it unless isValid. A refused file ends the process
// with "Error reading <file>" and status 1; under a ParamFile::Trial it is
// only recorded, and the definition returned holds whatever was read.
//
// A table is made for one definition object and points into it: reading the
// file through it fills that object, and the keys name every value of the
// file (for messages, for setting a value by name, for listing the values in
// force).

ParamTable runTable(RunDef& def);
ParamTable shotTable(ShotDef& def);
ParamTable boxTable(BoxDef& def);
ParamTable cylinderTable(CylinderDef& def);
ParamTable shotDrawTable(ShotDrawDef& def);
ParamTable boxDrawTable(BoxDrawDef& def);
ParamTable cylinderDrawTable(CylinderDrawDef& def);
// The window file has two lines, or three with the camera's turn and tilt.
ParamTable viewTable(ViewDef& def, bool with_angles);

// The text of the file a table describes, holding the values its definition
// holds now: a line per layout line, values separated by a space, numbers
// with the digits that read back exactly (17 significant), no comments.
std::string formatParamFile(const ParamTable& table);
// Sets the value named key from text, read as the file would read it (the
// whole text must be one value of the field's kind). False, nothing
// changed, for an unknown key or a text that is no such value.
bool setParam(const ParamTable& table, const std::string& key, const std::string& text);

// A value given by its key for one run, in place of the file's
// ("--set box.amplitude=0.7" of the batch programs).
struct ParamSetting {
  std::string key;
  std::string value;
};
using ParamSettings = std::vector<ParamSetting>;

// Each reader sets the values the settings give for keys of its file, in
// their order (the last of one key wins), after reading the file and before
// the definition is checked; a definition refused with settings names them
// after the file ("Error reading ini/box.ini with --set box.amplitude=-1").
RunDef readRunDef(const char* filename, const ParamSettings& settings);
ShotDef readShotDef(const char* filename, const ParamSettings& settings);
// The shot's and the chamber's definitions keep the file's name as their source.
BoxDef readBoxDef(const char* filename, const ParamSettings& settings);
CylinderDef readCylinderDef(const char* filename, const ParamSettings& settings);
// The files as they are.
RunDef readRunDef(const char* filename);
ShotDef readShotDef(const char* filename);
BoxDef readBoxDef(const char* filename);
CylinderDef readCylinderDef(const char* filename);
ShotDrawDef readShotDrawDef(const char* filename);
BoxDrawDef readBoxDrawDef(const char* filename);
CylinderDrawDef readCylinderDrawDef(const char* filename);
// Without the angles line, turn and tilt keep the values of ViewDef.
ViewDef readViewDef(const char* filename, bool with_angles);

// What a simulation is built from: the run, the shot and the program's
// chamber (the other chamber's definition keeps its defaults).
struct SimulationDefs {
  RunDef run;
  ShotDef shot;
  BoxDef box;
  CylinderDef cylinder;
};

// The keys of a simulation's files in the order they are read: ini/par.ini,
// ini/shot.ini, then the box's or the cylinder's file.
ParamTable simulationTable(SimulationDefs& defs, ChamberKind chamber);
// Reads the three files in that order with the settings.
SimulationDefs readSimulationDefs(const Program& program, const ParamSettings& settings);
// True when a setting names a key of the simulation's files and its text is
// a value of that key's kind.
bool checkSetting(ChamberKind chamber, const ParamSetting& setting);

#endif
