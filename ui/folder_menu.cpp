#include "ui/folder_menu.h"

#include <vector>

#include "ui/message_box.h"

namespace ui {
namespace {

constexpr const char* kMenuPrefix = "Update set folder: ";
constexpr const char* kChooseAgain = "\n\nChoose another update set folder?";
// What stands for the middle of a folder too long for the menu.
constexpr const char* kEllipsis = "\xE2\x80\xA6";

UpdateSetFolderService& installed() {
  static UpdateSetFolderService service;
  return service;
}

// The offsets at which the text's characters begin (UTF-8: every byte that is not a
// continuation byte), so that a shortened text never cuts a character in two.
std::vector<size_t> characterStarts(const std::string& text) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  return starts;
}

FolderChooser chooserFor(const FolderChooser& hostChooser) {
  const FolderChooser& own = installed().chooser;
  return own ? own : hostChooser;
}

}  // namespace

void setUpdateSetFolderService(UpdateSetFolderService service) {
  installed() = std::move(service);
}

const UpdateSetFolderService& updateSetFolderService() {
  return installed();
}

std::string updateSetFolderMenuText(const std::string& folder, size_t maxFolderChars) {
  std::string shown = folder;
  const std::vector<size_t> starts = characterStarts(folder);
  if (maxFolderChars >= 5 && starts.size() > maxFolderChars) {
    // The end of a path tells folders apart more than its beginning: it keeps two thirds.
    const size_t tail = (maxFolderChars - 1) * 2 / 3;
    const size_t head = maxFolderChars - 1 - tail;
    shown =
        folder.substr(0, starts[head]) + kEllipsis + folder.substr(starts[starts.size() - tail]);
  }
  std::string text = kMenuPrefix;
  for (char c : shown) {
    if (c == '&') text += '&';
    text += c;
  }
  return text + "...";
}

void chooseUpdateSetFolder(DialogWindow& window, const FolderChooser& hostChooser) {
  const UpdateSetFolderService& service = installed();
  const FolderChooser chooser = chooserFor(hostChooser);
  if (!service.folder || !service.use || !chooser) return;
  std::string start = service.folder();
  for (;;) {
    const std::optional<std::string> chosen = chooser(start);
    if (!chosen || chosen->empty()) return;
    const FolderChoice choice = service.use(*chosen);
    if (choice.used) {
      if (!choice.message.empty())
        window.showMessageBox(choice.message, kMessageBoxCaption, MessageBoxKind::Information);
      return;
    }
    if (window.showMessageBox(choice.message + kChooseAgain, kMessageBoxCaption,
                              MessageBoxKind::Question) != MessageBoxAnswer::Yes) {
      return;
    }
    start = *chosen;
  }
}

void sayUpdateSetFolderProblem(DialogWindow& window, const FolderChooser& hostChooser) {
  UpdateSetFolderService& service = installed();
  if (service.startProblem.empty()) return;
  const std::string problem = std::move(service.startProblem);
  service.startProblem.clear();
  if (window.showMessageBox(problem + kChooseAgain, kMessageBoxCaption, MessageBoxKind::Question) ==
      MessageBoxAnswer::Yes) {
    chooseUpdateSetFolder(window, hostChooser);
  }
}

}  // namespace ui
