#include "parameterFiles.h"

#include <cmath>

namespace {

ParamField integer(const std::string& key, int line, int& value) {
  ParamField f{key, line};
  f.integer = &value;
  return f;
}

ParamField real(const std::string& key, int line, double& value) {
  ParamField f{key, line};
  f.real = &value;
  return f;
}

// A real on a line after the required ones, which a file may leave out.
ParamField optionalReal(const std::string& key, int line, double& value) {
  ParamField f = real(key, line, value);
  f.optional = true;
  return f;
}

ParamField word(const std::string& key, int line, std::string& value, const int& when) {
  ParamField f{key, line};
  f.word = &value;
  f.when = &when;
  return f;
}

// A value a resumed run may change: it only places the shot or starts the
// base at time zero, or it is a limit of the run.
ParamField mayChange(ParamField f) {
  f.same_on_resume = false;
  return f;
}

// The two values of a restitution law on one line.
void addSurface(ParamTable& t, const std::string& key, int line, RestitutionDef& r) {
  t.push_back(real(key + ".restitution", line, r.coefficient));
  t.push_back(real(key + ".threshold", line, r.threshold));
}

// The lines a chamber file shares with the other chamber's, from the base
// motion (line 2) to the top (line 6).
void addMotionAndSurfaces(ParamTable& t, const std::string& file, ChamberDef& c) {
  t.push_back(real(file + ".amplitude", 2, c.amplitude));
  t.push_back(real(file + ".period", 2, c.period));
  t.push_back(real(file + ".gravity", 3, c.gravity));
  addSurface(t, file + ".base", 4, c.base);
  addSurface(t, file + ".wall", 5, c.wall);
  addSurface(t, file + ".top", 6, c.top);
}

// The shared lines after the chamber's own: tolerance, base start, maps.
void addStartAndMaps(ParamTable& t, const std::string& file, int line, ChamberDef& c) {
  t.push_back(real(file + ".tolerance", line, c.tolerance));
  t.push_back(mayChange(real(file + ".base_start", line + 1, c.base_start)));
  t.push_back(mayChange(integer(file + ".base_direction", line + 1, c.base_direction)));
  t.push_back(integer(file + ".maps", line + 2, c.maps));
}

// A colour of n components (red, green, blue and alpha) on one line.
void addColour(ParamTable& t, const std::string& key, int line, double* rgba, int n) {
  const char* const names[4] = {".red", ".green", ".blue", ".alpha"};
  for (int k = 0; k < n; ++k) t.push_back(real(key + names[k], line, rgba[k]));
}

// Reads the file through the table of a fresh definition, sets the values
// the settings give for its keys, and refuses it unless the definition is
// valid. A setting whose text is no value of its key's kind is refused like
// a value of the file (the batch programs check the settings before).
template <class Def, class MakeTable>
Def read(const char* filename, Def def, MakeTable make_table, const ParamSettings& settings) {
  ParamFile file(filename);
  const ParamTable table = make_table(def);
  file.read(table);
  std::string note;
  bool set = true;
  for (const ParamSetting& s : settings) {
    const ParamField* field = findField(table, s.key);
    if (field == nullptr) continue;
    set = setField(*field, s.value) && set;
    note += (note.empty() ? " with --set " : " ") + s.key + "=" + s.value;
  }
  file.require(set && isValid(def), note);
  file.close();
  return def;
}

}  // namespace

ParamTable runTable(RunDef& d) {
  return {mayChange(integer("par.restart", 1, d.restart)),
          mayChange(word("par.state_file", 1, d.state_file, d.restart)),
          real("par.step", 2, d.step),
          mayChange(integer("par.event_limit", 3, d.event_limit)),
          mayChange(real("par.time_limit", 4, d.time_limit))};
}

ParamTable shotTable(ShotDef& d) {
  ParamTable t{integer("shot.count", 1, d.count),
               real("shot.diameter", 1, d.diameter),
               mayChange(real("shot.packing", 2, d.packing)),
               mayChange(real("shot.temperature", 2, d.temperature)),
               mayChange(real("shot.spin", 2, d.spin))};
  addSurface(t, "shot", 3, d.restitution);
  t.push_back(real("shot.tolerance", 4, d.tolerance));
  t.push_back(optionalReal("shot.rebound", 5, d.rebound));
  return t;
}

ParamTable boxTable(BoxDef& d) {
  ParamTable t{real("box.half_x", 1, d.half_x),
               real("box.half_y", 1, d.half_y),
               real("box.height", 1, d.chamber.height)};
  addMotionAndSurfaces(t, "box", d.chamber);
  addStartAndMaps(t, "box", 7, d.chamber);
  t.push_back(integer("box.cells_x", 10, d.cells_x));
  t.push_back(integer("box.cells_y", 10, d.cells_y));
  t.push_back(optionalReal("box.base_rebound", 11, d.chamber.base_rebound));
  return t;
}

ParamTable cylinderTable(CylinderDef& d) {
  ParamTable t{real("cyl.radius", 1, d.radius), real("cyl.height", 1, d.chamber.height)};
  addMotionAndSurfaces(t, "cyl", d.chamber);
  t.push_back(real("cyl.wall_rebound", 7, d.wall_rebound));
  addStartAndMaps(t, "cyl", 8, d.chamber);
  t.push_back(integer("cyl.rings", 11, d.rings));
  t.push_back(optionalReal("cyl.base_rebound", 12, d.chamber.base_rebound));
  return t;
}

ParamTable shotDrawTable(ShotDrawDef& d) {
  ParamTable t{integer("shotGL.detail", 1, d.detail),
               real("shotGL.colour_height", 2, d.colour_height)};
  addColour(t, "shotGL.bottom", 3, d.bottom, 3);
  addColour(t, "shotGL.top", 4, d.top, 3);
  addColour(t, "shotGL.marked", 5, d.marked, 3);
  return t;
}

ParamTable boxDrawTable(BoxDrawDef& d) {
  ParamTable t{real("boxGL.height", 1, d.height)};
  addColour(t, "boxGL.base", 2, d.base, 4);
  addColour(t, "boxGL.wall", 3, d.wall, 4);
  return t;
}

ParamTable cylinderDrawTable(CylinderDrawDef& d) {
  ParamTable t{integer("cylGL.facets", 1, d.facets), integer("cylGL.bands", 2, d.bands)};
  addColour(t, "cylGL.base", 3, d.base, 4);
  addColour(t, "cylGL.wall", 4, d.wall, 4);
  return t;
}

ParamTable viewTable(ViewDef& d, bool with_angles) {
  ParamTable t{real("parGL.nearest", 1, d.nearest),
               real("parGL.farthest", 1, d.farthest),
               real("parGL.target_height", 2, d.target_height)};
  if (with_angles) {
    t.push_back(integer("parGL.turn", 3, d.turn));
    t.push_back(integer("parGL.tilt", 3, d.tilt));
  }
  return t;
}

std::string formatParamFile(const ParamTable& table) {
  std::string text;
  int line = table.empty() ? 0 : table.front().line;
  const char* separator = "";
  for (const ParamField& field : table) {
    // An optional value the definition leaves at its default has no line.
    if (field.optional && std::isnan(*field.real)) continue;
    if (field.line != line) {
      text += "\n";
      line = field.line;
      separator = "";
    }
    if (!fieldInUse(field)) continue;
    text += separator;
    separator = " ";
    text += fieldText(field);
  }
  return text + "\n";
}

bool setParam(const ParamTable& table, const std::string& key, const std::string& text) {
  const ParamField* field = findField(table, key);
  return field != nullptr && setField(*field, text);
}

RunDef readRunDef(const char* filename, const ParamSettings& settings) {
  return read(filename, RunDef{}, runTable, settings);
}

ShotDef readShotDef(const char* filename, const ParamSettings& settings) {
  ShotDef def;
  def.source = filename;
  return read(filename, def, shotTable, settings);
}

BoxDef readBoxDef(const char* filename, const ParamSettings& settings) {
  BoxDef def;
  def.source = filename;
  return read(filename, def, boxTable, settings);
}

CylinderDef readCylinderDef(const char* filename, const ParamSettings& settings) {
  CylinderDef def;
  def.source = filename;
  return read(filename, def, cylinderTable, settings);
}

RunDef readRunDef(const char* filename) { return readRunDef(filename, {}); }
ShotDef readShotDef(const char* filename) { return readShotDef(filename, {}); }
BoxDef readBoxDef(const char* filename) { return readBoxDef(filename, {}); }
CylinderDef readCylinderDef(const char* filename) { return readCylinderDef(filename, {}); }

ShotDrawDef readShotDrawDef(const char* filename) {
  return read(filename, ShotDrawDef{}, shotDrawTable, {});
}

BoxDrawDef readBoxDrawDef(const char* filename) {
  return read(filename, BoxDrawDef{}, boxDrawTable, {});
}

CylinderDrawDef readCylinderDrawDef(const char* filename) {
  return read(filename, CylinderDrawDef{}, cylinderDrawTable, {});
}

ViewDef readViewDef(const char* filename, bool with_angles) {
  return read(filename, ViewDef{}, [with_angles](ViewDef& d) { return viewTable(d, with_angles); },
              {});
}

ParamTable simulationTable(SimulationDefs& defs, ChamberKind chamber) {
  ParamTable table = runTable(defs.run);
  for (ParamTable part : {shotTable(defs.shot), chamber == ChamberKind::kBox
                                                    ? boxTable(defs.box)
                                                    : cylinderTable(defs.cylinder)}) {
    table.insert(table.end(), part.begin(), part.end());
  }
  return table;
}

SimulationDefs readSimulationDefs(const Program& program, const ParamSettings& settings) {
  SimulationDefs defs;
  defs.run = readRunDef("ini/par.ini", settings);
  defs.shot = readShotDef("ini/shot.ini", settings);
  if (program.chamber == ChamberKind::kBox) {
    defs.box = readBoxDef(program.chamber_file, settings);
  } else {
    defs.cylinder = readCylinderDef(program.chamber_file, settings);
  }
  return defs;
}

bool checkSetting(ChamberKind chamber, const ParamSetting& setting) {
  SimulationDefs scratch;
  const ParamTable table = simulationTable(scratch, chamber);
  const ParamField* field = findField(table, setting.key);
  return field != nullptr && setField(*field, setting.value);
}
