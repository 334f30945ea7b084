// The update set folder of the window: where the update files are read and ROMWRITE.CNF is
// written. The window decides it when it starts (the settings file's [Window]
// UpdateSetFolder=, else the user's own folder for a window started in the program's folder,
// else the current folder) and the user may choose another; the folder in use is made the
// process's current folder, so that every file of a run is found and written there.
#pragma once

#include <functional>
#include <string>

#include "ui/folder_menu.h"

inline constexpr const char* kWindowSection = "Window";
inline constexpr const char* kUpdateSetFolderKey = "UpdateSetFolder";

enum class FolderState {
  Usable,       // a folder the user may write in
  Missing,      // nothing under that name (or no way to look)
  NotAFolder,   // a file, a device
  NotWritable,  // no right to write in it, or a read-only file system
};

// What the decision asks of the file system; the window uses realFolderFacts(), tests their
// own answers.
struct FolderFacts {
  std::function<FolderState(const std::string& folder)> state;
  // The two folders are one (whatever their spelling: case, separators, links).
  std::function<bool(const std::string& a, const std::string& b)> same;
  // The folder holds the files of an update set (its bootstrap loader or transfer program).
  std::function<bool(const std::string& folder)> holdsUpdateSet;
  // Creates the folder and those above it; false with `why` when it cannot.
  std::function<bool(const std::string& folder, std::string& why)> create;
};

// The file system itself.
FolderFacts realFolderFacts();

// What the start of the window knows.
struct StartFolderInputs {
  std::string setting;        // [Window] UpdateSetFolder=, absolute; empty when unset
  std::string current;        // the process's current folder, absolute
  std::string programFolder;  // the folder of the program file; empty when unknown
  std::string userFolder;     // platform::userUpdateSetFolder(); empty: none (Linux)
  std::string settingsFile;   // named in the message about a setting that cannot be used
};

struct StartFolder {
  std::string folder;   // the folder the window uses
  std::string problem;  // a box's text: why the folder wanted could not be used; empty: none
};

// The setting when it names a usable folder; else, when the window was started in the
// program's own folder and that folder holds no update set, the user's folder (created);
// else the current folder. A setting or a user's folder that cannot be used is said in
// `problem`, with the folder used instead.
StartFolder decideStartFolder(const StartFolderInputs& in, const FolderFacts& facts);

// "it does not exist", "it is not a folder", ...; empty for a usable folder.
std::string folderStateText(FolderState state);

// The window's update set folder: decided once, then chosen by the user.
class CUpdateSetFolder {
 public:
  std::string m_settingsFile;
  FolderFacts m_facts = realFolderFacts();
  // Makes the folder the process's current folder; false with `why` when it cannot.
  std::function<bool(const std::string& folder, std::string& why)> m_enter;
  // The folder in use.
  std::string m_folder;

  CUpdateSetFolder();

  // Decides the folder, enters it, and gives the problem to be said (empty: none).
  std::string start(const StartFolderInputs& in);
  // A folder the user chose: checked, entered and kept in the settings file. Not used: the
  // message says why, and the folder in use stays.
  ui::FolderChoice choose(const std::string& folder);
};

// The folder a run looks in for its update files: the current folder, absolute, in the
// system's own spelling ("C:\Users\tech\Documents\zelupdate" on Windows).
std::string currentFolderText();
