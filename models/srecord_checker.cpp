#include "models/srecord_checker.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>

#include "models/srecord_decode.h"
#include "reporting/failures.h"
#include "resources/resource.h"

namespace {

constexpr int kChecksumFailure = SREC_CHECKSUM_FAILURE;
constexpr int kFormatFailure = SREC_FORMAT_FAILURE;
// Ctrl-Z, which DOS tools put after a text file's last line.
constexpr char kDosEndOfFile = 0x1A;

// Offsets within a record line (see srecord_decode.h for the whole layout).
constexpr std::size_t kTypePos = 1;
constexpr std::size_t kCountPos = 2;
constexpr std::size_t kFieldsPos = 4;

enum class Kind { none, header, data, count, end };

// What a record type is, by its digit. Columns: kind, address bytes, whether the count
// must be exactly address + checksum (the record holds nothing else), and the address
// bytes the reader takes before its data (0 where it keeps the address as data).
struct TypeRule {
  Kind kind;
  int addressBytes;
  bool addressOnly;
  int readerAddressBytes;
};
constexpr std::array<TypeRule, 10> kTypes = {{
    {Kind::header, 2, false, 0},  // S0
    {Kind::data, 2, false, 2},    // S1
    {Kind::data, 3, false, 3},    // S2
    {Kind::data, 4, false, 4},    // S3
    {Kind::none, 0, false, 0},    // S4: no such record
    {Kind::count, 2, true, 0},    // S5
    {Kind::count, 3, true, 0},    // S6: a 24-bit count, at which the reader stops
    {Kind::end, 4, true, 0},      // S7
    {Kind::end, 3, true, 0},      // S8
    {Kind::end, 2, true, 0},      // S9
}};

CString Text(UINT id, ...) {
  CString format;
  format.LoadString(id);
  va_list args;
  va_start(args, id);
  CString text;
  text.FormatV(format.GetString(), args);
  va_end(args);
  return text;
}

// The type as the user would see it in the file: "S4", or the two characters' codes
// when they are not printable.
CString TypeText(const char* text) {
  const auto printable = [](char c) { return c > ' ' && c < 0x7F; };
  CString out;
  if (printable(text[0]) && printable(text[1])) {
    out.Format("%c%c", text[0], text[1]);
  } else {
    out.Format("0x%02X 0x%02X", static_cast<unsigned char>(text[0]),
               static_cast<unsigned char>(text[1]));
  }
  return out;
}

}  // namespace

CSRecordChecker::CSRecordChecker(DWORD flashStart, DWORD flashEnd)
    : m_dwFlashStart(flashStart), m_dwFlashEnd(flashEnd > flashStart ? flashEnd : flashStart) {}

BOOL CSRecordChecker::Refuse(int code, const CString& detail) {
  m_fault.code = code;
  m_fault.line = m_nLine;
  m_fault.detail = detail;
  return FALSE;
}

BOOL CSRecordChecker::CheckLine(const char* text, std::size_t size) {
  if (m_fault.code != 0) return FALSE;
  ++m_nLine;
  // A DOS end-of-file mark ends the file only where nothing follows it; anywhere else it
  // is a line that is no record, refused where it stands.
  if (m_nEofMarkLine != 0) {
    Refuse(kFormatFailure, Text(IDS_SREC_NOT_A_RECORD, m_nEofMarkLine));
    m_fault.line = m_nEofMarkLine;
    return FALSE;
  }
  // Editors leave spaces and tabs on empty lines; the reader skips such a line as it
  // skips an empty one.
  if (std::all_of(text, text + size, [](char c) { return c == ' ' || c == '\t'; })) return TRUE;
  if (size == 1 && text[0] == kDosEndOfFile) {
    m_nEofMarkLine = m_nLine;
    return TRUE;
  }
  if (text[0] != 'S' || size < 2)
    return Refuse(kFormatFailure, Text(IDS_SREC_NOT_A_RECORD, m_nLine));
  const int digit = text[kTypePos] >= '0' && text[kTypePos] <= '9' ? text[kTypePos] - '0' : -1;
  if (digit < 0 || kTypes[static_cast<std::size_t>(digit)].kind == Kind::none)
    return Refuse(kFormatFailure, Text(IDS_SREC_UNKNOWN_TYPE, m_nLine, TypeText(text).GetString()));
  if (size < kFieldsPos) return Refuse(kFormatFailure, Text(IDS_SREC_NOT_A_RECORD, m_nLine));
  const TypeRule& rule = kTypes[static_cast<std::size_t>(digit)];

  const int count = SRecordHexByte(text + kCountPos);
  if (count < 0) return Refuse(kFormatFailure, Text(IDS_SREC_NOT_HEX, m_nLine));
  const std::size_t expected = kFieldsPos + 2 * static_cast<std::size_t>(count);
  if (size != expected)
    return Refuse(kFormatFailure, Text(IDS_SREC_LENGTH, m_nLine, static_cast<int>(size),
                                       static_cast<int>(expected)));

  // Address, data and checksum bytes, all of them hexadecimal.
  BYTE bytes[255];
  unsigned sum = static_cast<unsigned>(count);
  for (int i = 0; i < count; ++i) {
    const int b = SRecordHexByte(text + kFieldsPos + 2 * i);
    if (b < 0) return Refuse(kFormatFailure, Text(IDS_SREC_NOT_HEX, m_nLine));
    bytes[i] = static_cast<BYTE>(b);
    sum += static_cast<unsigned>(b);
  }
  const int payload = count - 1;  // without the checksum
  // The count holds the address and the checksum, no more for S5 and S7-S9; and what the
  // reader takes as data fits its record.
  if (payload < rule.addressBytes || (rule.addressOnly && payload != rule.addressBytes) ||
      payload - rule.readerAddressBytes > SREC_MAX_DATA)
    return Refuse(kFormatFailure, Text(IDS_SREC_COUNT, m_nLine, count));
  const BYTE checksum = bytes[payload];
  sum -= checksum;
  const BYTE wanted = static_cast<BYTE>(~sum);
  if (checksum != wanted)
    return Refuse(kChecksumFailure, Text(IDS_SREC_CHECKSUM, m_nLine, checksum, wanted));

  DWORD address = 0;
  for (int i = 0; i < rule.addressBytes; ++i) address = (address << 8) | bytes[i];
  switch (rule.kind) {
    case Kind::data:
      if (m_nEndLine != 0)
        return Refuse(kFormatFailure, Text(IDS_SREC_AFTER_END, m_nLine, m_nEndLine));
      // The reader stops at an S6: what follows it would never be programmed.
      if (m_nStopLine != 0)
        return Refuse(kFormatFailure, Text(IDS_SREC_AFTER_S6, m_nLine, m_nStopLine));
      ++m_nDataRecords;
      m_nLastDataLine = m_nLine;
      return CheckData(address, bytes + rule.addressBytes,
                       static_cast<std::size_t>(payload - rule.addressBytes));
    case Kind::count: {
      // The count holds as many low bits of the number of data records as its address
      // field has: 16 in an S5, 24 in an S6.
      const std::uint32_t mask = (std::uint32_t{1} << (8 * rule.addressBytes)) - 1;
      if (address != (m_nDataRecords & mask))
        return Refuse(kFormatFailure,
                      Text(IDS_SREC_RECORD_COUNT, m_nLine, static_cast<unsigned long>(address),
                           static_cast<unsigned long>(m_nDataRecords)));
      m_nLastCountLine = m_nLine;
      if (digit == 6 && m_nStopLine == 0) m_nStopLine = m_nLine;
      return TRUE;
    }
    case Kind::end:
      if (m_nEndLine == 0) m_nEndLine = m_nLine;
      return TRUE;
    default:
      return TRUE;
  }
}

BOOL CSRecordChecker::CheckData(DWORD address, const BYTE* data, std::size_t length) {
  // In 64 bits: a record near the top of the address space must not wrap into range.
  const std::uint64_t end = std::uint64_t{address} + length;
  if (address < m_dwFlashStart || end > m_dwFlashEnd) {
    return Refuse(kFormatFailure,
                  Text(IDS_SREC_OUTSIDE_FLASH, m_nLine, static_cast<unsigned long>(address),
                       static_cast<unsigned long>(m_dwFlashStart),
                       static_cast<unsigned long>(m_dwFlashEnd - 1)));
  }
  if (!m_image) {
    m_image.reset(new BYTE[m_dwFlashEnd - m_dwFlashStart]);
    m_given.assign((m_dwFlashEnd - m_dwFlashStart + 63) / 64, 0);
  }
  const std::size_t offset = address - m_dwFlashStart;
  // Files mostly give each byte once: then the whole record goes in at once.
  if (!MarkGiven(offset, length)) {
    std::memcpy(m_image.get() + offset, data, length);
    return TRUE;
  }
  for (std::size_t i = 0; i < length; ++i) {
    const std::size_t at = offset + i;
    std::uint64_t& word = m_given[at / 64];
    const std::uint64_t bit = std::uint64_t{1} << (at % 64);
    // The same value twice is harmless (NOR flash takes it again); another value would
    // leave the AND of both in the flash.
    if ((word & bit) && m_image[at] != data[i])
      return Refuse(kFormatFailure,
                    Text(IDS_SREC_CONTRADICTS, m_nLine, static_cast<unsigned long>(address + i)));
    word |= bit;
    m_image[at] = data[i];
  }
  return TRUE;
}

bool CSRecordChecker::MarkGiven(std::size_t from, std::size_t count) {
  // Bits of [from, from + count), a word at a time; when one was set already nothing is
  // marked and the caller goes byte by byte.
  const auto eachWord = [&](auto&& visit) {
    for (std::size_t at = from, end = from + count; at < end;) {
      const std::size_t bit = at % 64;
      const std::size_t n = std::min<std::size_t>(64 - bit, end - at);
      const std::uint64_t mask = (n == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << n) - 1))
                                 << bit;
      if (!visit(m_given[at / 64], mask)) return false;
      at += n;
    }
    return true;
  };
  if (!eachWord([](std::uint64_t word, std::uint64_t mask) { return (word & mask) == 0; }))
    return true;
  eachWord([](std::uint64_t& word, std::uint64_t mask) {
    word |= mask;
    return true;
  });
  return false;
}

BOOL CSRecordChecker::Finish() {
  if (m_fault.code != 0) return FALSE;
  if (m_nEndLine != 0) return TRUE;
  // Without an end record, a count record after the last data record shows the file
  // whole, as tools that write no start address leave it.
  if (m_nLastCountLine > m_nLastDataLine) return TRUE;
  // A file that counts its records but not its last ones was cut after a count.
  if (m_nLastCountLine != 0)
    return Refuse(kFormatFailure, Text(IDS_SREC_NO_END_AFTER_COUNT, m_nLastDataLine));
  // Neither: such files programmed before the whole-file check and still do, but nothing
  // shows whether their end is there.
  m_fault.completenessUnknown = true;
  return TRUE;
}

void ThrowIfRefused(const SRecordFault& fault) {
  if (fault.code != 0) throw new CFlashMonException(fault.code, fault.detail);
}
