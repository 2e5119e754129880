#include "sim/config_record.h"

#include <algorithm>

namespace kv70sim {

namespace {

constexpr std::size_t kSerialOffset = 2, kSerialWidth = 32;
constexpr std::size_t kOwner1Offset = 38, kOwner2Offset = 74, kOwnerWidth = 36;
constexpr std::size_t kInfo0Offset = 172, kInfo1Offset = 174, kFlashTypeOffset = 176;
constexpr std::size_t kInfo3Offset = 178, kFileSystemMbOffset = 180;
constexpr std::uint16_t kRecordVersion = 0x0001;

// A device as shipped: toggles 0 and 7 installed, 1 and 3 not, the hidden ones off;
// application 0 installed January 1999 with value 5, application 1 absent.
constexpr std::uint8_t kDefaultOptions[kOptionAreaSize] = {
    0x01, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF,  //  0.. 9
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 10..19
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 20..29
    0xFF, 0xFF, 0xFF, 0x00, 0x19, 0x00, 0x00, 0x00, 0x01, 0x05,  // 30..39
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 40..49
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 50..59
    0xFF, 0xFF,                                                  // 60..61
};

void PutNumber(Record& r, std::size_t offset, std::uint16_t value) {
  r[offset] = static_cast<std::uint8_t>(value >> 8);
  r[offset + 1] = static_cast<std::uint8_t>(value);
}

void PutText(Record& r, std::size_t offset, std::size_t width, const RecordText& text) {
  std::fill_n(r.begin() + offset, width, text.set ? 0x00 : 0xFF);
  if (text.set) std::copy(text.text.begin(), text.text.end(), r.begin() + offset);
}

}  // namespace

Record BuildRecord(const Settings& s) {
  Record r{};
  PutNumber(r, 0, kRecordVersion);
  PutText(r, kSerialOffset, kSerialWidth, s.serial);
  PutText(r, kOwner1Offset, kOwnerWidth, s.owner1);
  PutText(r, kOwner2Offset, kOwnerWidth, s.owner2);
  std::copy(std::begin(kDefaultOptions), std::end(kDefaultOptions), r.begin() + kOptionAreaOffset);
  std::copy(s.options.begin(), s.options.end(), r.begin() + kOptionAreaOffset);
  PutNumber(r, kInfo0Offset, s.info0);
  PutNumber(r, kInfo1Offset, s.info1);
  PutNumber(r, kFlashTypeOffset, s.flashType);
  PutNumber(r, kInfo3Offset, s.info3);
  PutNumber(r, kFileSystemMbOffset, static_cast<std::uint16_t>(s.fsMb));
  PutNumber(r, kApplicationIdOffset, s.appId);
  return r;
}

void ApplySoftwareWord(Record& record, const std::uint8_t word[4]) {
  unsigned index = word[2] >> 4;
  PutNumber(record, kApplicationIdOffset, static_cast<std::uint16_t>(index));
  if (index < std::size(kApplicationOptions))
    record[kOptionAreaOffset + kApplicationOptions[index] + kDatedValueOffset] = word[3];
}

std::uint16_t RecordNumber(const Record& record, std::size_t offset) {
  return static_cast<std::uint16_t>((record[offset] << 8) | record[offset + 1]);
}

}  // namespace kv70sim
