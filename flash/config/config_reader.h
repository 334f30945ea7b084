// Reading the programming configuration file into a ProgrammingJob.
#pragma once

#include <string>

#include "flash/config/programming_job.h"

// Results of readProgrammingConfig.
inline constexpr int kConfigReadOk = 0;
inline constexpr int kConfigReadEmpty = -1;        // the file holds no characters at all
inline constexpr int kConfigReadNotReadable = -2;  // cannot be opened, or its first read fails
inline constexpr int kConfigSyntaxError = 1281;    // 0x501

// Clears the whole job, then reads the named file (matched without regard to case) into
// it: the host, target and files sections with their entries in their fixed order, up to
// 10 each of MEMORY, ERASE, PROGRAM and UPLOAD. Returns kConfigReadOk when the file was read
// to its end; kConfigSyntaxError for a token of the wrong kind, a missing argument, an
// eleventh repeated entry, anything after the last entry, a NOERASE anywhere, a read error
// after the first line, or a UART value longer than 9 or a file name longer than 79
// characters (refused, never cut). The counts and derived fields are left at 0 for
// checkProgrammingJob. After a failure the job is partly filled and must not be used, and
// `diagnosis` (when given) says where and why, as "romwrite.cnf:12: MEMORY AM29F080:
// unknown chip type" (file, line, entry and token, reason).
int readProgrammingConfig(ProgrammingJob& job, const std::string& fileName,
                          std::string* diagnosis = nullptr);
