#include "host/core/dump_watch.h"

#include <filesystem>
#include <system_error>

namespace velmora {

namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
// No frame either side sends is longer (a read reply carries 1024 bytes, a program
// request 256 and its address).
constexpr std::uint16_t kLongestData = 1024 + 6;

// A read request: address (4, big-endian) and byte count (2, big-endian).
constexpr std::uint8_t kReadMemory = 0x05;
constexpr std::size_t kReadRequestLength = 6;
// The file-system flash starts here; program flash and RAM lie below it.
constexpr std::uint32_t kFileSystemBase = 0x02800000;

// The configuration record: 184 bytes; the file-system size in MiB at offset 180
// (2, big-endian), 0xFFFF when the record has none.
constexpr std::uint8_t kReadConfig = 0x06;
constexpr std::size_t kConfigRecordLength = 184;
constexpr std::size_t kFileSystemMbOffset = 180;
constexpr std::uint16_t kNoFileSystem = 0xFFFF;

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

}  // namespace

bool MonitorFrameReader::Feed(std::uint8_t b) {
  switch (state_) {
    case State::kHunt:
      if (b == kStx) state_ = State::kCode;
      return false;
    case State::kCode:
      if (expected_ && b != *expected_) {
        state_ = State::kHunt;
        return false;
      }
      code_ = b;
      sum_ = b;
      state_ = State::kLengthHigh;
      return false;
    case State::kLengthHigh:
      sum_ = static_cast<std::uint16_t>(sum_ + b);
      length_ = static_cast<std::uint16_t>(b << 8);
      state_ = State::kLengthLow;
      return false;
    case State::kLengthLow:
      sum_ = static_cast<std::uint16_t>(sum_ + b);
      length_ = static_cast<std::uint16_t>(length_ | b);
      data_.clear();
      if (length_ > kLongestData) {
        state_ = State::kHunt;
      } else {
        state_ = length_ == 0 ? State::kSumHigh : State::kData;
      }
      return false;
    case State::kData:
      data_.push_back(b);
      sum_ = static_cast<std::uint16_t>(sum_ + b);
      if (data_.size() == length_) state_ = State::kSumHigh;
      return false;
    case State::kSumHigh:
      received_ = static_cast<std::uint16_t>(b << 8);
      state_ = State::kSumLow;
      return false;
    case State::kSumLow:
      received_ = static_cast<std::uint16_t>(received_ | b);
      state_ = received_ == sum_ ? State::kEnd : State::kHunt;
      return false;
    case State::kEnd:
      state_ = State::kHunt;
      return b == kEtx;
  }
  return false;
}

// Each side's frames are read afresh after the other side spoke, and a reply only with
// its request's code, as the plug-in reads each reply with a new reader for its command:
// the monitor image echoed during the upload holds byte runs that look like the start of
// a long frame, and such a run must not swallow the replies after it.
void DumpWatch::OnWrite(const BYTE* data, DWORD count) {
  replies_.Reset();
  for (DWORD i = 0; i < count; ++i) {
    if (!requests_.Feed(data[i])) continue;
    replies_.Reset(requests_.Code());
    const std::vector<std::uint8_t>& d = requests_.Data();
    if (requests_.Code() == kReadMemory && d.size() == kReadRequestLength &&
        BigEndian32(d.data()) >= kFileSystemBase) {
      readAsked_.store(true);
    }
  }
  if (next_) next_->OnWrite(data, count);
}

void DumpWatch::OnRead(const BYTE* data, DWORD count) {
  requests_.Reset();
  for (DWORD i = 0; i < count; ++i) {
    if (!replies_.Feed(data[i])) continue;
    const std::vector<std::uint8_t>& d = replies_.Data();
    if (replies_.Code() == kReadConfig && d.size() == kConfigRecordLength) {
      const std::uint16_t mb =
          static_cast<std::uint16_t>((d[kFileSystemMbOffset] << 8) | d[kFileSystemMbOffset + 1]);
      fileSystemBytes_.store(mb == kNoFileSystem ? 0 : std::int64_t{mb} * 1024 * 1024);
    }
  }
  if (next_) next_->OnRead(data, count);
}

void DumpWatch::OnBreakSent(DWORD ms) {
  if (next_) next_->OnBreakSent(ms);
}

void DumpWatch::OnBreakReceived() {
  if (next_) next_->OnBreakReceived();
}

void DumpWatch::OnSpeed(DWORD bitsPerSecond) {
  if (next_) next_->OnSpeed(bitsPerSecond);
}

void DumpWatch::OnNote(const std::string& text) {
  if (next_) next_->OnNote(text);
}

std::optional<std::uint64_t> DumpWatch::FileSystemBytes() const {
  const std::int64_t bytes = fileSystemBytes_.load();
  if (bytes < 0) return std::nullopt;
  return static_cast<std::uint64_t>(bytes);
}

std::string PartialDumpText(const std::string& logFile, const DumpWatch& watch) {
  const std::optional<std::uint64_t> expected = watch.FileSystemBytes();
  if (logFile.empty() || !expected || !watch.FileSystemReadAsked()) return {};
  // A device written in place (a tape, /dev/null) has no size to compare.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(logFile, ec)) return {};
  const std::uintmax_t size = std::filesystem::file_size(logFile, ec);
  if (ec || size >= *expected) return {};
  return "The log file " + logFile + " holds " + std::to_string(size) + " of " +
         std::to_string(*expected) + " bytes: it is not a complete dump.";
}

}  // namespace velmora
