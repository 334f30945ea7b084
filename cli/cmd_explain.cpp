// zelupdate explain [--decimal] CODE: what a result code of the engine, the configuration
// file or its check means, with each part of a composite code taken apart.
#include <cstdio>
#include <string>

#include "cli/command_line.h"
#include "flash/result_meaning.h"

int commandExplain(const std::vector<std::string>& args, const CommonOptions&) {
  bool decimal = false;
  std::vector<std::string> codes;
  for (const std::string& arg : args) {
    if (arg == "--decimal") {
      decimal = true;
    } else {
      codes.push_back(arg);
    }
  }
  // Anything else that begins with "-" fails to parse: an unknown option, or a sign on a hex
  // code.
  int32_t code = 0;
  if (codes.size() != 1 || !parseResultCode(codes[0], decimal, code)) {
    std::fprintf(stderr,
                 "usage: zelupdate explain [--decimal] CODE   (CODE in hex as status lines show "
                 "it, e.g. 20113, 5101135, FFFF; in decimal with --decimal)\n");
    return kExitUsage;
  }
  const std::string explanation = explainResult(code);
  if (explanation.empty()) {
    std::printf("%s (decimal %d): not a result code of zelupdate\n", resultHex(code).c_str(), code);
    // A stage of a chunk with a code that stage never reports: both parts named.
    std::fputs(explainStageMisread(code).c_str(), stdout);
    // "check" prints its result in decimal: say so when the digits are a code read that way.
    int32_t asDecimal = 0;
    if (!decimal && parseResultCode(codes[0], true, asDecimal) && !resultMeaning(asDecimal).empty())
      std::printf("read as decimal (--decimal), %s is %s: %s\n", codes[0].c_str(),
                  resultHex(asDecimal).c_str(), resultMeaning(asDecimal).c_str());
    return kExitFailed;
  }
  std::fputs(explanation.c_str(), stdout);
  return kExitOk;
}
