#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

TempDir::TempDir(bool enter) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelupdate-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  m_path = pattern;
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
