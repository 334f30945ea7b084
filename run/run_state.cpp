#include "run/run_state.h"

#include <algorithm>

#include "platform/clock.h"
#include "run/run_progress.h"

uint32_t bytesSent = 0;
uint32_t packetCount = 0;
uint32_t packetErrors = 0;
uint32_t packetRetries = 0;
int32_t cancelRequested = 0;
const char* deviceName = kDeviceNameUnknown;

namespace {

std::vector<std::string> g_lines;
std::vector<StatusListObserver*> g_observers;
uint64_t g_runStartMicros = 0;

}  // namespace

void addStatusListObserver(StatusListObserver* observer) {
  if (observer && std::find(g_observers.begin(), g_observers.end(), observer) == g_observers.end())
    g_observers.push_back(observer);
}

void removeStatusListObserver(StatusListObserver* observer) {
  g_observers.erase(std::remove(g_observers.begin(), g_observers.end(), observer),
                    g_observers.end());
}

int addStatusLine(const std::string& text) {
  g_lines.push_back(text);
  const int index = static_cast<int>(g_lines.size()) - 1;
  for (StatusListObserver* observer : std::vector(g_observers))
    observer->statusLineAdded(index, text);
  return index;
}

int statusLineCount() {
  return static_cast<int>(g_lines.size());
}

std::string statusLineText(int index) {
  if (index < 0 || index >= statusLineCount()) return {};
  return g_lines[static_cast<size_t>(index)];
}

void deleteStatusLine(int index) {
  if (index < 0 || index >= statusLineCount()) return;
  g_lines.erase(g_lines.begin() + index);
  for (StatusListObserver* observer : std::vector(g_observers)) observer->statusLineDeleted(index);
}

void clearStatusList() {
  // A run begins with an empty list: its elapsed time counts from here.
  g_runStartMicros = platform::clock().nowMicros();
  g_lines.clear();
  for (StatusListObserver* observer : std::vector(g_observers)) observer->statusListCleared();
}

const std::vector<std::string>& statusLines() {
  return g_lines;
}

uint64_t runStartMicros() {
  return g_runStartMicros;
}

void resetRunState() {
  clearStatusList();
  bytesSent = 0;
  packetCount = 0;
  packetErrors = 0;
  packetRetries = 0;
  cancelRequested = 0;
}
