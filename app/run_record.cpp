#include "app/run_record.h"

#include <algorithm>

#include "flash/result_meaning.h"
#include "platform/host_files.h"
#include "platform/sha256.h"
#include "platform/whole_file.h"

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// One host file as it is on disk now, named as the job or the update names it.
ServiceRecordFile hostFile(const char* role, const std::string& name) {
  ServiceRecordFile file;
  file.role = role;
  file.name = name;
  const std::string path = platform::resolveHostFile(name);
  uint64_t bytes = 0;
  if (!platform::regularFileSize(path, bytes)) return file;
  file.bytes = static_cast<int64_t>(bytes);
  std::string digest;
  if (platform::sha256OfFile(path, digest)) file.sha256 = digest;
  return file;
}

}  // namespace

std::string programNameAndVersion() {
  return std::string("zelupdate ") + ZEL_VERSION;
}

ServiceRecordInstrument instrumentOfIdentification(const std::string& answer) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = answer.find(',', start);
    fields.push_back(trimmed(answer.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  fields.resize(std::max<size_t>(fields.size(), 4));
  ServiceRecordInstrument instrument;
  instrument.maker = fields[0];
  instrument.model = fields[1];
  instrument.serial = fields[2];
  instrument.version = fields[3];
  return instrument;
}

std::vector<ServiceRecordFile> updateFilesOf(const ProgrammingJob* job, bool processor,
                                             const char* optionImage) {
  std::vector<ServiceRecordFile> files;
  if (job != nullptr) {
    const std::string loader = job->bootstrapLoaderFile;
    const std::string transfer = job->transferFile;
    if (!loader.empty() && loader != kNoFile) files.push_back(hostFile("loader", loader));
    if (!transfer.empty() && transfer != kNoFile) files.push_back(hostFile("transfer", transfer));
    for (int i = 0; processor && i < job->programCount && i < kMaxJobEntries; ++i) {
      ServiceRecordFile file = hostFile("program", job->programs[i].fileName);
      file.target = job->programs[i].address;
      files.push_back(file);
    }
  }
  if (optionImage != nullptr) files.push_back(hostFile("option", optionImage));
  return files;
}

int32_t firstResultCode(const std::vector<std::string>& steps) {
  for (const std::string& line : steps) {
    int32_t code = 0;
    if (codeOfStatusLine(line, code)) return code;
  }
  return 0;
}
