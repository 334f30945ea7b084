// The system menu's update set folder entry: its text, and the chooser offered again after a
// folder that cannot be used.
#include "ui/folder_menu.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "tests/support/scripted_host.h"
#include "ui/dialog_template.h"

namespace {

TEST(UpdateSetFolderMenu, names_the_folder_whole_or_shortened_in_its_middle) {
  struct Row {
    std::string folder;
    size_t max;
    std::string text;
  };
  const Row rows[] = {
      {"/home/tech/sets", 48, "Update set folder: /home/tech/sets..."},
      // "&" is the menus' mnemonic mark: doubled, it shows as itself.
      {"D:\\R&D", 48, "Update set folder: D:\\R&&D..."},
      // The end, which tells folders apart, keeps two thirds.
      {"C:\\Users\\tech\\Documents\\zelupdate", 20,
       "Update set folder: C:\\User\xE2\x80\xA6ts\\zelupdate..."},
      // Characters of several bytes count as one and are never cut.
      {"/\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC/ablage/pr\xC3\xBC"
       "fstand",
       14,
       "Update set folder: /\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xE2\x80\xA6r\xC3\xBC"
       "fstand..."},
  };
  for (const Row& row : rows) EXPECT_EQ(ui::updateSetFolderMenuText(row.folder, row.max), row.text);
}

class NoDialog : public ui::Dialog {
 public:
  const ui::DialogTemplate& dialogTemplate() const override { return m_template; }
  ui::DialogTemplate m_template;
};

// A folder that cannot be used is said, and the chooser opens again at it; No leaves the
// folder in use as it was. A start problem is said once.
TEST(UpdateSetFolderMenu, a_folder_that_cannot_be_used_offers_the_chooser_again) {
  testing_support::ScriptedHost host;
  NoDialog dialog;
  testing_support::ScriptedWindow window(host, dialog);
  std::string inUse = "/sets/a";
  std::deque<std::string> picks = {"/missing", "/sets/b"};
  std::vector<std::string> opensAt;
  ui::setUpdateSetFolderService({.folder = [&inUse] { return inUse; },
                                 .use =
                                     [&inUse](const std::string& folder) {
                                       if (folder == "/missing")
                                         return ui::FolderChoice{false, "/missing does not exist"};
                                       inUse = folder;
                                       return ui::FolderChoice{true, ""};
                                     },
                                 .startProblem = "The setting's folder is gone.",
                                 .chooser = {}});
  const ui::FolderChooser chooser = [&](const std::string& start) -> std::optional<std::string> {
    opensAt.push_back(start);
    if (picks.empty()) return std::nullopt;
    std::string pick = picks.front();
    picks.pop_front();
    return pick;
  };
  host.answers = {ui::MessageBoxAnswer::Yes, ui::MessageBoxAnswer::Yes};
  ui::sayUpdateSetFolderProblem(window, chooser);
  ui::sayUpdateSetFolderProblem(window, chooser);
  EXPECT_EQ(inUse, "/sets/b");
  EXPECT_EQ(opensAt, (std::vector<std::string>{"/sets/a", "/missing"}));
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[0].text,
            "The setting's folder is gone.\n\nChoose another update set folder?");
  EXPECT_EQ(host.boxes[1].text, "/missing does not exist\n\nChoose another update set folder?");

  picks = {"/missing"};
  host.answers = {ui::MessageBoxAnswer::No};
  ui::chooseUpdateSetFolder(window, chooser);
  EXPECT_EQ(inUse, "/sets/b");
  EXPECT_EQ(host.boxes.size(), 3u);
  ui::setUpdateSetFolderService({});
}

}  // namespace
