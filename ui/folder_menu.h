// The update set folder as a window offers it: the system menu's entry "Update set folder:
// FOLDER..." that names the folder in use and opens a folder chooser. The program's entry
// point installs the service that knows, checks and switches the folder; a host offers the
// entry only while one is installed and adds nothing but its native folder chooser.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ui/dialog_host.h"

namespace ui {

// What became of a folder the user chose.
struct FolderChoice {
  bool used = false;    // it is the update set folder now
  std::string message;  // used: a note (it could not be kept); not used: why not; empty: none
};

// A folder chooser: the folder chosen, or nothing when the user cancelled. `start` is the
// folder it opens at.
using FolderChooser = std::function<std::optional<std::string>(const std::string& start)>;

struct UpdateSetFolderService {
  std::function<std::string()> folder;                         // the folder in use
  std::function<FolderChoice(const std::string& folder)> use;  // checks and switches
  // Said once when the main window has opened: the folder wanted at the start could not be
  // used (the setting names a missing folder, ...). Empty: nothing to say.
  std::string startProblem;
  // A chooser in place of the host's native one (tests); empty: the host's.
  FolderChooser chooser;
};

// An empty service (no `folder` function) removes it.
void setUpdateSetFolderService(UpdateSetFolderService service);
const UpdateSetFolderService& updateSetFolderService();

// The entry's text: "Update set folder: FOLDER...", a long folder shortened in its middle
// ("C:\Users\tech\…\zelupdate") to at most `maxFolderChars` characters, and the menu's
// mnemonic character "&" doubled so that it shows as itself.
std::string updateSetFolderMenuText(const std::string& folder, size_t maxFolderChars = 48);

// The entry was chosen: the chooser, then the service's check; a folder that cannot be used
// is said in a box that offers the chooser again. Nothing changes on Cancel.
void chooseUpdateSetFolder(DialogWindow& window, const FolderChooser& hostChooser);

// The main window has opened: the service's start problem, if any, is said once in a box
// that offers the chooser.
void sayUpdateSetFolderProblem(DialogWindow& window, const FolderChooser& hostChooser);

}  // namespace ui
