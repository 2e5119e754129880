// The service record of one run, the same in every front end: begun when the run starts
// (stored as `interrupted`, so that a process that dies on the way never reads as a
// success) and finished when it ends, with what the line told about the device.
//
// Begin stores the record on a thread of its own: the begun record waits for the disk
// (one sync, several milliseconds), and the run need not wait for it while the port opens
// and the plug-in gets ready. The first byte the run sends to the device waits for that
// write (FirstWriteGate), so that nothing reaches a KV70 before its record is on the
// disk. Finish waits for it too, then rewrites the record with the outcome.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "host/core/line_decoder.h"
#include "host/core/message_box_text.h"
#include "host/core/service_record.h"
#include "platform/comm_port.h"

namespace velmora {

// Opens the store the records go to. OpenRecordStore (the registry database) by default;
// another store (a depot's shared one) is given to the recorder in its place.
using RecordStoreOpener = std::function<std::unique_ptr<RecordStore>(std::string& error)>;

// What is known when the run starts.
struct RunStart {
  std::string operation;  // the operation's name as the plug-in gives it
  int comPort = 1;
  std::string port;                     // what the COM port is (ComPortTarget)
  std::optional<std::string> firmware;  // the catalogue entry chosen, for an upgrade
  std::string logFile;                  // the file a dump writes, as the page held it
};

// How the run ended.
struct RunEnd {
  std::string result;  // succeeded, failed, cancelled
  int exitStatus = 0;
  LineSummary line;  // what crossed the line
};

// The record's name of an operation: "upgrade", "config", "dump" for the KV70's three
// (by their words), else the name as given, in lower case.
std::string RecordOperation(const std::string& operationName);

// The firmware entry's facts: the catalogue entry named `description` (its path), the
// file's size, SHA-256 and the software identification word it places at 0x02400420.
// What cannot be read stays empty.
FirmwareFacts FirmwareFactsOf(const std::string& description);

// The four bytes an S-record file places at `address`, in file order as one word
// (first byte highest); nullopt when the file does not give all four.
std::optional<std::uint32_t> SRecordWordAt(const std::string& path, std::uint32_t address);

// A dump's log file: its size and SHA-256 now, complete when it holds exactly the
// file-system flash the line's configuration record gave. nullopt for an empty path or
// a file that cannot be read (a device path is not hashed).
std::optional<LogFileFacts> LogFileFactsOf(const std::string& path, const LineSummary& line);

class RunRecorder {
 public:
  explicit RunRecorder(RecordStoreOpener open = OpenRecordStore);
  ~RunRecorder();  // waits for a begin still being written
  RunRecorder(const RunRecorder&) = delete;
  RunRecorder& operator=(const RunRecorder&) = delete;

  // Starts storing the begun record; returns at once.
  void Begin(const RunStart& start);
  // Waits until the begun record is stored (or could not be). From any thread.
  void WaitBegun() const;
  // A message box the run showed: a failure box's number and line go into the record.
  // From any thread.
  void BoxShown(const std::string& text);
  // Finishes the record. Returns its id, or nullopt with `problem` saying why no record
  // was kept (the run itself is not affected by that).
  std::optional<std::int64_t> Finish(const RunEnd& end, std::string& problem);
  // Whether Begin was called and Finish not yet.
  bool Begun() const { return begun_ && !finished_; }

 private:
  void ReportCost(double finishMs) const;

  RecordStoreOpener open_;
  std::unique_ptr<RecordStore> store_;
  ServiceRecord record_;
  RunStart start_;
  std::shared_future<std::string> beginning_;  // the error of the begin, empty when stored
  std::mutex mutex_;
  std::optional<ShownFailure> failure_;
  bool begun_ = false;
  bool finished_ = false;
  mutable std::atomic<std::uint64_t> waitedUs_{0};  // at the gate, for the benchmark
};

// A wire tap that calls `onFirstWrite` (RunRecorder::WaitBegun) once the line may carry
// something that changes the device, then hands everything on to `next`. Without
// `mayChangeDevice` that is the first thing on the line (a break, bytes either way, a
// speed); with it, the first event after which it says so (LineTap::PastBootRom). The tap
// hears of bytes once they crossed, so the run waits there before its next step: the
// step after the flash monitor's start is its first request.
class FirstWriteGate final : public platform::WireTap {
 public:
  explicit FirstWriteGate(platform::WireTap* next) : next_(next) {}
  std::function<void()> onFirstWrite;
  std::function<bool()> mayChangeDevice;

  void OnWrite(const BYTE* data, DWORD count) override;
  void OnRead(const BYTE* data, DWORD count) override;
  void OnBreakSent(DWORD ms) override;
  void OnBreakReceived() override;
  void OnSpeed(DWORD bitsPerSecond) override;
  void OnNote(const std::string& text) override;

 private:
  void Pass();

  platform::WireTap* next_;
  std::once_flag once_;
  std::atomic<bool> passed_{false};
};

}  // namespace velmora
