// Trace records: every traced operation writes an enter record when it starts and a
// leave record when it ends, with error, info and remark records in between. Records
// are single lines in fixed columns (class, indented operation, kind, date, time,
// detail) handed to the debug output channel.
#pragma once

#include <cstdint>
#include <string>

// Record kinds; the numbers are the codes of the log.
enum TraceKind : int {
  kTraceError = 1,
  kTraceWarning = 2,
  kTraceEnter = 3,
  kTraceLeave = 4,
  kTraceInfo = 5,
  kTraceRemark = 6,
};

// Build-time switches; all on.
inline constexpr bool kTraceMaster = true;
inline constexpr bool kTraceErrors = true;
inline constexpr bool kTraceWarnings = true;
inline constexpr bool kTraceEnterLeave = true;
inline constexpr bool kTraceInfos = true;
inline constexpr bool kTraceRemarks = true;
inline constexpr bool kTraceClassColumn = true;
inline constexpr bool kTraceOperationColumn = true;
inline constexpr bool kTraceDateColumn = true;
inline constexpr bool kTraceTimeColumn = true;

// Size of the buffers a record and its detail are formatted into; longer texts are cut.
inline constexpr int kTraceBufferSize = 1024;

// The trace identity that every traced class holds as a member.
struct TraceOwner {
  const char* className;
};

// Number of enabled scopes that are open; indents the operation column.
extern int32_t traceDepth;

// One traced operation. Creating it writes the enter record; its end writes the
// automatic leave record ("-") unless an explicit record closed it before.
class TraceScope {
 public:
  // Enter record with the detail "(no input)".
  TraceScope(const TraceOwner* owner, const char* functionName);
  // Enter record with a printf-formatted detail.
  TraceScope(const TraceOwner* owner, const char* functionName, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  ~TraceScope();
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

  const TraceOwner* owner;
  std::string functionName;
  int32_t closed = 0;
};

void traceLeave(TraceScope& scope, const char* format, ...) __attribute__((format(printf, 2, 3)));
void traceError(TraceScope& scope, const char* format, ...) __attribute__((format(printf, 2, 3)));
void traceInfo(TraceScope& scope, const char* format, ...) __attribute__((format(printf, 2, 3)));
void traceRemark(TraceScope& scope, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Builds the record line of the given kind with the detail inserted unchanged (not used as
// a format) and hands it to the debug output.
void traceWrite(const TraceScope& scope, int kind, const char* detail);

// The kind column text: "* error", "+ enter", ... or "unknown".
const char* traceKindName(int kind);

// Local date and time as the records show them; tests may replace the source.
struct TraceTime {
  int day, month, year, hour, minute, second;
};
using TraceTimeSource = TraceTime (*)();
void setTraceTimeSource(TraceTimeSource source);  // nullptr: the local wall clock
