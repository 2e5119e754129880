#include "host/core/run_recorder.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "host/core/firmware_registration.h"
#include "host/core/sha256.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace velmora {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of one S1/S2/S3 line with a good checksum; false for anything else.
bool DataRecord(const std::string& line, std::uint32_t& address, std::vector<std::uint8_t>& data) {
  if (line.size() < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3') return false;
  const std::size_t addressBytes = static_cast<std::size_t>(line[1] - '0') + 1;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 2; i + 1 < line.size(); i += 2) {
    const int high = HexDigit(line[i]), low = HexDigit(line[i + 1]);
    if (high < 0 || low < 0) break;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  if (bytes.empty() || bytes[0] + 1u != bytes.size() || bytes.size() < addressBytes + 2)
    return false;
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  if ((sum & 0xFF) != 0xFF) return false;
  address = 0;
  for (std::size_t i = 0; i < addressBytes; ++i) address = address << 8 | bytes[1 + i];
  data.assign(bytes.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes), bytes.end() - 1);
  return true;
}

}  // namespace

std::string RecordOperation(const std::string& operationName) {
  const std::string name = Lower(operationName);
  for (const char* word : {"upgrade", "config", "dump"})
    if (name.find(word) != std::string::npos) return word;
  return name;
}

std::optional<std::uint32_t> SRecordWordAt(const std::string& path, std::uint32_t address) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::uint8_t word[4] = {};
  bool have[4] = {};
  std::string line;
  std::vector<std::uint8_t> data;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    std::uint32_t start = 0;
    if (!DataRecord(line, start, data)) continue;
    for (std::size_t i = 0; i < data.size(); ++i) {
      const std::uint64_t at = std::uint64_t{start} + i;
      if (at >= address && at < std::uint64_t{address} + 4) {
        word[at - address] = data[i];
        have[at - address] = true;
      }
    }
  }
  for (bool b : have)
    if (!b) return std::nullopt;
  return std::uint32_t{word[0]} << 24 | std::uint32_t{word[1]} << 16 | std::uint32_t{word[2]} << 8 |
         word[3];
}

FirmwareFacts FirmwareFactsOf(const std::string& description) {
  FirmwareFacts facts;
  facts.description = description;
  std::string error;
  for (const CatalogueEntry& entry : ReadCatalogue(error)) {
    if (entry.description != description) continue;
    facts.path = platform::ToNativePath(entry.path);
    break;
  }
  if (facts.path.empty()) return facts;
  std::string hex;
  std::uint64_t size = 0;
  if (Sha256OfFile(facts.path, hex, size, error)) {
    facts.sha256 = hex;
    facts.size = size;
    facts.softwareWord = SRecordWordAt(facts.path, 0x02400420);
  }
  return facts;
}

std::optional<LogFileFacts> LogFileFactsOf(const std::string& path, const LineSummary& line) {
  if (path.empty()) return std::nullopt;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  LogFileFacts facts;
  facts.path = std::filesystem::absolute(path, ec).string();
  if (ec) facts.path = path;
  std::string error;
  if (!Sha256OfFile(path, facts.sha256, facts.bytes, error)) return std::nullopt;
  // The configuration record says how large the file-system flash is (0xFFFF: none).
  if (line.record && line.record->fileSystemMb != 0xFFFF) {
    facts.complete = facts.bytes == std::uint64_t{line.record->fileSystemMb} * 1024 * 1024 &&
                     line.ReadBytes() >= facts.bytes;
  }
  return facts;
}

RunRecorder::RunRecorder(RecordStoreOpener open) : open_(std::move(open)) {}

RunRecorder::~RunRecorder() {
  WaitBegun();
}

void RunRecorder::WaitBegun() const {
  if (!beginning_.valid()) return;
  const auto start = std::chrono::steady_clock::now();
  beginning_.wait();
  waitedUs_ += static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
}

void RunRecorder::Begin(const RunStart& start) {
  start_ = start;
  record_ = NewRecord(RecordOperation(start.operation), start.comPort, start.port);
  begun_ = true;
  finished_ = false;
  failure_.reset();
  // The record and the store belong to the writing thread until Finish waits for it.
  beginning_ = std::async(std::launch::async, [this] {
                 std::string error;
                 if (start_.firmware) record_.firmware = FirmwareFactsOf(*start_.firmware);
                 store_ = open_ ? open_(error) : nullptr;
                 if (!store_) return error.empty() ? std::string("no record store") : error;
                 if (!store_->Begin(record_, error)) return error;
                 return std::string();
               }).share();
}

void RunRecorder::BoxShown(const std::string& text) {
  if (std::optional<ShownFailure> failure = FailureInBox(text)) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(failure);
  }
}

std::optional<std::int64_t> RunRecorder::Finish(const RunEnd& end, std::string& problem) {
  if (!begun_ || finished_) {
    problem = "no record was begun";
    return std::nullopt;
  }
  finished_ = true;
  const auto finishStart = std::chrono::steady_clock::now();
  const std::string beginError = beginning_.get();
  if (!beginError.empty()) {
    problem = beginError;
    return std::nullopt;
  }
  record_.ended = UtcNow();
  record_.result = end.result;
  record_.exitStatus = end.exitStatus;
  {
    std::lock_guard lock(mutex_);
    if (failure_ && end.result != "succeeded") {
      record_.failureNumber = failure_->number;
      record_.failureText = failure_->text;
    }
  }
  TakeFromLine(record_, end.line);
  if (record_.operation == "upgrade" && !record_.eraseReached) record_.eraseReached = false;
  // Only a file the run read the device into: a run stopped before that leaves in its
  // place what was there before, or somebody else's file.
  if (end.line.ReadBytes() > 0) record_.logFile = LogFileFactsOf(start_.logFile, end.line);
  std::string error;
  const bool stored = store_->Finish(record_, error);
  ReportCost(
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - finishStart)
          .count());
  if (!stored) {
    problem = error;
    return std::nullopt;
  }
  return record_.id;
}

// What the record cost the run: the time the run stood at the gate waiting for the begun
// record, and the finish. Written only when VELMORA_RECORD_COST names a file, for the
// benchmark; a line per run, appended.
void RunRecorder::ReportCost(double finishMs) const {
  const std::string path = platform::GetEnvironmentValue("VELMORA_RECORD_COST").value_or("");
  if (path.empty()) return;
  std::ofstream out(path, std::ios::app);
  out << "gate_ms " << waitedUs_.load() / 1000.0 << " finish_ms " << finishMs << "\n";
}

void FirstWriteGate::Pass() {
  if (passed_.load(std::memory_order_acquire)) return;
  if (mayChangeDevice && !mayChangeDevice()) return;
  std::call_once(once_, [this] {
    if (onFirstWrite) onFirstWrite();
  });
  passed_.store(true, std::memory_order_release);
}

// Each event reaches the taps below first: the line decoder must have seen it to tell
// whether the line has left the boot ROM.
void FirstWriteGate::OnWrite(const BYTE* data, DWORD count) {
  if (next_) next_->OnWrite(data, count);
  Pass();
}

void FirstWriteGate::OnRead(const BYTE* data, DWORD count) {
  if (next_) next_->OnRead(data, count);
  Pass();
}

void FirstWriteGate::OnBreakSent(DWORD ms) {
  if (next_) next_->OnBreakSent(ms);
  Pass();
}

void FirstWriteGate::OnBreakReceived() {
  if (next_) next_->OnBreakReceived();
  Pass();
}

void FirstWriteGate::OnSpeed(DWORD bitsPerSecond) {
  if (next_) next_->OnSpeed(bitsPerSecond);
  Pass();
}

void FirstWriteGate::OnNote(const std::string& text) {
  if (next_) next_->OnNote(text);
}

}  // namespace velmora
