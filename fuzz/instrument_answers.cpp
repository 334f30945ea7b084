// Feeds arbitrary answer lines to the parsers of the instrument's answers: the
// identification, the error-queue entry, the hardware word and the board information.
// fuzz-links: zel_instrument
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "instrument/answer_parsing.h"
#include "instrument/command_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view answer(reinterpret_cast<const char*>(data), size);

  const instrument::IdentificationScan idn = instrument::parseIdentification(answer);
  int32_t version = 0;
  if (idn.accepted() && !idn.swVersion(version)) std::abort();
  if (idn.model != instrument::InstrumentModel::Unknown && !idn.makerFound) std::abort();

  const instrument::ErrorQueueScan entry = instrument::scanErrorQueueAnswer(answer);
  if (entry.text.size() > instrument::kErrorTextMax || entry.text.size() > size) std::abort();
  if (entry.textScanned && !entry.numberScanned) std::abort();

  int32_t word = 0;
  instrument::parseHardwareWord(answer, word);
  int64_t board = 0;
  instrument::parseBoardNumber(answer, board);

  instrument::expectsRawBlock(answer);
  if (instrument::printable(answer).size() < size) std::abort();
  return 0;
}
