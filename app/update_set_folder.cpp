#include "app/update_set_folder.h"

#include <filesystem>
#include <system_error>

#include "platform/host_files.h"
#include "platform/path_text.h"
#include "platform/profile.h"
#include "platform/whole_file.h"

namespace {

namespace fs = std::filesystem;

// The files that make a folder an update set: the bootstrap loader and the transfer program
// that every job of the generators names (the images differ by instrument).
constexpr const char* kUpdateSetMarkers[] = {"ROMWRITE.URL", "ROMWRITE.TRA"};

std::string inFolder(const std::string& folder, const char* name) {
  return platform::utf8FromPath(platform::pathFromUtf8(folder) / name);
}

}  // namespace

FolderFacts realFolderFacts() {
  FolderFacts facts;
  facts.state = [](const std::string& folder) {
    std::error_code error;
    const fs::file_status status = fs::status(platform::pathFromUtf8(folder), error);
    if (error || !fs::exists(status)) return FolderState::Missing;
    if (!fs::is_directory(status)) return FolderState::NotAFolder;
    return platform::userMayWrite(folder) ? FolderState::Usable : FolderState::NotWritable;
  };
  facts.same = [](const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(platform::pathFromUtf8(a), platform::pathFromUtf8(b), error) && !error;
  };
  facts.holdsUpdateSet = [](const std::string& folder) {
    for (const char* name : kUpdateSetMarkers) {
      if (platform::hostFileExists(inFolder(folder, name))) return true;
    }
    return false;
  };
  facts.create = [](const std::string& folder, std::string& why) {
    std::error_code error;
    fs::create_directories(platform::pathFromUtf8(folder), error);
    if (error) why = error.message();
    return !error;
  };
  return facts;
}

std::string folderStateText(FolderState state) {
  switch (state) {
    case FolderState::Usable:
      return std::string();
    case FolderState::Missing:
      return "it does not exist";
    case FolderState::NotAFolder:
      return "it is not a folder";
    case FolderState::NotWritable:
      return "it cannot be written (no permission, or a read-only file system)";
  }
  return std::string();
}

StartFolder decideStartFolder(const StartFolderInputs& in, const FolderFacts& facts) {
  StartFolder result;
  if (!in.setting.empty()) {
    const FolderState state = facts.state(in.setting);
    if (state == FolderState::Usable) {
      result.folder = in.setting;
      return result;
    }
    // Nothing is written elsewhere without the user's knowing: the box names the folder
    // that is used instead.
    result.problem = "The update set folder\n" + in.setting + "\nset in [" + kWindowSection + "] " +
                     kUpdateSetFolderKey + "= of " + in.settingsFile +
                     "\ncannot be used: " + folderStateText(state) + ".";
  }
  result.folder = in.current;
  // Started in the program's own folder (an installation folder, which a standard user may
  // not write) without an update set there: the user's own folder.
  const bool inProgramFolder = !in.userFolder.empty() && !in.programFolder.empty() &&
                               facts.same(in.current, in.programFolder);
  if (inProgramFolder && !facts.holdsUpdateSet(in.current)) {
    std::string why;
    FolderState state = FolderState::Missing;
    if (facts.create(in.userFolder, why)) state = facts.state(in.userFolder);
    if (state == FolderState::Usable) {
      result.folder = in.userFolder;
    } else {
      if (!result.problem.empty()) result.problem += "\n\n";
      result.problem += "The update set folder\n" + in.userFolder + "\ncannot be " +
                        (why.empty() ? "used: " + folderStateText(state) : "created: " + why) + ".";
    }
  }
  if (!result.problem.empty()) result.problem += "\nThe window uses\n" + result.folder + ".";
  return result;
}

CUpdateSetFolder::CUpdateSetFolder() {
  m_enter = [](const std::string& folder, std::string& why) {
    std::error_code error;
    fs::current_path(platform::pathFromUtf8(folder), error);
    if (error) why = error.message();
    return !error;
  };
}

std::string CUpdateSetFolder::start(const StartFolderInputs& in) {
  StartFolder decided = decideStartFolder(in, m_facts);
  std::string why;
  if (decided.folder != in.current && !m_enter(decided.folder, why)) {
    if (!decided.problem.empty()) decided.problem += "\n\n";
    decided.problem += "The update set folder\n" + decided.folder + "\ncannot be entered: " + why +
                       ".\nThe window uses\n" + in.current + ".";
    decided.folder = in.current;
  }
  m_folder = decided.folder;
  return decided.problem;
}

ui::FolderChoice CUpdateSetFolder::choose(const std::string& folder) {
  ui::FolderChoice choice;
  if (const FolderState state = m_facts.state(folder); state != FolderState::Usable) {
    choice.message = "The folder\n" + folder +
                     "\ncannot be the update set folder: " + folderStateText(state) + ".";
    return choice;
  }
  std::string why;
  if (!m_enter(folder, why)) {
    choice.message = "The folder\n" + folder + "\ncannot be entered: " + why + ".";
    return choice;
  }
  m_folder = folder;
  choice.used = true;
  if (!platform::writePrivateProfileString(kWindowSection, kUpdateSetFolderKey, folder,
                                           m_settingsFile)) {
    choice.message = "The update set folder is now\n" + folder +
                     "\nbut it cannot be kept for the next start: " + m_settingsFile +
                     " cannot be written.";
  }
  return choice;
}

std::string currentFolderText() {
  std::error_code error;
  const fs::path here = fs::current_path(error);
  return error ? std::string(".") : platform::utf8FromPath(here);
}
