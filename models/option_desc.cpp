#include "models/option_desc.h"

IMPLEMENT_DYNAMIC(COptionDesc, CObject)
IMPLEMENT_DYNAMIC(CToggleOption, COptionDesc)
IMPLEMENT_DYNAMIC(CDatedOption, COptionDesc)

namespace {
// Flipping the top bit and a few low ones keeps every scrambled character non-zero and
// outside printable ASCII, so a stored name is never readable by accident.
constexpr unsigned char kScrambleKey = 0xA5;

CString XorName(const char* text) {
  CString out;
  for (const char* p = text; *p; ++p)
    out += static_cast<char>(static_cast<unsigned char>(*p) ^ kScrambleKey);
  return out;
}
}  // namespace

CString ScrambleOptionName(const char* readable) {
  return XorName(readable);
}
CString UnscrambleOptionName(const char* stored) {
  return XorName(stored);
}

COptionDesc::COptionDesc(LPCTSTR storedName, BYTE number, int kind, BYTE offValue,
                         BOOL storedScrambled, BOOL hidden)
    : m_strStoredName(storedName),
      m_number(number),
      m_kind(kind),
      m_offValue(offValue),
      m_storedScrambled(storedScrambled ? 1 : 0),
      m_hidden(hidden ? 1 : 0),
      m_strDisplayName(storedScrambled ? UnscrambleOptionName(storedName) : CString(storedName)) {}

COptionDesc::~COptionDesc() = default;

LPCTSTR COptionDesc::GetDisplayName() const {
  return m_strDisplayName;
}

CToggleOption::CToggleOption(LPCTSTR storedName, BYTE number, BYTE offValue, BOOL storedScrambled,
                             BOOL hidden)
    : COptionDesc(storedName, number, toggle, offValue, storedScrambled, hidden) {}

BOOL CToggleOption::Decode(const BYTE* area, DWORD areaSize) {
  if (m_number >= areaSize) return FALSE;
  m_installed = area[m_number] != m_offValue ? 1 : 0;
  return TRUE;
}

void CToggleOption::Encode(BYTE* area, DWORD areaSize) const {
  if (m_number >= areaSize) return;
  area[m_number] = m_installed ? static_cast<BYTE>(~m_offValue) : m_offValue;
}

CDatedOption::CDatedOption(LPCTSTR storedName, BYTE number, BYTE offValue, BOOL storedScrambled,
                           BOOL hidden)
    : COptionDesc(storedName, number, dated, offValue, storedScrambled, hidden) {}

// Option entry layout, from the option number on:
//   +0 2  month index, big-endian (0xFFFF: not installed)
//   +2 4  32-bit word, big-endian
//   +6 1  8-bit value
BOOL CDatedOption::Decode(const BYTE* area, DWORD areaSize) {
  // The record's own rule: the entry must end strictly before the area does.
  if (m_number + SIZE >= areaSize) return FALSE;
  const BYTE* p = area + m_number;
  m_monthIndex = static_cast<WORD>((p[0] << 8) | p[1]);
  m_word = (DWORD{p[2]} << 24) | (DWORD{p[3]} << 16) | (DWORD{p[4]} << 8) | DWORD{p[5]};
  m_value = p[6];
  return TRUE;
}

void CDatedOption::Encode(BYTE* area, DWORD areaSize) const {
  if (m_number + SIZE > areaSize) return;
  BYTE* p = area + m_number;
  p[0] = static_cast<BYTE>(m_monthIndex >> 8);
  p[1] = static_cast<BYTE>(m_monthIndex);
  p[2] = static_cast<BYTE>(m_word >> 24);
  p[3] = static_cast<BYTE>(m_word >> 16);
  p[4] = static_cast<BYTE>(m_word >> 8);
  p[5] = static_cast<BYTE>(m_word);
  p[6] = m_value;
}
