// Feeds arbitrary server bytes to the Telnet / COM-PORT decoder, split at the positions the
// first byte picks, and checks that data survives an encode / decode round trip.
// fuzz-links: zel_serial_rfc2217 zel_platform
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "serial/rfc2217/rfc2217_codec.h"

using namespace serial::rfc2217;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 16;
  const bool binary = (data[0] & 0x80) == 0;
  ++data;
  --size;

  TelnetDecoder decoder;
  decoder.setServerBinary(binary);
  for (size_t offset = 0; offset < size; offset += chunk) {
    TelnetDecoder::Output out;
    const size_t length = size - offset < chunk ? size - offset : chunk;
    decoder.feed(data + offset, length, out);
    if (out.events.size() != out.dataBefore.size()) std::abort();
    for (size_t i = 0; i < out.events.size(); ++i) {
      if (out.dataBefore[i] > out.data.size()) std::abort();
      if (i > 0 && out.dataBefore[i] < out.dataBefore[i - 1]) std::abort();
      if (out.events[i].value.size() > kMaxSubnegotiationBytes) std::abort();
    }
    if (out.data.size() > length) std::abort();
  }

  // Whatever the data, what is encoded comes back unchanged.
  std::vector<uint8_t> wire;
  appendData(wire, data, size, binary);
  TelnetDecoder roundTrip;
  roundTrip.setServerBinary(binary);
  TelnetDecoder::Output back;
  roundTrip.feed(wire.data(), wire.size(), back);
  if (back.data != std::vector<uint8_t>(data, data + size) || !back.events.empty()) std::abort();
  return 0;
}
