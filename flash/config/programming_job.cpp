#include "flash/config/programming_job.h"

ProgrammingJob programmingJob{};

uint64_t ProgrammingJob::erasedBytes() const {
  uint64_t bytes = 0;
  for (int i = 0; i < eraseCount && i < kMaxJobEntries; ++i) bytes += eraseAreas[i].length;
  return bytes;
}
