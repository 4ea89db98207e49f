#include "paramFile.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>

#include "lifecycle.h"

ParamFile::Trial* ParamFile::trial_ = nullptr;

ParamFile::Trial::Trial() : failed_(false) { trial_ = this; }

ParamFile::Trial::~Trial() { trial_ = nullptr; }

ParamFile::ParamFile(const char* filename)
    : is_(filename), name_(filename), valid_(true) {
  if (!is_.is_open()) reportFailure();
}

ParamFile& ParamFile::operator>>(int& value) {
  is_ >> value;
  requireEnd();
  return *this;
}

ParamFile& ParamFile::operator>>(double& value) {
  is_ >> value;
  // The stream refuses "nan" and "inf" already; this also keeps out any
  // non-finite value a platform's number parser might let through.
  if (is_ && !std::isfinite(value)) valid_ = false;
  requireEnd();
  return *this;
}

// The stream stops a number at the first character that cannot continue it,
// so "3,924" would read as 3, "0x10" as 0 and an integer "2.5" or "1e6" as 2
// and 1, the rest becoming comment. A number must end where its text ends.
void ParamFile::requireEnd() {
  if (is_.fail() || is_.eof()) return;
  const int next = is_.peek();
  if (next != EOF && std::isspace(next) == 0) valid_ = false;
}

ParamFile& ParamFile::operator>>(std::string& word) {
  is_ >> word;
  return *this;
}

bool ParamFile::readOptional(double& value) {
  if (!is_.good()) return false;
  is_ >> std::ws;
  const int c = is_.peek();
  const bool number = (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
  if (!number) {
    // Only the end of the file was reached (or a word stands there): no
    // failure, nothing read.
    is_.clear(is_.rdstate() & ~std::ios::failbit);
    return false;
  }
  *this >> value;
  return true;
}

void ParamFile::endLine() {
  // At the end of the file there is nothing to discard (a last line without
  // newline); ignoring there would mark the stream failed.
  if (is_.good()) is_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
}

void ParamFile::read(const ParamTable& table) {
  int line = table.empty() ? 0 : table.front().line;
  for (const ParamField& field : table) {
    if (field.line != line) {
      endLine();
      line = field.line;
    }
    if (field.when != nullptr && *field.when == 0) continue;
    if (field.optional) {
      readOptional(*field.real);
    } else if (field.integer != nullptr) {
      *this >> *field.integer;
    } else if (field.real != nullptr) {
      *this >> *field.real;
    } else {
      *this >> *field.word;
    }
  }
  endLine();
}

void ParamFile::require(bool condition, const std::string& note) {
  if (condition) return;
  valid_ = false;
  note_ = note;
}

bool ParamFile::close() {
  // A failed read sets failbit; reaching the end of the file after the last
  // value (a last line without newline) only sets eofbit and is accepted.
  const bool ok = !is_.fail() && valid_;
  if (!ok) reportFailure();
  is_.close();
  return ok;
}

void ParamFile::reportFailure() const {
  if (trial_ != nullptr) {
    trial_->failed_ = true;
    return;
  }
  std::cerr << "Error reading " << name_ << note_ << std::endl;
  lifecycle::exitNow(1);
}

const ParamField* findField(const ParamTable& table, const std::string& key) {
  for (const ParamField& field : table) {
    if (field.key == key) return &field;
  }
  return nullptr;
}

int placeOnLine(const ParamTable& table, std::size_t index) {
  // The fields of one file share the key's first part ("box." of box.ini):
  // a table may join several files.
  const std::string& key = table[index].key;
  const std::string file = key.substr(0, key.find('.') + 1);
  int place = 1;
  for (std::size_t k = 0; k < index; ++k) {
    if (table[k].line == table[index].line && table[k].key.compare(0, file.size(), file) == 0) {
      ++place;
    }
  }
  return place;
}

const char* fieldKind(const ParamField& field) {
  if (field.integer != nullptr) return "integer";
  if (field.real != nullptr) return "real";
  return "word";
}

std::string fieldText(const ParamField& field) {
  if (field.integer != nullptr) return std::to_string(*field.integer);
  if (field.real != nullptr) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", *field.real);
    return text;
  }
  return *field.word;
}

bool setField(const ParamField& field, const std::string& whole) {
  // White space around the value is allowed, as in a file.
  const char* const space = " \t\n\r\v\f";
  const std::size_t first = whole.find_first_not_of(space);
  if (first == std::string::npos) return false;
  const std::string text = whole.substr(first, whole.find_last_not_of(space) + 1 - first);
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  if (field.integer != nullptr) {
    const char* digits = (*begin == '-' || *begin == '+') ? begin + 1 : begin;
    if (*digits < '0' || *digits > '9') return false;
    const long value = std::strtol(begin, &end, 10);
    if (errno != 0 || *end != '\0' || value < INT_MIN || value > INT_MAX) return false;
    *field.integer = static_cast<int>(value);
    return true;
  }
  if (field.real != nullptr) {
    const double value = std::strtod(begin, &end);
    // strtod also reads "inf", "nan" and hexadecimal numbers: none is a
    // value of a parameter file.
    const bool decimal = text.find_first_of("xXnN") == std::string::npos;
    // A number below the smallest normal double is kept as the subnormal it
    // rounds to (the definition's check refuses what it cannot use); one
    // that rounds to zero or beyond the largest double is no value.
    const bool range = errno == 0 || (value != 0.0 && std::isfinite(value));
    if (*end != '\0' || !decimal || !range || !std::isfinite(value)) return false;
    *field.real = value;
    return true;
  }
  if (text.find_first_of(" \t\n\r\v\f") != std::string::npos) return false;
  *field.word = text;
  return true;
}

std::vector<std::pair<std::string, std::string>> tableValues(const ParamTable& table) {
  std::vector<std::pair<std::string, std::string>> values;
  for (const ParamField& field : table) {
    if (fieldInUse(field)) values.emplace_back(field.key, fieldText(field));
  }
  return values;
}
