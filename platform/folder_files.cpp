// New folders and placed files through the standard library's file system, which speaks to
// each system (mkdir / CreateDirectoryW, link / CreateHardLinkW) the same way.
#include "platform/folder_files.h"

#include <filesystem>
#include <system_error>

#include "platform/path_text.h"

namespace fs = std::filesystem;

namespace platform {

NewFolder createNewFolder(const std::string& path, std::string* why) {
  std::error_code error;
  // create_directory says whether this call made it: false without an error when a folder
  // of that name was there already.
  if (fs::create_directory(pathFromUtf8(path), error)) return NewFolder::Created;
  if (!error || error == std::errc::file_exists) return NewFolder::Exists;
  if (why) *why = error.message();
  return NewFolder::Failed;
}

PlacedFile placeLinkOrCopy(const std::string& from, const std::string& to, std::string* why) {
  std::error_code error;
  // A link to a symbolic link would be a symbolic link again: the file it names is placed.
  const fs::path source = fs::canonical(pathFromUtf8(from), error);
  if (error) {
    if (why) *why = error.message();
    return PlacedFile::Failed;
  }
  const fs::path target = pathFromUtf8(to);
  fs::create_hard_link(source, target, error);
  if (!error) return PlacedFile::HardLink;
  // A name that is taken stays as it is: a copy would not be placed there either.
  if (error == std::errc::file_exists) {
    if (why) *why = error.message();
    return PlacedFile::Failed;
  }
  error.clear();
  if (fs::copy_file(source, target, fs::copy_options::none, error)) return PlacedFile::Copy;
  if (why) *why = error.message();
  return PlacedFile::Failed;
}

}  // namespace platform
