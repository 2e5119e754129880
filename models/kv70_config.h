// The KV70's 184-byte configuration record, as the flash monitor sends it, with the
// KV70's option table.
#pragma once
#include "models/device_config.h"

// An application option's entry, copied out of the option area in host order.
struct AppEntry {
  WORD MonthIndex;  // 0xFFFF: not installed
  DWORD Word;
  BYTE Value;  // compared with the software identification word's last byte
};

class CKV70Config : public CDeviceConfig {
  DECLARE_DYNAMIC(CKV70Config)
 public:
  // Record layout (big-endian numbers):
  //   0   2  unused             110  62  option area
  //   2  32  serial number      172   2  Info0
  //  34   4  unused             174   2  Info1
  //  38  36  owner string 1     176   2  FlashType
  //  74  36  owner string 2     178   2  Info3
  //                             180   2  FileSystemMb
  //                             182   2  ApplicationId
  // Texts are NUL-terminated unless they fill their field; a first byte 0xFF means unset.
  static constexpr DWORD RECORD_SIZE = 184;
  static constexpr DWORD SERIAL_OFFSET = 2;
  static constexpr DWORD SERIAL_SIZE = 32;
  static constexpr DWORD OWNER1_OFFSET = 38;
  static constexpr DWORD OWNER2_OFFSET = 74;
  static constexpr DWORD OWNER_SIZE = 36;
  static constexpr DWORD OPTION_AREA_OFFSET = 110;
  static constexpr DWORD OPTION_AREA_SIZE = 62;
  static constexpr DWORD NUMBERS_OFFSET = 172;
  static constexpr int OPTION_COUNT = 11;
  static constexpr int MAX_APP_ENTRIES = 2;

  CKV70Config();
  ~CKV70Config() override;

  DWORD GetSize() const override { return RECORD_SIZE; }
  BOOL Decode(const BYTE* data, DWORD length) override;
  LPCTSTR GetSerialNumber() const override { return m_szSerial; }
  LPCTSTR GetOwnerString1() const override { return m_szOwner1; }
  LPCTSTR GetOwnerString2() const override { return m_szOwner2; }

  // Hardware numbers in host order; 0xFFFF means absent.
  WORD Info0() const { return Number(0); }
  WORD Info1() const { return Number(1); }
  WORD FlashType() const { return Number(2); }
  WORD Info3() const { return Number(3); }
  WORD FileSystemMb() const { return Number(4); }
  WORD ApplicationId() const { return Number(5); }

  int GetAppEntryCount() const { return m_nAppEntries; }
  // nullptr for an index not below the count.
  const AppEntry* GetAppEntry(int index) const;
  // The record as stored: texts replaced where unset, numbers in host order.
  const BYTE* GetRecord() const { return m_record; }

 private:
  WORD Number(int index) const;
  void ExtractText(DWORD offset, DWORD width, char* out);

  BYTE m_record[RECORD_SIZE] = {};
  AppEntry m_appEntries[MAX_APP_ENTRIES] = {};
  int m_nAppEntries = 0;
  // The texts as terminated copies: a field that fills its width has no terminator in
  // the record, and reading it there would run into the next field.
  char m_szSerial[SERIAL_SIZE + 1] = {};
  char m_szOwner1[OWNER_SIZE + 1] = {};
  char m_szOwner2[OWNER_SIZE + 1] = {};
};
