#include "flash/config/programming_job.h"

ProgrammingJob programmingJob{};
