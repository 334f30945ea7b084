#include "platform/debug_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/whole_file.h"

namespace platform {
namespace {

std::FILE* g_file = nullptr;
std::function<void(const char*)> g_sink;
int g_writeError = 0;

void closeFile() {
  if (g_file && g_file != stderr && std::fclose(g_file) != 0 && g_writeError == 0) {
    g_writeError = errno;
  }
  g_file = nullptr;
}

}  // namespace

void debugOutput(const char* text) {
  if (g_sink) {
    g_sink(text);
  } else if (g_file && g_writeError == 0) {
    // After the first failure (a full disk) the rest is dropped: the file ends at a
    // complete record, and the failure is reported once.
    if (std::fputs(text, g_file) < 0 || std::fflush(g_file) != 0) g_writeError = errno;
  }
}

bool setDebugOutputFile(const std::string& path, std::string* why) {
  closeFile();
  g_sink = nullptr;
  if (path.empty()) return true;  // a failure of the file just closed stays to be asked for
  g_writeError = 0;
  if (path == "-") {
    g_file = stderr;
    return true;
  }
  g_file = openOutputFile(path, why);
  return g_file != nullptr;
}

std::string debugOutputWriteError() {
  return g_writeError == 0 ? std::string() : std::strerror(g_writeError);
}

void setDebugOutputSink(std::function<void(const char*)> sink) {
  closeFile();
  g_sink = std::move(sink);
}

}  // namespace platform
