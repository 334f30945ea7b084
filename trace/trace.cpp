#include "trace/trace.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/debug_output.h"
#include "platform/time_text.h"

int32_t traceDepth = 0;

namespace {

TraceTime localWallTime() {
  const platform::CivilTime now = platform::localTime(std::time(nullptr));
  return {now.day, now.month, now.year, now.hour, now.minute, now.second};
}

TraceTimeSource g_timeSource = nullptr;

bool kindEnabled(int kind) {
  switch (kind) {
    case kTraceError:
      return kTraceErrors;
    case kTraceWarning:
      return kTraceWarnings;
    case kTraceEnter:
    case kTraceLeave:
      return kTraceEnterLeave;
    case kTraceInfo:
      return kTraceInfos;
    case kTraceRemark:
      return kTraceRemarks;
    default:
      return true;
  }
}

bool enabled(const TraceScope& scope, int kind) {
  return scope.owner != nullptr && kTraceMaster && kindEnabled(kind);
}

// Appends to a fixed buffer; whatever does not fit is cut.
struct LineBuilder {
  char text[kTraceBufferSize];
  size_t used = 0;

  void append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (used + 1 >= sizeof text) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text + used, sizeof text - used, format, args);
    va_end(args);
    if (n < 0) return;
    used += static_cast<size_t>(n);
    if (used >= sizeof text) used = sizeof text - 1;
  }
};

// Formats the detail of an explicit record and writes it, closing the scope.
void writeFormatted(TraceScope& scope, int kind, const char* format, va_list args) {
  if (!enabled(scope, kind)) return;
  char detail[kTraceBufferSize];
  std::vsnprintf(detail, sizeof detail, format, args);
  traceWrite(scope, kind, detail);
  scope.closed = 1;
}

}  // namespace

void setTraceTimeSource(TraceTimeSource source) {
  g_timeSource = source;
}

const char* traceKindName(int kind) {
  switch (kind) {
    case kTraceError:
      return "* error";
    case kTraceWarning:
      return "* warning";
    case kTraceEnter:
      return "+ enter";
    case kTraceLeave:
      return "- leave";
    case kTraceInfo:
      return "  info";
    case kTraceRemark:
      return "* remark";
    default:
      return "unknown";
  }
}

void traceWrite(const TraceScope& scope, int kind, const char* detail) {
  if (scope.owner == nullptr) return;
  LineBuilder line;
  if (kTraceClassColumn) line.append("%-12.12s", scope.owner->className);
  if (kTraceOperationColumn) {
    const int indent = traceDepth > 1 ? traceDepth - 1 : 0;
    std::string operation(static_cast<size_t>(indent < 30 ? indent : 30), ' ');
    operation += scope.functionName;
    line.append("%-30.30s", operation.c_str());
  }
  line.append("%-10.10s", traceKindName(kind));
  const TraceTime now = g_timeSource ? g_timeSource() : localWallTime();
  if (kTraceDateColumn) line.append("%02d.%02d.%4d   ", now.day, now.month, now.year);
  if (kTraceTimeColumn) line.append("%02d:%02d:%02d   ", now.hour, now.minute, now.second);
  line.append("%s\n", detail && *detail ? detail : "(empty)");
  // A cut record still ends its line.
  if (line.used == sizeof line.text - 1) line.text[line.used - 1] = '\n';
  platform::debugOutput(line.text);
}

TraceScope::TraceScope(const TraceOwner* owner, const char* functionName) : owner(owner) {
  if (!enabled(*this, kTraceEnter)) return;
  this->functionName = functionName ? functionName : "";
  ++traceDepth;
  traceWrite(*this, kTraceEnter, "(no input)");
}

TraceScope::TraceScope(const TraceOwner* owner, const char* functionName, const char* format, ...)
    : owner(owner) {
  if (!enabled(*this, kTraceEnter)) return;
  this->functionName = functionName ? functionName : "";
  char detail[kTraceBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  ++traceDepth;
  traceWrite(*this, kTraceEnter, detail);
}

TraceScope::~TraceScope() {
  if (!enabled(*this, kTraceLeave)) return;
  if (!closed) traceWrite(*this, kTraceLeave, "-");
  if (--traceDepth < 0) traceDepth = 0;
}

#define ZEL_TRACE_RECORD(name, kind)                      \
  void name(TraceScope& scope, const char* format, ...) { \
    va_list args;                                         \
    va_start(args, format);                               \
    writeFormatted(scope, kind, format, args);            \
    va_end(args);                                         \
  }

ZEL_TRACE_RECORD(traceLeave, kTraceLeave)
ZEL_TRACE_RECORD(traceError, kTraceError)
ZEL_TRACE_RECORD(traceInfo, kTraceInfo)
ZEL_TRACE_RECORD(traceRemark, kTraceRemark)
