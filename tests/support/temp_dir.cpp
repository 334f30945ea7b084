#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/temp_files.h"

namespace testing_support {

TempDir::TempDir(bool enter) {
  if (!platform::createTemporaryFolder("zelupdate-test-", m_path)) std::abort();
  if (enter) {
    m_previousDir = std::filesystem::current_path().string();
    std::filesystem::current_path(m_path);
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!m_previousDir.empty()) std::filesystem::current_path(m_previousDir, ignored);
  std::filesystem::remove_all(m_path, ignored);
}

void TempDir::write(const std::string& name, const std::string& contents) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out << contents;
}

void TempDir::writeSized(const std::string& name, size_t size, unsigned char seed) const {
  std::string contents(size, '\0');
  for (size_t i = 0; i < size; ++i) contents[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  write(name, contents);
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace testing_support
