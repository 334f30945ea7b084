#include "platform/debug_output.h"

#include <cstdio>

namespace platform {
namespace {

std::FILE* g_file = nullptr;
std::function<void(const char*)> g_sink;

void closeFile() {
  if (g_file && g_file != stderr) std::fclose(g_file);
  g_file = nullptr;
}

}  // namespace

void debugOutput(const char* text) {
  if (g_sink) {
    g_sink(text);
  } else if (g_file) {
    std::fputs(text, g_file);
    std::fflush(g_file);
  }
}

bool setDebugOutputFile(const std::string& path) {
  closeFile();
  g_sink = nullptr;
  if (path.empty()) return true;
  if (path == "-") {
    g_file = stderr;
    return true;
  }
  g_file = std::fopen(path.c_str(), "w");
  return g_file != nullptr;
}

void setDebugOutputSink(std::function<void(const char*)> sink) {
  closeFile();
  g_sink = std::move(sink);
}

}  // namespace platform
