// Reads arbitrary bytes as lines of the service record history: each line through the record
// reader, and every record that reads is written again and must read back the same.
// fuzz-links: zel_app
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/service_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t begin = 0;
  while (begin <= input.size()) {
    size_t end = input.find('\n', begin);
    if (end == std::string::npos) end = input.size();
    ServiceRecord record;
    if (parseRecordLine(input.substr(begin, end - begin), record)) {
      // The writer's output is valid JSON whatever the record holds, and stable.
      const std::string line = serviceRecordJson(record);
      ServiceRecord again;
      if (!parseRecordLine(line, again) || serviceRecordJson(again) != line) std::abort();
    }
    begin = end + 1;
  }
  return 0;
}
