#include "cli/transcript.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "frontends/console/console_host.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

struct EmptyDialog : ui::Dialog {
  const ui::DialogTemplate& dialogTemplate() const override {
    static const ui::DialogTemplate t;
    return t;
  }
};

TEST(TranscriptTest, records_list_changes_and_boxes_in_order_and_replays_to_the_list) {
  TempDir dir;
  resetRunState();
  {
    CTranscript transcript;
    ASSERT_TRUE(transcript.open(dir.file("t.txt")));
    addStatusLine("Connect");
    deleteStatusLine(0);
    addStatusLine("OK    Connect");
    addStatusLine("two\nrows");
    const int devNull = ::open("/dev/null", O_RDWR);
    ui::ConsoleOptions options;
    options.inputFd = options.outputFd = devNull;
    options.assumeYes = true;
    ui::ConsoleHost host(options);
    EmptyDialog dialog;
    host.post([&] {
      ui::messageBox(*dialog.m_window, "Switch off\nnow", ui::MessageBoxKind::Stop);
      ui::messageBox(*dialog.m_window, "Done", ui::MessageBoxKind::Information);
      ui::messageBox(*dialog.m_window, "Go on?", ui::MessageBoxKind::Question);
    });
    host.runModal(dialog);
    ::close(devNull);
    deleteStatusLine(5);  // outside the list: ignored, and not recorded
    clearStatusList();
    addStatusLine("last");
  }
  addStatusLine("after the transcript was closed");
  const std::string expected =
      "+ Connect\n- 0\n+ OK    Connect\n+ two\\nrows\n"
      "! stop Switch off\\nnow\n! info Done\n! question Go on?\n> yes\n"
      "x\n+ last\n";
  EXPECT_EQ(dir.read("t.txt"), expected);

  struct Row {
    std::vector<std::string> lines;
    std::vector<std::string> list;
  };
  const Row rows[] = {
      {{"+ a", "+ b", "- 0", "+ c"}, {"b", "c"}},
      {{"+ a", "x", "+ b"}, {"b"}},
      // Box lines and lines that are not well formed leave the list as it is.
      {{"+ a", "! stop S", "> no", "- 7", "- x", "-", "+"}, {"a"}},
  };
  for (const Row& row : rows) EXPECT_EQ(replayTranscript(row.lines), row.list);
  resetRunState();
}

TEST(TranscriptTest, a_file_that_cannot_be_created_observes_nothing) {
  CTranscript transcript;
  EXPECT_FALSE(transcript.open("/nonexistent-folder/t.txt"));
  addStatusLine("not recorded anywhere");  // must not touch a closed file
  resetRunState();
}

}  // namespace
