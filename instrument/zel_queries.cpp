// The instrument queries: identification, hardware word, update mode, the wait for a
// rebooted instrument, the B1 DSP power-on and the hand-over to the update sequences.
#include <cstring>
#include <functional>
#include <string>

#include "dsp/option_update.h"
#include "flash/processor_update.h"
#include "flash/programming_link.h"
#include "instrument/answer_parsing.h"
#include "instrument/command_text.h"
#include "instrument/zel.h"
#include "platform/clock.h"
#include "run/run_progress.h"
#include "run/run_state.h"

namespace {

constexpr const char* kNoError = "NO_ERROR";
constexpr const char* kError = "ERROR";

// Bits 16 and 17 of the hardware word: the processor board's memory extension.
constexpr uint32_t kMemoryExtensionBits = 0x30000;
// From this version on the board information tells about the memory extension.
constexpr int32_t kFirstVersionWithBoardInfo = 490;

// Text of an empty error queue, in the upper-cased error answer.
constexpr const char* kQueueEmptyText = "NO ERROR";

// The update sequences speak their own protocol over the port and notice a cancel at their
// own pumps, where they stop cleanly. While they run, the port's wait hook only serves the
// window: a read of theirs abandoned half-way would make them send a packet again.
class EventsOnlyWhileSequenceRuns {
 public:
  explicit EventsOnlyWhileSequenceRuns(CComm& port) : m_port(port), m_saved(port.m_waitHook) {
    if (m_saved) {
      port.m_waitHook = [hook = m_saved] {
        hook();
        return false;
      };
    }
  }
  ~EventsOnlyWhileSequenceRuns() { m_port.m_waitHook = m_saved; }
  EventsOnlyWhileSequenceRuns(const EventsOnlyWhileSequenceRuns&) = delete;
  EventsOnlyWhileSequenceRuns& operator=(const EventsOnlyWhileSequenceRuns&) = delete;

 private:
  CComm& m_port;
  std::function<bool()> m_saved;
};

}  // namespace

int32_t CZel::readSwVersion() {
  TraceScope scope(&m_trace, "readSwVersion");
  char answer[kZelAnswerCapacity + 1];
  uint32_t length = 0;
  bool ok = false;
  if (queryCommand(kCmdIdn, answer, length, kZelAnswerCapacity)) {
    idnString.assign(answer, length);
    const instrument::IdentificationScan scan = instrument::parseIdentification(idnString);
    // The model is named as soon as it is recognised, also when its version is unreadable.
    if (scan.model == instrument::InstrumentModel::Zel) deviceName = kDeviceNameZel;
    if (scan.model == instrument::InstrumentModel::Lum) deviceName = kDeviceNameLum;
    int32_t version = 0;
    if (scan.model != instrument::InstrumentModel::Unknown && scan.swVersion(version)) {
      m_serialNo = scan.version.serialNo;
      m_swVersion = version;
      ok = true;
    }
  }
  traceLeave(scope, "result = %s {idnString=<%s>}", ok ? kNoError : kError,
             instrument::printable(idnString).c_str());
  return ok ? 0 : 1;
}

int32_t CZel::readHwInfo() {
  TraceScope scope(&m_trace, "readHwInfo");
  char answer[kZelAnswerCapacity + 1];
  uint32_t length = 0;
  if (!queryCommand(kCmdReadInfoData, answer, length, kZelAnswerCapacity)) {
    traceLeave(scope, "result = %s, Wert von hwInfo 0x%X ", kError, static_cast<unsigned>(hwInfo));
    return 1;
  }
  int32_t word = 0;
  if (!instrument::parseHardwareWord(std::string_view(answer, length), word)) {
    // A number wider than the 32-bit word is no hardware word; taking any part of it
    // would report options and a memory extension that nobody knows of.
    traceError(scope, "hardware word out of range <%s>", instrument::printable(answer).c_str());
    traceLeave(scope, "result = %s, Wert von hwInfo 0x%X ", kError, static_cast<unsigned>(hwInfo));
    return 1;
  }
  hwInfo = word;

  // Newer firmware reports the memory extension only in the board information.
  if ((static_cast<uint32_t>(hwInfo) & kMemoryExtensionBits) == 0 &&
      m_swVersion >= kFirstVersionWithBoardInfo &&
      queryCommand(kCmdBoardInfo, answer, length, kZelAnswerCapacity)) {
    int64_t board = 0;
    if (instrument::parseBoardNumber(std::string_view(answer, length), board)) {
      m_boardNumber = board;
      if (board > instrument::kLastBoardWithoutMemoryExtension)
        hwInfo = static_cast<int32_t>(static_cast<uint32_t>(hwInfo) | kMemoryExtensionBits);
    }
  }
  traceLeave(scope, "result = %s, Wert von hwInfo 0x%X ", kNoError, static_cast<unsigned>(hwInfo));
  return 0;
}

int32_t CZel::read_SwVersion() {
  TraceScope scope(&m_trace, "read_SwVersion");
  if (readSwVersion() != 0) return 1;
  const int32_t failed = readHwInfo();
  traceLeave(scope, "result = %s", failed ? kError : kNoError);
  return failed ? 1 : 0;
}

int32_t CZel::setUpdateModeOn() {
  TraceScope scope(&m_trace, "setUpdateModeOn");
  char command[sizeof "SENSE:SWUP\r\n"];
  std::memcpy(command, kCmdUpdateMode, sizeof command);
  constexpr uint32_t kCapacity = 128;
  char answer[kCapacity + 1];
  uint32_t length = kCapacity;
  const bool sent = executeCommand(command, answer, length) != 0;
  traceLeave(scope, "result = %s", sent ? kNoError : kError);
  return sent ? 0 : 1;
}

int32_t CZel::isZelInUpdateMode() {
  TraceScope scope(&m_trace, "isZelInUpdateMode");
  if (isTargetReady(m_comm) == 0) return 1;
  platform::sleepMs(kUpdateModeRetestMs);
  return isTargetReady(m_comm) == 0 ? 1 : 0;
}

int32_t CZel::getDeviceAnswer(int32_t seconds) {
  TraceScope scope(&m_trace, "getDeviceAnswer");
  char errorAnswer[kZelAnswerCapacity + 1] = "";
  char answer[kZelAnswerCapacity + 1];
  uint32_t length = 0;
  int32_t errorQueries = 0;
  const uint64_t limitMs = seconds > 0 ? static_cast<uint64_t>(seconds) * 1000u : 0u;
  const uint32_t start = platform::tickCount();
  bool answered = false;
  // The bound goes to the front ends, which count it down. The wait serves their events
  // between the queries and, through the port's wait hook, while a query waits for its
  // answer; a cancel ends it as unanswered.
  beginBoundedWait(static_cast<uint32_t>(limitMs));

  for (;;) {
    const uint32_t passStart = platform::tickCount();
    bool lastFailed = false;
    if (queryCommand(kCmdIdn, answer, length, kZelAnswerCapacity)) {
      idnString.assign(answer, length);
      // Empty the error queue that the reboot may have filled; at most kMaxErrorQueries per
      // call, so that an instrument that never reports an empty queue cannot hold us.
      while (std::strstr(errorAnswer, kQueueEmptyText) == nullptr &&
             errorQueries < kMaxErrorQueries) {
        lastFailed = queryCommand(kCmdSystErr, errorAnswer, length, kZelAnswerCapacity) == 0;
        instrument::upperCaseInPlace(errorAnswer);
        ++errorQueries;
      }
      answered = true;
    } else {
      answered = false;
      lastFailed = true;
    }
    if (!lastFailed) break;
    // Nothing reopens a closed port while we wait: the instrument cannot answer there.
    if (!m_comm.isOpen()) break;
    // A query that fails at once (a broken line) is not repeated faster than this.
    const uint32_t passMs = platform::tickCount() - passStart;
    if (passMs < kMinDeviceAnswerPassMs) platform::sleepMs(kMinDeviceAnswerPassMs - passMs);
    if (pumpMessages() != 0) {
      answered = false;
      break;
    }
    if (static_cast<uint64_t>(platform::tickCount() - start) >= limitMs) break;
    boundedWaitProgressed();
  }
  endBoundedWait();

  traceLeave(scope, "result = %s {idnString=<%s>}", answered ? kNoError : kError,
             instrument::printable(idnString).c_str());
  return answered ? 0 : 1;
}

int32_t CZel::powerOnDspB1() {
  addStatusLine("Power on DSP on B1");
  const bool sent = m_comm.writeStringToPort("%s", kCmdQamMode) != 0;
  // The DSP needs the time to come up; a cancel only shortens the wait, the next step
  // of the run sees it.
  waitWithMessages(kDspPowerOnWaitMs);
  setStepStatus(sent ? 1 : 0, 0);
  return sent ? 0 : 1;
}

int32_t CZel::startFlashUpdate(int32_t intermediateBoot, const ProcessorUpdateExtras& extras,
                               ReadBackReport* report) {
  TraceScope scope(&m_trace, "startFlashUpdate");
  addStatusLine("Preparing update environment");
  EventsOnlyWhileSequenceRuns eventsOnly(m_comm);
  return updateProcessorFirmware(kProgrammingConfigFile, m_comm, intermediateBoot, extras, report);
}

int32_t CZel::startFlashUpdate(int32_t optionNumber, int32_t intermediateBoot) {
  TraceScope scope(&m_trace, "startFlashUpdate");
  const std::string name = optionKindName(optionNumber);
  addStatusLine("Update Option(" + (name.empty() ? std::string("NONE") : name) + ")");
  EventsOnlyWhileSequenceRuns eventsOnly(m_comm);
  return updateOption(kProgrammingConfigFile, m_comm, optionNumber, intermediateBoot);
}
