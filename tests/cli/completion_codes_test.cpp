// The bash completion offers `zelupdate explain` exactly the plain result codes that the
// program explains, so that a code added to the table is not left out of the completion.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "flash/result_meaning.h"

namespace {

TEST(Completion, offers_explain_every_plain_result_code) {
  std::ifstream file(ZEL_COMPLETION_FILE);
  ASSERT_TRUE(file) << ZEL_COMPLETION_FILE;
  std::stringstream text;
  text << file.rdbuf();
  // The codes follow the printf of _zelupdate_codes, up to the closing brace.
  const std::string script = text.str();
  const size_t start = script.find("_zelupdate_codes() {");
  ASSERT_NE(start, std::string::npos);
  const std::string body = script.substr(start, script.find('}', start) - start);
  std::set<std::string> offered;
  const std::regex code(R"(\b[0-9A-F]+\b)");
  for (auto it = std::sregex_iterator(body.begin(), body.end(), code); it != std::sregex_iterator();
       ++it)
    offered.insert(it->str());

  std::vector<std::string> missing;
  for (const ResultCodeInfo& info : resultCodeTable())
    if (offered.erase(resultHex(info.code)) == 0) missing.push_back(resultHex(info.code));
  EXPECT_EQ(missing, std::vector<std::string>{}) << "codes of the table the completion lacks";
  EXPECT_EQ(offered, std::set<std::string>{}) << "codes the completion offers beyond the table";
}

}  // namespace
