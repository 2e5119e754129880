// Descriptors of the software options recorded in the configuration record's option
// area: each knows its byte offset (the option number) and how to read its bytes.
#pragma once
#include "framework/afx.h"

class COptionDesc : public CObject {
  DECLARE_DYNAMIC(COptionDesc)
 public:
  enum Kind { toggle = 0, dated = 1 };

  ~COptionDesc() override;
  COptionDesc(const COptionDesc&) = delete;
  COptionDesc& operator=(const COptionDesc&) = delete;

  virtual LPCTSTR GetDisplayName() const;
  virtual BOOL IsInstalled() const = 0;
  // Reads the option's bytes; FALSE (and nothing changes) when they do not fit the area.
  virtual BOOL Decode(const BYTE* area, DWORD areaSize) = 0;
  // Writes the option's bytes back; an option that does not fit writes nothing.
  virtual void Encode(BYTE* area, DWORD areaSize) const = 0;
  virtual void SetInstalled(BOOL installed) = 0;

  LPCTSTR GetStoredName() const { return m_strStoredName; }
  BYTE GetNumber() const { return m_number; }
  int GetKind() const { return m_kind; }
  BYTE GetOffValue() const { return m_offValue; }
  bool IsStoredScrambled() const { return m_storedScrambled != 0; }
  bool IsHidden() const { return m_hidden != 0; }

 protected:
  COptionDesc(LPCTSTR storedName, BYTE number, int kind, BYTE offValue, BOOL storedScrambled,
              BOOL hidden);

  CString m_strStoredName;
  BYTE m_number;
  int m_kind;
  BYTE m_offValue;
  BYTE m_storedScrambled;
  BYTE m_hidden;
  CString m_strDisplayName;
};

// One byte: installed when it differs from the off value.
class CToggleOption : public COptionDesc {
  DECLARE_DYNAMIC(CToggleOption)
 public:
  CToggleOption(LPCTSTR storedName, BYTE number, BYTE offValue, BOOL storedScrambled, BOOL hidden);
  BOOL IsInstalled() const override { return m_installed != 0; }
  BOOL Decode(const BYTE* area, DWORD areaSize) override;
  void Encode(BYTE* area, DWORD areaSize) const override;
  void SetInstalled(BOOL installed) override { m_installed = installed ? 1 : 0; }

 private:
  BYTE m_installed = 0;
};

// Seven bytes, big-endian: month index (0xFFFF = not installed), a 32-bit word, a byte.
class CDatedOption : public COptionDesc {
  DECLARE_DYNAMIC(CDatedOption)
 public:
  static constexpr DWORD SIZE = 7;

  CDatedOption(LPCTSTR storedName, BYTE number, BYTE offValue, BOOL storedScrambled, BOOL hidden);
  BOOL IsInstalled() const override { return m_monthIndex != 0xFFFF; }
  BOOL Decode(const BYTE* area, DWORD areaSize) override;
  void Encode(BYTE* area, DWORD areaSize) const override;
  void SetInstalled(BOOL installed) override { m_monthIndex = installed ? 0 : 0xFFFF; }

  WORD GetMonthIndex() const { return m_monthIndex; }
  DWORD GetWord() const { return m_word; }
  BYTE GetValue() const { return m_value; }

 private:
  WORD m_monthIndex = 0xFFFF;
  DWORD m_word = 0xFFFFFFFF;
  BYTE m_value = 0xFF;
};

// The names of some options are kept scrambled in the program; these turn one form
// into the other (each is the other's inverse).
CString ScrambleOptionName(const char* readable);
CString UnscrambleOptionName(const char* stored);
