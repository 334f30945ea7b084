#include "app/port_access.h"

#include <gtest/gtest.h>

namespace {

TEST(PortAccess, the_hint_comes_only_when_every_port_found_is_denied) {
  struct Row {
    const char* name;
    std::vector<const char*> texts;
    bool denied;
  };
  const Row rows[] = {
      {"no port at all: the no-port message says enough", {}, false},
      {"one denied", {"COM1 (access denied)"}, true},
      {"all denied", {"COM1 (access denied)", "COM10 (access denied)"}, true},
      {"one free among denied", {"COM1 (access denied)", "COM2"}, false},
      {"free only", {"COM5"}, false},
      // The marker must end the text, not merely appear in it.
      {"marker not at the end", {"COM1 (access denied) x"}, false},
  };
  for (const Row& row : rows) {
    std::vector<PortListEntry> entries;
    for (const char* text : row.texts) entries.push_back(PortListEntry{text, 1, "/dev/ttyS0"});
    EXPECT_EQ(everyPortDenied(entries), row.denied) << row.name;
  }
}

}  // namespace
