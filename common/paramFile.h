#ifndef PARAMFILE_H
#define PARAMFILE_H

#include <fstream>
#include <string>
#include <utility>
#include <vector>

// One value of a parameter file, as the table of the file's layout lists it
// (parameterFiles.h): its name, its line and where it goes.
struct ParamField {
  std::string key;               // "<file>.<value>", e.g. "box.amplitude"
  int line;                      // line of the layout, from 1
  int* integer = nullptr;        // where the value goes: exactly one of these three
  double* real = nullptr;
  std::string* word = nullptr;
  const int* when = nullptr;     // read only when *when is non-zero; null: always
  bool optional = false;         // a real on a last line a file may leave out (readOptional)
  // A resumed run must hold the value its run record holds (false for the
  // limits of a run and for what only places the shot or starts the base).
  bool same_on_resume = true;
};
using ParamTable = std::vector<ParamField>;

// The field of a key in a table; null when the table has none.
const ParamField* findField(const ParamTable& table, const std::string& key);
// The place of table[index] among the values of its line, from 1.
int placeOnLine(const ParamTable& table, std::size_t index);
// The kind of a field's value: "integer", "real" or "word".
const char* fieldKind(const ParamField& field);
// A field's value as text: an integer in decimal, a real with the 17
// significant digits that give the same double back, a word as it is.
std::string fieldText(const ParamField& field);
// Sets a field from text, all of which (white space around it aside) must
// be one value of its kind: an
// integer is an optional sign and decimal digits within the range of an
// int; a real is a finite number in the usual decimal notation; a word is
// text without white space. False, with the field unchanged, otherwise.
bool setField(const ParamField& field, const std::string& text);
// Whether the file holds the field (a word read only with a non-zero flag
// does not when the flag is 0).
inline bool fieldInUse(const ParamField& field) {
  return field.when == nullptr || *field.when != 0;
}
// The values in use of a table, key by key, as fieldText writes them.
std::vector<std::pair<std::string, std::string>> tableValues(const ParamTable& table);

// The one reading convention of every parameter file.
//
// Values are read in the order of the file's layout, line by line; reading a
// value first skips white space (blank lines included), so a value missing
// from its line is taken from the next one. After the last value of a line,
// endLine() discards everything up to and including the next newline: the
// rest of a line is comment. A value ends at white space or at the end of the
// file: a number followed directly by anything else ("3,924", "0x10", an
// integer written "2.5" or "1e6") is malformed.
//
// A failure (file missing, a value malformed or missing, a value out of its
// range) is remembered and reported by close() with "Error reading " and the
// file name on standard error, and the process ends with status 1.
//
// While a ParamFile::Trial is alive, files are only checked: a failure is
// recorded in the trial instead, close() returns false, and the reading
// class goes on without using the values (the fuzz targets read this way).
class ParamFile {
 public:
  class Trial {
   public:
    Trial();
    ~Trial();
    Trial(const Trial&) = delete;
    Trial& operator=(const Trial&) = delete;
    // True once a file read under this trial has failed.
    bool failed() const { return failed_; }

   private:
    friend class ParamFile;
    bool failed_;
  };
  // True while a trial is alive.
  static bool inTrial() { return trial_ != nullptr; }

  // Opens the file; a file that cannot be opened is reported at once.
  explicit ParamFile(const char* filename);
  ParamFile(const ParamFile&) = delete;
  ParamFile& operator=(const ParamFile&) = delete;

  ParamFile& operator>>(int& value);
  ParamFile& operator>>(double& value);
  // A word: the longest run of characters that are not white space.
  ParamFile& operator>>(std::string& word);

  // An optional value on a line after the last one the layout requires:
  // true when the file holds one more number there (read into value; the
  // caller ends the line); false, value untouched, when the file ends first
  // or the next word is no number (a note after the last line). A number
  // that is malformed or beyond a double fails as any value does.
  bool readOptional(double& value);

  // Discards the rest of the current line, its newline included.
  void endLine();

  // Reads the values of a layout table in its order, ending each line after
  // its last value. Optional values (ParamField::optional) come last.
  void read(const ParamTable& table);

  // Marks the file as bad when a value read is outside its physical range;
  // a note (" with --set box.amplitude=-1") then ends the message.
  void require(bool condition, const std::string& note = std::string());

  // Reports a failure and ends the process (under a trial: records it and
  // returns false); otherwise closes the file and returns true.
  bool close();

  const char* name() const { return name_.c_str(); }

 private:
  // Marks the file as bad unless the value just read is followed by white
  // space or the end of the file.
  void requireEnd();
  // Prints "Error reading <name>" and ends the process (start-up failure);
  // under a trial only records the failure.
  void reportFailure() const;

  static Trial* trial_;

  std::ifstream is_;
  std::string name_;
  std::string note_;  // ends the failure message
  bool valid_;
};

#endif
