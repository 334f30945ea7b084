// The service history as a window shows it: a table of text. The program's entry point
// installs the provider, which reads the history file; a host offers its "History..." entry
// only while one is installed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ui {

struct HistoryTable {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;  // oldest first
  std::string source;  // where the records come from (the history file), for the caption
  std::string error;   // why the history could not be read; empty when it could
};

using HistoryProvider = std::function<HistoryTable()>;

// An empty function removes the provider.
void setHistoryProvider(HistoryProvider provider);
const HistoryProvider& historyProvider();

}  // namespace ui
