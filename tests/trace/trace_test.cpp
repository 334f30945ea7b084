#include "trace/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/debug_output.h"

namespace {

TraceTime fixedTime() {
  return {7, 12, 2026, 9, 5, 3};
}

constexpr const char* kStamp = "07.12.2026   09:05:03   ";

// Collects the records of one test and restores the channel afterwards.
class TraceLog : public ::testing::Test {
 protected:
  void SetUp() override {
    traceDepth = 0;
    setTraceTimeSource(fixedTime);
    platform::setDebugOutputSink([this](const char* line) { lines.emplace_back(line); });
  }
  void TearDown() override {
    platform::setDebugOutputSink(nullptr);
    setTraceTimeSource(nullptr);
    traceDepth = 0;
  }

  // The expected record line from its columns.
  static std::string record(const char* cls, const std::string& op, const char* kind,
                            const std::string& detail) {
    char buffer[200];
    std::snprintf(buffer, sizeof buffer, "%-12.12s%-30.30s%-10.10s%s%s\n", cls, op.c_str(), kind,
                  kStamp, detail.c_str());
    return buffer;
  }

  std::vector<std::string> lines;
  const TraceOwner comm{"CComm"};
  const TraceOwner zel{"CZel"};
};

TEST_F(TraceLog, enter_record_has_fixed_columns_and_no_input_detail) {
  { TraceScope scope(&comm, "open"); }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string("CComm       open                          + enter   ") + kStamp +
                          "(no input)\n");
  EXPECT_EQ(lines[1], record("CComm", "open", "- leave", "-"));
}

TEST_F(TraceLog, nested_scopes_indent_by_one_blank_per_level) {
  {
    TraceScope outer(&zel, "autoConnect");
    {
      TraceScope middle(&zel, "open");
      { TraceScope inner(&comm, "open", "size=%lu", 5ul); }
    }
  }
  const std::vector<std::string> expected = {
      record("CZel", "autoConnect", "+ enter", "(no input)"),
      record("CZel", " open", "+ enter", "(no input)"),
      record("CComm", "  open", "+ enter", "size=5"),
      record("CComm", "  open", "- leave", "-"),
      record("CZel", " open", "- leave", "-"),
      record("CZel", "autoConnect", "- leave", "-"),
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(traceDepth, 0);
}

TEST_F(TraceLog, explicit_records_close_the_scope) {
  struct Case {
    void (*write)(TraceScope&, const char*, ...);
    const char* kind;
  };
  const Case cases[] = {
      {traceError, "* error"},
      {traceInfo, "  info"},
      {traceRemark, "* remark"},
      {traceLeave, "- leave"},
  };
  for (const Case& c : cases) {
    lines.clear();
    {
      TraceScope scope(&comm, "readStringFromPort");
      c.write(scope, "%s {noOfReadBytes= %d}", "FALSE", 3);
    }
    ASSERT_EQ(lines.size(), 2u) << c.kind;
    EXPECT_EQ(lines[1], record("CComm", "readStringFromPort", c.kind, "FALSE {noOfReadBytes= 3}"));
  }
}

TEST_F(TraceLog, long_names_are_cut_so_columns_keep_their_place) {
  const TraceOwner longOwner{"AVeryLongClassNameIndeed"};
  traceDepth = 2;  // two scopes already open: the name is indented by two blanks
  { TraceScope scope(&longOwner, "anOperationNameThatIsFarTooLongForTheColumn"); }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 12), "AVeryLongCla");
  EXPECT_EQ(lines[0].substr(12, 30), "  anOperationNameThatIsFarTooL");
  EXPECT_EQ(lines[0].substr(42, 10), "+ enter   ");
}

TEST_F(TraceLog, scope_without_owner_writes_nothing_and_keeps_depth) {
  {
    TraceScope scope(nullptr, "open");
    traceError(scope, "ignored");
    EXPECT_EQ(scope.closed, 0);
    EXPECT_EQ(traceDepth, 0);
  }
  EXPECT_TRUE(lines.empty());
}

TEST_F(TraceLog, depth_never_becomes_negative) {
  auto* first = new TraceScope(&comm, "a");
  auto* second = new TraceScope(&comm, "b");
  traceDepth = 0;  // something reset the counter while both were open
  delete first;
  delete second;
  EXPECT_EQ(traceDepth, 0);
}

TEST_F(TraceLog, oversized_detail_is_cut_and_still_ends_the_line) {
  const std::string huge(5000, 'x');
  {
    TraceScope scope(&comm, "writeBufferToPort");
    traceInfo(scope, "%s", huge.c_str());
  }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].size(), static_cast<size_t>(kTraceBufferSize - 1));
  EXPECT_EQ(lines[1].back(), '\n');
}

TEST_F(TraceLog, detail_is_not_used_as_a_format_twice) {
  {
    TraceScope scope(&comm, "readStringFromPort");
    traceInfo(scope, "%s", "100%s done %n");
  }
  EXPECT_EQ(lines[1], record("CComm", "readStringFromPort", "  info", "100%s done %n"));
}

TEST(TraceKindName, names_every_kind_and_unknown_codes) {
  const std::pair<int, const char*> rows[] = {
      {1, "* error"}, {2, "* warning"}, {3, "+ enter"}, {4, "- leave"},
      {5, "  info"},  {6, "* remark"},  {0, "unknown"}, {7, "unknown"},
  };
  for (const auto& [kind, name] : rows) EXPECT_STREQ(traceKindName(kind), name) << kind;
}

}  // namespace
