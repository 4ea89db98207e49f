#include "paramFile.h"

#include <cctype>
#include <cmath>
#include <cstdio>
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

void ParamFile::require(bool condition) {
  if (!condition) valid_ = false;
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
  std::cerr << "Error reading " << name_ << std::endl;
  lifecycle::exitNow(1);
}
