// zelupdate explain [--decimal] CODE: what a result code of the engine, the configuration
// file or its check means, with each part of a composite code taken apart.
#include <cstdio>
#include <string>

#include "cli/command.h"
#include "cli/command_options.h"
#include "flash/result_meaning.h"
#include "serial/com_ports.h"

namespace {

class ExplainCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    app.add_flag("--decimal", m_decimal, "CODE is in decimal, as check prints it");
    app.add_option("CODE", m_text, "in hex as status lines show it (20113, FFFF)")
        ->type_name("")
        ->required();
  }

  std::string check(const CommonOptions&) override {
    if (m_text.empty()) return "no code given";
    // A sign on a hex code, or anything else that is no number of the form asked for.
    if (!parseResultCode(m_text, m_decimal, m_code)) {
      return "not a result code in " + std::string(m_decimal ? "decimal" : "hex") + ": '" +
             serial::printablePortName(m_text) + "'";
    }
    return std::string();
  }

  int run(const CommonOptions&) override {
    const std::string explanation = explainResult(m_code);
    if (explanation.empty()) {
      std::printf("%s (decimal %d): not a result code of zelupdate\n", resultHex(m_code).c_str(),
                  m_code);
      // A stage of a chunk with a code that stage never reports: both parts named.
      std::fputs(explainStageMisread(m_code).c_str(), stdout);
      // "check" prints its result in decimal: say so when the digits are a code read that way.
      int32_t asDecimal = 0;
      if (!m_decimal && parseResultCode(m_text, true, asDecimal) &&
          !resultMeaning(asDecimal).empty()) {
        std::printf("read as decimal (--decimal), %s is %s: %s\n", m_text.c_str(),
                    resultHex(asDecimal).c_str(), resultMeaning(asDecimal).c_str());
      }
      return kExitFailed;
    }
    std::fputs(explanation.c_str(), stdout);
    return kExitOk;
  }

 private:
  bool m_decimal = false;
  std::string m_text;
  int32_t m_code = 0;
};

}  // namespace

std::unique_ptr<Command> makeExplainCommand() {
  return std::make_unique<ExplainCommand>();
}
