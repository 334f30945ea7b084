// A fresh temporary folder for one test, removed with everything in it at the end. With
// enter=true the test's current directory is the folder while the object lives (host files
// of an update are read from the current directory).
#pragma once

#include <string>

namespace testing_support {

class TempDir {
 public:
  explicit TempDir(bool enter = true);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  // Path of a file inside the folder.
  std::string file(const std::string& name) const { return m_path + "/" + name; }
  // Writes a file inside the folder (text or binary contents as given).
  void write(const std::string& name, const std::string& contents) const;
  // Writes a file of the given size filled with a repeating byte pattern.
  void writeSized(const std::string& name, size_t size, unsigned char seed = 0) const;
  // The contents of a file inside the folder; empty when it cannot be read.
  std::string read(const std::string& name) const;

 private:
  std::string m_path;
  std::string m_previousDir;
};

}  // namespace testing_support
