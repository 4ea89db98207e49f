#include "checkpoint.h"

#include <sstream>

#include "experiment.h"
#include "shot.h"

Checkpoint::Checkpoint(RunRecord start, const Experiment& experiment, Shot& shot,
                       bool continuable)
    : start_(std::move(start)), experiment_(experiment), shot_(shot), continuable_(continuable) {}

Checkpoint::~Checkpoint() {
  RunRecord record = start_;
  experiment_.capture(record);
  for (const auto& part : parts_) part(record);
  record.resumable = continuable_ && experiment_.atStepEnd();
  std::ostringstream text;
  writeRunRecord(text, record);
  shot_.keepRecord(text.str());
}
