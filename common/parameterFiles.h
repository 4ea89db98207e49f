#ifndef PARAMETERFILES_H
#define PARAMETERFILES_H

#include <string>

#include "definitions.h"
#include "paramFile.h"

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

RunDef readRunDef(const char* filename);
// The shot's and the chamber's definitions keep the file's name as their source.
ShotDef readShotDef(const char* filename);
BoxDef readBoxDef(const char* filename);
CylinderDef readCylinderDef(const char* filename);
ShotDrawDef readShotDrawDef(const char* filename);
BoxDrawDef readBoxDrawDef(const char* filename);
CylinderDrawDef readCylinderDrawDef(const char* filename);
// Without the angles line, turn and tilt keep the values of ViewDef.
ViewDef readViewDef(const char* filename, bool with_angles);

#endif
