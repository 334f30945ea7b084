// The DSP module's commands (0x28 prepare, 0x29 erase, 0x2A write, 0x2C checksum), which
// the transfer program relays to the module.
#include <algorithm>

#include "sim/instrument.h"
#include "sim/target_protocol.h"

namespace sim {
namespace {

constexpr uint32_t kDspMaxWordsPerPacket = 60;

}  // namespace

// The DSP module's four commands, relayed to the module by the transfer program.
void Instrument::commandDsp(const std::vector<uint8_t>& data, Nanos readyAt) {
  const uint8_t command = data[0];
  const uint8_t positive = static_cast<uint8_t>(command + kAnswerOffset);
  const bool available = dspAvailable();
  if (dsp.flash.empty()) dsp.flash.assign(kDspFlashWords, 0xFFFFFFFFu);

  std::vector<uint8_t> answer = {positive};
  switch (command) {
    case kCmdDspPrepare:
      // Switches the module on (a B1 module is otherwise powered only in QAM mode).
      if (!dspFitted()) {
        queueErrorAnswer(readyAt, kErrorBusy);
        return;
      }
      dsp.prepared = true;
      queuePacket(readyAt, answer);
      return;

    case kCmdDspErase: {
      // The module takes its 5 s whatever the outcome; the host waits that long.
      uint32_t status = kDspStatusOk;
      const uint32_t words = le32(data, 1);
      if (!available) {
        status = kDspStatusNoModule;
      } else if (words > kDspFlashWords) {
        status = kDspStatusTooLarge;
      } else if (options.faults.dspEraseFail) {
        fire("dsp-erase-fail");
        status = kDspStatusEraseFailed;
      } else {
        std::fill(dsp.flash.begin(), dsp.flash.begin() + words, 0xFFFFFFFFu);
        dsp.erasedWords = words;
        dsp.writtenWords = 0;
      }
      putLe32(answer, status);
      queuePacket(readyAt + kDspEraseNs, answer);
      return;
    }

    case kCmdDspWrite: {
      const uint32_t count = le32(data, 1);
      uint32_t status = kDspStatusOk;
      if (!available) {
        status = kDspStatusNoModule;
      } else if (count == 0 || count > kDspMaxWordsPerPacket) {
        status = kDspStatusBadCount;
      } else if (dsp.writtenWords + count > dsp.erasedWords) {
        status = kDspStatusNotErased;
      } else {
        for (uint32_t i = 0; i < count; ++i) {
          uint32_t& word = dsp.flash[dsp.writtenWords + i];
          word &= le32(data, 5 + 4 * i);
        }
        dsp.writtenWords += count;
      }
      putLe32(answer, status);
      queuePacket(readyAt + count * kDspWriteNsPerWord, answer);
      return;
    }

    case kCmdDspChecksum: {
      uint32_t sum = 0;
      uint32_t status = kDspStatusOk;
      if (!available) {
        status = kDspStatusNoModule;
      } else {
        for (uint32_t i = 0; i < dsp.erasedWords; ++i) sum += dsp.flash[i];
        if (options.faults.dspChecksumOff) {
          fire("dsp-checksum-off");
          sum += 1 + static_cast<uint32_t>(m_addressRandom.below(0xFFFF));
        }
      }
      putLe32(answer, sum);
      putLe32(answer, status);
      queuePacket(readyAt + kDspChecksumNs, answer);
      return;
    }
  }
}

}  // namespace sim
