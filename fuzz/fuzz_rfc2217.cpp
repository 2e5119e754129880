// The telnet and COM-PORT-OPTION reader fed whatever a server might send. Besides the
// sanitizers: no output larger than the input, no sub-negotiation payload over the
// limit, event positions inside the data, and the same result however the stream is
// split into feeds (the first input byte chooses the split).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/telnet_reader.h"

namespace {

struct Result {
  std::vector<BYTE> data;
  std::vector<platform::TelnetEvent> events;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

Result Decode(const std::uint8_t* in, std::size_t size, std::size_t step) {
  platform::TelnetReader reader;
  Result r;
  for (std::size_t at = 0; at < size; at += step) {
    const std::size_t n = size - at < step ? size - at : step;
    const std::size_t before = r.data.size();
    std::vector<platform::TelnetEvent> events;
    reader.Feed(in + at, n, r.data, events);
    Check(r.data.size() - before <= n);
    for (auto& e : events) {
      Check(e.dataBefore <= r.data.size() - before);
      Check(e.payload.size() <= platform::TelnetReader::kMaxSubnegotiation);
      e.dataBefore += before;
      platform::ComPortMessage message;
      if (e.kind == platform::TelnetEvent::Kind::kSubnegotiation &&
          platform::DecodeComPort(e.payload, message)) {
        Check(message.valueLength + 1 == e.payload.size());
      }
      r.events.push_back(std::move(e));
    }
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t step = 1 + data[0] % 17;
  const Result whole = Decode(data + 1, size - 1, size);
  const Result split = Decode(data + 1, size - 1, step);
  Check(whole.data == split.data);
  Check(whole.events.size() == split.events.size());
  for (std::size_t i = 0; i < whole.events.size(); ++i) {
    const auto& a = whole.events[i];
    const auto& b = split.events[i];
    Check(a.kind == b.kind && a.verb == b.verb && a.option == b.option && a.payload == b.payload &&
          a.dataBefore == b.dataBefore);
  }
  return 0;
}
