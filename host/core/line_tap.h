// The line's decoder on a live run: a wire tap that feeds every byte and line event to a
// LineDecoder as it crosses, and passes it on to another tap (the wire trace), if any.
#pragma once
#include <mutex>

#include "host/core/line_decoder.h"
#include "platform/comm_port.h"

namespace velmora {

class LineTap final : public platform::WireTap {
 public:
  // `next` (may be null) must outlive the tap; time starts now.
  explicit LineTap(platform::WireTap* next);

  void OnWrite(const BYTE* data, DWORD count) override;
  void OnRead(const BYTE* data, DWORD count) override;
  void OnBreakSent(DWORD ms) override;
  void OnBreakReceived() override;
  void OnSpeed(DWORD bitsPerSecond) override;
  void OnNote(const std::string& text) override;

  // What the line said so far (pending bytes decided: for the end of the run).
  LineSummary Summary();
  // Whether the erase request has gone out so far; decides nothing early, so the run
  // may go on (a request counts once its last byte is in).
  bool EraseReachedSoFar();
  // Whether the line has left the boot ROM's conversation (identification, the monitor's
  // upload into RAM, its start), which changes nothing the device keeps: the flash
  // monitor runs, or something crossed that the decoder cannot place (another device, a
  // garbled line), which is taken to be able to change the device too.
  bool PastBootRom();

 private:
  std::uint64_t Elapsed() const;

  platform::WireTap* next_;
  std::uint64_t startMs_;
  std::mutex mutex_;
  LineDecoder decoder_;
};

}  // namespace velmora
