// The service record of one Run of the main dialog: the pieces the dialog fills in while
// it runs (who and what was updated, which files went where) and the summary at its end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/service_record.h"
#include "flash/config/programming_job.h"
#include "platform/host_identity.h"

// The program as records name it: "zelupdate 0.2.0".
std::string programNameAndVersion();

// Host name and user name of this process, as the platform tells them; empty where unknown.
using platform::hostName;
using platform::userName;

// The fields of an identification answer "MAKER,MODEL,SERIAL,VERSION " (blanks and line
// ends around each field removed); empty texts for the fields it lacks.
ServiceRecordInstrument instrumentOfIdentification(const std::string& answer);

// The host files of an update, each with its size and SHA-256 where it can be read: the
// job's loader and transfer program, its program files with their start addresses when
// the processor firmware is updated, and the option's DSP image when one is named.
std::vector<ServiceRecordFile> updateFilesOf(const ProgrammingJob* job, bool processor,
                                             const char* optionImage);

// The code of the first step status line that carries one ("ERROR <text> (<hex>)"); 0
// when no line does.
int32_t firstResultCode(const std::vector<std::string>& steps);
