#include "models/kv70_config.h"

#include <cstring>

#include "resources/resource.h"

IMPLEMENT_DYNAMIC(CKV70Config, CDeviceConfig)

namespace {

struct OptionRow {
  bool dated;
  BYTE number;  // byte offset in the option area
  BYTE offValue;
  bool scrambled;  // `name` is kept scrambled
  bool hidden;     // left out of the configuration dialog
  const char* name;
};

// The KV70's options, in table order. Two names are kept scrambled ("Route Planner" and
// "Service Diagnostics"); the descriptor turns them readable.
const OptionRow KV70_OPTIONS[CKV70Config::OPTION_COUNT] = {
    // dated  number  off  scrambled  hidden  name
    {false, 0, 0, false, false, "Barcode Scanner"},
    {false, 1, 0, true, false, "\xF7\xCA\xD0\xD1\xC0\x85\xF5\xC9\xC4\xCB\xCB\xC0\xD7"},
    {false, 2, 255, true, true,
     "\xF6\xC0\xD7\xD3\xCC\xC6\xC0\x85\xE1\xCC\xC4\xC2\xCB\xCA\xD6\xD1\xCC\xC6\xD6"},
    {false, 3, 0, false, false, "Signature Capture"},
    {false, 4, 255, false, true, "Factory Test Mode"},
    {false, 5, 255, false, true, "Burn-In Logging"},
    {false, 6, 255, false, true, "Calibration Tools"},
    {false, 7, 255, false, false, "Data Encryption"},
    {false, 10, 255, false, true, "Extended Memory"},
    {true, 33, 2, false, false, "Field Inspection Suite"},
    {true, 40, 2, false, false, "Meter Reading Suite"},
};

// Option numbers whose entries are also kept as application entries, in this order.
constexpr BYTE APPLICATION_OPTIONS[CKV70Config::MAX_APP_ENTRIES] = {33, 40};

WORD BigEndian16(const BYTE* p) {
  return static_cast<WORD>((p[0] << 8) | p[1]);
}
DWORD BigEndian32(const BYTE* p) {
  return (DWORD{p[0]} << 24) | (DWORD{p[1]} << 16) | (DWORD{p[2]} << 8) | DWORD{p[3]};
}

// A field whose first byte is 0xFF was never set: it reads as the "none" text, padded
// with zeros to the field's width.
void ReplaceUnset(BYTE* field, DWORD width, const CString& none) {
  if (field[0] != 0xFF) return;
  std::strncpy(reinterpret_cast<char*>(field), none, width);
}

}  // namespace

CKV70Config::CKV70Config() : CDeviceConfig(RECORD_SIZE, OPTION_COUNT, OPTION_AREA_SIZE) {
  for (int i = 0; i < OPTION_COUNT; ++i) {
    const OptionRow& row = KV70_OPTIONS[i];
    if (row.dated)
      SetOption(i, new CDatedOption(row.name, row.number, row.offValue, row.scrambled, row.hidden));
    else
      SetOption(i,
                new CToggleOption(row.name, row.number, row.offValue, row.scrambled, row.hidden));
  }
}

CKV70Config::~CKV70Config() = default;

BOOL CKV70Config::Decode(const BYTE* data, DWORD length) {
  m_nAppEntries = 0;
  if (!data || length != GetSize()) return FALSE;
  std::memcpy(m_record, data, RECORD_SIZE);

  CString none;
  none.LoadString(IDS_NONE);
  ReplaceUnset(m_record + SERIAL_OFFSET, SERIAL_SIZE, none);
  ReplaceUnset(m_record + OWNER1_OFFSET, OWNER_SIZE, none);
  ReplaceUnset(m_record + OWNER2_OFFSET, OWNER_SIZE, none);
  ExtractText(SERIAL_OFFSET, SERIAL_SIZE, m_szSerial);
  ExtractText(OWNER1_OFFSET, OWNER_SIZE, m_szOwner1);
  ExtractText(OWNER2_OFFSET, OWNER_SIZE, m_szOwner2);

  for (DWORD offset = NUMBERS_OFFSET; offset < RECORD_SIZE; offset += 2) {
    const WORD value = BigEndian16(m_record + offset);
    std::memcpy(m_record + offset, &value, sizeof value);
  }

  const BYTE* area = m_record + OPTION_AREA_OFFSET;
  for (int i = 0; i < GetOptionCount(); ++i) {
    COptionDesc* option = GetOption(i);
    if (!option || !option->Decode(area, OPTION_AREA_SIZE)) break;
  }

  for (BYTE number : APPLICATION_OPTIONS) {
    const BYTE* entry = area + number;
    AppEntry& slot = m_appEntries[m_nAppEntries++];
    slot.MonthIndex = BigEndian16(entry);
    slot.Word = BigEndian32(entry + 2);
    slot.Value = entry[6];
  }
  return TRUE;
}

const AppEntry* CKV70Config::GetAppEntry(int index) const {
  if (index < 0 || index >= m_nAppEntries) return nullptr;
  return &m_appEntries[index];
}

WORD CKV70Config::Number(int index) const {
  WORD value;
  std::memcpy(&value, m_record + NUMBERS_OFFSET + 2 * index, sizeof value);
  return value;
}

void CKV70Config::ExtractText(DWORD offset, DWORD width, char* out) {
  std::memcpy(out, m_record + offset, width);
  out[width] = '\0';
}
