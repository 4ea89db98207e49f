#include "paramFile.h"

#include <cmath>
#include <iostream>
#include <limits>

#include "lifecycle.h"

ParamFile::ParamFile(const char* filename)
    : is_(filename), name_(filename), valid_(true) {
  if (!is_.is_open()) reportFailure();
}

ParamFile& ParamFile::operator>>(int& value) {
  is_ >> value;
  return *this;
}

ParamFile& ParamFile::operator>>(double& value) {
  is_ >> value;
  // The stream refuses "nan" and "inf" already; this also keeps out any
  // non-finite value a platform's number parser might let through.
  if (is_ && !std::isfinite(value)) valid_ = false;
  return *this;
}

ParamFile& ParamFile::operator>>(std::string& word) {
  is_ >> word;
  return *this;
}

void ParamFile::endLine() {
  // At the end of the file there is nothing to discard (a last line without
  // newline); ignoring there would mark the stream failed.
  if (is_.good()) is_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
}

void ParamFile::require(bool condition) {
  if (!condition) valid_ = false;
}

void ParamFile::close() {
  // A failed read sets failbit; reaching the end of the file after the last
  // value (a last line without newline) only sets eofbit and is accepted.
  if (is_.fail() || !valid_) reportFailure();
  is_.close();
}

void ParamFile::reportFailure() const {
  std::cerr << "Error reading " << name_ << std::endl;
  lifecycle::exitNow(1);
}
