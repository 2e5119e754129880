// Firmware images for the software upgrade's tests and benchmark: S-record files of
// type-3 records of varying length, with gaps, and the identification word where the
// device looks for it. Deterministic for a seed. Header-only: used by the end-to-end
// tests and by bench/upgrade_bench.
#pragma once
#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace kv70::upgrade {

constexpr std::uint32_t kProgramFlash = 0x02400000;
constexpr std::uint32_t kProgramFlashSize = 0x00200000;
// What the top-boot flash types (the simulator's default among them) erase: all but the
// 16 KiB boot block at the top, which a firmware file may not touch.
constexpr std::uint32_t kErasedEnd = 0x025FC000;
constexpr std::uint32_t kWordAddress = 0x02400420;

struct ImageOptions {
  std::uint32_t start = kProgramFlash;
  std::uint32_t end = kErasedEnd;  // exclusive
  std::uint32_t seed = 1;
  // About one record boundary in this many starts a gap of 1 to maxGap bytes.
  std::uint32_t gapOneIn = 400;
  std::uint32_t maxGap = 64;
  // The identification word's bytes b0..b3; without it the word's four bytes are a gap.
  bool withWord = true;
  std::array<std::uint8_t, 4> word = {0x5A, 0xA5, 0x30, 0x01};
  // Data record (counted from 0) written with a wrong checksum; -1 for none.
  long badChecksumRecord = -1;
};

struct ImageRecord {
  std::uint32_t address;
  std::vector<std::uint8_t> data;
};

struct Image {
  std::vector<ImageRecord> records;
  std::size_t dataBytes = 0;
  std::size_t gaps = 0;
};

// A program request as the plug-in must send it: contiguous records merged while the
// block stays within 252 bytes; a gap always starts a new block.
struct ImageBlock {
  std::uint32_t address;
  std::uint32_t length;
  bool operator==(const ImageBlock&) const = default;
};

class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
  std::uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint32_t state_;
};

inline Image MakeImage(const ImageOptions& o) {
  Image image;
  Lcg rng(o.seed);
  std::uint32_t address = o.start;
  const std::uint32_t wordEnd = kWordAddress + 4;
  while (address < o.end) {
    if (image.records.size() > 0 && rng.Below(o.gapOneIn) == 0) {
      std::uint32_t gap = 1 + rng.Below(o.maxGap);
      // Never skip over the word, nor run off the end.
      if (o.withWord && address <= kWordAddress && address + gap > kWordAddress)
        gap = kWordAddress - address;
      if (gap > o.end - address) gap = o.end - address;
      if (gap > 0) {
        address += gap;
        ++image.gaps;
        if (address >= o.end) break;
      }
    }
    if (address == kWordAddress && !o.withWord) {
      address = wordEnd;
      ++image.gaps;
      continue;
    }
    std::uint32_t length = 1 + rng.Below(77);
    if (address < kWordAddress && address + length > kWordAddress) length = kWordAddress - address;
    if (address == kWordAddress && length < 4) length = 4;
    if (length > o.end - address) length = o.end - address;
    ImageRecord record{address, std::vector<std::uint8_t>(length)};
    for (auto& b : record.data) b = static_cast<std::uint8_t>(rng.Next());
    if (address == kWordAddress)
      for (int i = 0; i < 4; ++i)
        record.data[static_cast<size_t>(i)] = o.word[static_cast<size_t>(i)];
    image.dataBytes += length;
    address += length;
    image.records.push_back(std::move(record));
  }
  return image;
}

// One S-record line with CR LF.
inline std::string RecordLine(char type, std::uint32_t address, int addressBytes,
                              const std::uint8_t* data, std::size_t length,
                              bool badChecksum = false) {
  static const char digits[] = "0123456789ABCDEF";
  std::string line = {'S', type};
  unsigned sum = 0;
  auto put = [&](unsigned v) {
    line += digits[(v >> 4) & 15];
    line += digits[v & 15];
    sum += v;
  };
  put(static_cast<unsigned>(addressBytes + length + 1));
  for (int shift = 8 * (addressBytes - 1); shift >= 0; shift -= 8) put((address >> shift) & 0xFF);
  for (std::size_t i = 0; i < length; ++i) put(data[i]);
  const unsigned checksum = (~sum + (badChecksum ? 1 : 0)) & 0xFF;
  line += digits[checksum >> 4];
  line += digits[checksum & 15];
  return line + "\r\n";
}

inline void WriteImage(const Image& image, const std::string& path, long badChecksumRecord = -1) {
  std::ofstream out(path, std::ios::binary);
  const std::uint8_t header[] = {'k', 'v', '7', '0', '-', 't', 'e', 's', 't'};
  out << RecordLine('0', 0, 2, header, sizeof header);
  for (std::size_t i = 0; i < image.records.size(); ++i) {
    const ImageRecord& r = image.records[i];
    out << RecordLine('3', r.address, 4, r.data.data(), r.data.size(),
                      static_cast<long>(i) == badChecksumRecord);
  }
  out << RecordLine('7', kProgramFlash, 4, nullptr, 0);
}

inline std::vector<ImageBlock> ExpectedBlocks(const Image& image) {
  std::vector<ImageBlock> blocks;
  for (const ImageRecord& r : image.records) {
    const auto length = static_cast<std::uint32_t>(r.data.size());
    if (!blocks.empty()) {
      ImageBlock& last = blocks.back();
      if (last.address + last.length == r.address && last.length + length <= 252) {
        last.length += length;
        continue;
      }
    }
    blocks.push_back({r.address, length});
  }
  return blocks;
}

// Bytes the PC must send to program the image: each block goes out as one request of
// 4 header bytes, a 4-byte address, the data and 4 trailer bytes.
inline std::uint64_t RequestBytes(const std::vector<ImageBlock>& blocks) {
  std::uint64_t total = 0;
  for (const ImageBlock& b : blocks) total += b.length + 12;
  return total;
}

}  // namespace kv70::upgrade
