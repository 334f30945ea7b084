// Shared set-up of the instrument session tests: the virtual clock, the captured trace,
// a clean run state and a message pump that counts its calls.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "instrument/zel.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/message_pump.h"
#include "run/run_state.h"

namespace zel_testing {

inline TraceTime fixedTime() {
  return {7, 12, 2026, 9, 5, 3};
}

// Widths of the class, operation and kind columns; date and time take 13 and 11.
inline constexpr size_t kClassWidth = 12;
inline constexpr size_t kOperationWidth = 30;
inline constexpr size_t kKindWidth = 10;
inline constexpr size_t kDetailColumn = kClassWidth + kOperationWidth + kKindWidth + 13 + 11;

inline std::string rtrim(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A record as "Class|operation with indentation|kind|detail".
inline std::string compactRecord(const std::string& line) {
  if (line.size() < kDetailColumn) return "short record: " + line;
  std::string detail = line.substr(kDetailColumn);
  if (!detail.empty() && detail.back() == '\n') detail.pop_back();
  std::string kind = rtrim(line.substr(kClassWidth + kOperationWidth, kKindWidth));
  while (!kind.empty() && kind.front() == ' ') kind.erase(0, 1);
  return rtrim(line.substr(0, kClassWidth)) + "|" +
         rtrim(line.substr(kClassWidth, kOperationWidth)) + "|" + kind + "|" + detail;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traceDepth = 0;
    resetRunState();
    deviceName = kDeviceNameUnknown;
    setTraceTimeSource(fixedTime);
    platform::setDebugOutputSink([this](const char* text) { lines.push_back(text); });
    platform::setMessagePumpHook([this] {
      ++pumps;
      return false;
    });
  }

  void TearDown() override {
    if (zel.m_comm.isOpen()) zel.m_comm.close();
    platform::setMessagePumpHook(nullptr);
    platform::setDebugOutputSink(nullptr);
    setTraceTimeSource(nullptr);
    traceDepth = 0;
    deviceName = kDeviceNameUnknown;
    resetRunState();
  }

  uint64_t nowMs() { return clock.nowMicros() / 1000; }

  std::vector<std::string> records() const {
    std::vector<std::string> out;
    for (const std::string& line : lines) out.push_back(compactRecord(line));
    return out;
  }

  // Records whose compact form contains the text.
  int countRecords(const std::string& text) const {
    int n = 0;
    for (const std::string& record : records())
      if (record.find(text) != std::string::npos) ++n;
    return n;
  }

  platform::VirtualClock clock;
  platform::ScopedClock scopedClock{clock};
  std::vector<std::string> lines;
  int pumps = 0;
  CZel zel;
};

}  // namespace zel_testing
