// The recorder's end of a Run: which outcome and result code the record takes from how the
// run ended, and that it is handed over once with what the run sent.
#include <gtest/gtest.h>

#include "app/run_record.h"
#include "flash/result_codes.h"

namespace {

TEST(RunRecorder, the_end_of_a_run_decides_outcome_and_result) {
  struct Row {
    const char* name;
    RunEnd end;
    const char* outcome;
    int32_t result;
    const char* meaning;
  };
  const std::vector<std::string> failedStep = {"OK    Autoconnect with ZEL",
                                               "ERROR Delete flash (414)"};
  const Row rows[] = {
      {"success drops the codes of retried steps",
       {true, false, false, "", failedStep, 0x413},
       "success",
       0,
       ""},
      {"a cancel records FFFF whatever failed",
       {false, true, false, "", failedStep, 0x413},
       "cancelled",
       kResultCancelled,
       ""},
      {"the first failure noted wins over the lines",
       {false, false, false, "", failedStep, 0x416},
       "failed",
       0x416,
       ""},
      {"else the first line with a code",
       {false, false, false, "", failedStep, 0},
       "failed",
       0x414,
       ""},
      {"a refusal with a code keeps its box on one line",
       {false, false, true, "DSP file QAM.BIN\nnot accessible", {}, 0x601},
       "refused",
       0x601,
       "DSP file QAM.BIN not accessible"},
      {"a refusal by policy has no code",
       {false, false, true, "Only Manual mode", {}, 0},
       "refused",
       0,
       ""},
      {"a port that could not be used means its cause",
       {false,
        false,
        false,
        "",
        {"ERROR Autoconnect with ZEL"},
        kResultInstrumentNotReached,
        "rfc2217://rack-4:2001: connection refused"},
       "failed",
       kResultInstrumentNotReached,
       "rfc2217://rack-4:2001: connection refused"},
      {"a cancel keeps the cancel's meaning",
       {false,
        true,
        false,
        "",
        {},
        kResultInstrumentNotReached,
        "rfc2217://rack-4:2001: no answer"},
       "cancelled",
       kResultCancelled,
       ""},
  };
  for (const Row& row : rows) {
    CRunRecorder recorder;
    int handedOver = 0;
    recorder.m_recordRun = [&](ServiceRecord&) { ++handedOver; };
    recorder.begin(true, false, 5);
    recorder.carryBytes(1000);
    RunEnd end = row.end;
    end.bytesSent = 24;
    recorder.finish(end);
    const ServiceRecord& record = recorder.m_record;
    EXPECT_EQ(record.outcome, row.outcome) << row.name;
    EXPECT_EQ(record.result.value_or(-1), row.result) << row.name;
    EXPECT_EQ(record.resultMeaning, row.meaning) << row.name;
    EXPECT_EQ(record.port, "COM5") << row.name;
    ASSERT_TRUE(record.statistics) << row.name;
    EXPECT_EQ(record.statistics->bytesSent, 1024) << row.name;
    EXPECT_EQ(handedOver, 1) << row.name;
    EXPECT_TRUE(recorder.m_written) << row.name;
  }
}

}  // namespace
